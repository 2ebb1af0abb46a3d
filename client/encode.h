// Encoders that carry caller text onto the wire.
#pragma once

#include <cstddef>

namespace tarn {

// Appends "?name=value" or "&name=value" to a kQueryCap-byte query buffer,
// percent-encoding every byte but A-Z a-z 0-9 - . _ ~. A null value appends
// nothing; the buffer is cut silently at 3071 characters.
void q_add(char *query, const char *name, const char *value);

// Writes `src` as the content of a JSON string literal into dst (capacity
// cap), stopping before any byte once fewer than 8 bytes of room remain.
// dst is always NUL-terminated when cap > 0.
void json_escape(const char *src, char *dst, size_t cap);

// Room json_escape needs to escape n source bytes without cutting.
inline size_t json_escape_room(size_t n) {
    return n * 6 + 8;
}

}  // namespace tarn
