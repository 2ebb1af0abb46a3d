// What every backend shares: the header-block walk and the body buffer.
#pragma once

#include <cstddef>

namespace tarn::wire {

// Long enough for "Authorization: Bearer " and the longest token the
// client keeps (8191 bytes).
constexpr size_t kMaxHeaderLine = 22 + 8191;
constexpr size_t kReadChunk = 65536;
// The libcurl backend's read size for a body handed on as it arrives.
constexpr size_t kStreamReadChunk = 512 * 1024;

// The URL buffers of the Windows backend, in UTF-16 units with the
// terminator; the libcurl backend holds URLs to the same limits.
constexpr size_t kUrlUnits = 4096;
constexpr size_t kHostUnits = 1023;
constexpr size_t kPathUnits = 3075;

// Failure texts both backends give. They name the WinHTTP step that
// failed, so a caller sees the same message whichever backend ran.
constexpr char kOpenFailed[] = "WinHttpOpen failed";
constexpr char kConnectFailed[] = "WinHttpConnect failed";
constexpr char kOpenRequestFailed[] = "WinHttpOpenRequest failed";
constexpr char kSendFailed[] = "WinHttpSendRequest failed";
constexpr char kReceiveFailed[] = "WinHttpReceiveResponse failed";
constexpr char kStatusFailed[] = "WinHttpQueryHeaders status failed";
constexpr char kReadFailed[] = "WinHttpReadData failed";
constexpr char kOutOfMemory[] = "out of memory";
constexpr char kAborted[] = "aborted";
constexpr char kStopped[] = "stopped by the reader";
constexpr char kInvalidUrl[] = "invalid url";
constexpr char kUnsupportedScheme[] = "unsupported url scheme";
constexpr char kUrlConversionFailed[] = "url conversion failed";

// Calls add(line, len, ctx) for each header line the backend must send:
// lines are split on "\n"; a line of 0 or more than kMaxHeaderLine bytes
// is skipped; one trailing "\r" is removed; a line left empty is skipped.
// The line is NUL-terminated at line[len] and valid only during the call.
void walk_header_lines(const char *block, void (*add)(const char *line, size_t len, void *ctx),
                       void *ctx);

// Response body: capacity 65536, then doubling; always NUL-terminated once
// anything was appended.
struct BodyBuffer {
    char *data = nullptr;
    size_t len = 0;
    size_t cap = 0;
};

// Appends n bytes. Returns false, leaving the buffer as it was, when it
// cannot grow. Heap use goes through tarn::mem_malloc and mem_realloc.
bool body_append(BodyBuffer *b, const char *bytes, size_t n);

// Hands the body out as a malloc'd NUL-terminated text (a one-byte buffer
// for an empty body) and empties b. Returns null when that buffer cannot
// be allocated.
char *body_take(BodyBuffer *b);

void body_free(BodyBuffer *b);

// A malloc'd copy of a fixed message; null when allocation fails.
char *dup_message(const char *msg);

}  // namespace tarn::wire
