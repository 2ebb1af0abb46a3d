// Hostile server replies, one list for every backend's suite. Each case is
// the bytes a server writes (head, a filler unit repeated, tail) and how it
// ends the connection, with the outcome the backend must give.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace tarn_test {

enum class HostileEnd {
    kClose,   // orderly close after the last byte
    kReset,   // abortive close (RST) after the last byte
    kSilent,  // holds the connection open, saying nothing more
};

// A documented outcome: the failure message, or a status with its body.
struct HostileOutcome {
    // Non-null: the call fails with exactly this; "": fails handing out no
    // message (the library then reports "transport failure").
    const char *error = nullptr;
    int status = 0;
    std::string body;             // the body as a text (up to its first NUL)
    bool body_is_filler = false;  // the body is the case's filler, whole
};

struct HostileCase {
    const char *name;  // a test name: letters, digits and underscores
    std::string head;
    std::string unit;
    size_t count = 0;
    std::string tail;
    HostileEnd end = HostileEnd::kClose;
    bool tls = false;  // served over https
    // Requests the client may make in all (a redirect loop makes several).
    size_t max_requests = 1;
    HostileOutcome want;
    // Where Wine's WinHTTP gives another outcome than Windows would: why,
    // and what it gives instead.
    const char *wine_why = nullptr;
    std::optional<HostileOutcome> wine;
    size_t wine_max_requests = 0;  // 0: as max_requests
    // Not run under Wine, for this reason (Windows itself is not slowed so).
    const char *wine_not_run = nullptr;

    size_t size() const { return head.size() + unit.size() * count + tail.size(); }
    // True when text is the filler repeated count times.
    bool is_filler(const char *text, size_t len) const;
};

const std::vector<HostileCase> &hostile_cases();
const HostileCase &hostile_case(const std::string &name);

// Receive limit the suites set through the backends' test hooks, so the
// silent server is given up on quickly.
constexpr int kHostileReceiveMs = 1500;

}  // namespace tarn_test
