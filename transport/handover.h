// Bodies the library's own backends hand to the core: the core adopts the
// buffer as its result text instead of copying it, and learns its length
// and capacity without measuring it.
#pragma once

#include <cstddef>

#include "transport/wire.h"

namespace tarn::handover {

// Room kept after a body's terminator where the size is known in advance,
// so the core can parse the text in place (the JSON reader needs 4 bytes
// after the text, the terminator being the first).
constexpr size_t kSlack = 4;

// The body a backend handed out last, kept by the backend's context.
struct Note {
    const char *data = nullptr;
    size_t len = 0;
    size_t cap = 0;
};

// Hands b out like wire::body_take and notes the buffer for take().
char *give(Note *kept, wire::BodyBuffer *b);

// True when buf is the body give() handed out last, with its byte length
// (terminator not counted) and its capacity; the note is forgotten either
// way.
bool take(Note *kept, const char *buf, size_t *len, size_t *cap);

// Grows b to hold a body of n bytes and the slack, when n is a plausible
// Content-Length; a body that turns out longer still grows by doubling.
void reserve(wire::BodyBuffer *b, long long n);

}  // namespace tarn::handover
