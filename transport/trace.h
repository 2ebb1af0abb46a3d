// A session's trace sink, shared by the core and the library's own
// backends. Every line passes through line(), which masks credentials, so
// no caller of it needs to.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "tarn_client.h"

namespace tarn::trace {

enum Kind : char { kInfo = '*', kSent = '>', kReceived = '<' };

struct Sink {
    tarn_client_trace_fn fn = nullptr;
    void *user_data = nullptr;

    void set(tarn_client_trace_fn f, void *data);

    // A sink is set; callers skip formatting work otherwise.
    bool on() const { return fn != nullptr; }

    // One line to the sink: "K " in front, trailing CR and LF dropped, the
    // `pwd` query value and credential header values replaced by "***".
    void line(Kind kind, std::string_view text) const;
    void linef(Kind kind, const char *fmt, ...) const
#if defined(__GNUC__)
        __attribute__((format(printf, 3, 4)))
#endif
        ;

    // Each non-empty line of a block separated by "\n" or "\r\n".
    void lines(Kind kind, std::string_view block) const;
};

// The masking that line() applies.
std::string mask(std::string_view text);

}  // namespace tarn::trace
