// Encoders that carry caller text onto the wire, whole or not at all.
#pragma once

#include <cstddef>

#include "state.h"

namespace tarn {

// A query string under construction: "" or "?name=value&...", at most
// kQueryCap - 1 characters. A pair that does not fit is never cut: the
// query is marked too long and takes nothing more.
struct Query {
    char text[kQueryCap] = "";
    size_t len = 0;
    bool too_long = false;
};

// Starts q with a caller's query text; a leading "?" is optional.
void q_start(Query *q, const char *text);

// Appends "?name=value" or "&name=value", percent-encoding every byte but
// A-Z a-z 0-9 - . _ ~. A null value appends nothing.
void q_add(Query *q, const char *name, const char *value);

// Bytes json_escape writes for src, without the terminator.
size_t json_escaped_len(const char *src);

// Writes src (null counts as "") as the content of a JSON string literal,
// NUL-terminated, into dst of at least json_escaped_len(src) + 1 bytes.
// Returns the bytes written, without the terminator.
size_t json_escape(const char *src, char *dst);

// One member of a JSON object: a string (null text counts as "") or a number.
struct JsonMember {
    const char *name;
    const char *text;
    bool is_number;
    int number;
};

inline JsonMember json_text(const char *name, const char *text) {
    return {name, text, false, 0};
}

inline JsonMember json_number(const char *name, int number) {
    return {name, nullptr, true, number};
}

// {"name":value,...} with every text escaped whole, in a buffer from
// mem_malloc (release with free()); null when that buffer cannot be had.
char *json_object(const JsonMember *members, size_t n);

}  // namespace tarn
