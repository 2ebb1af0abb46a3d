#include "wire.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "transport/heap.h"

namespace tarn::wire {

void walk_header_lines(const char *block, void (*add)(const char *line, size_t len, void *ctx),
                       void *ctx) {
    if (block == nullptr) return;
    char line[kMaxHeaderLine + 1];
    const char *p = block;
    while (*p != '\0') {
        const char *nl = strchr(p, '\n');
        size_t len = nl != nullptr ? static_cast<size_t>(nl - p) : strlen(p);
        // The bound applies before the carriage return is removed.
        if (len >= 1 && len <= kMaxHeaderLine) {
            memcpy(line, p, len);
            line[len] = '\0';
            if (line[len - 1] == '\r') line[--len] = '\0';
            if (len > 0) add(line, len, ctx);
        }
        if (nl == nullptr) break;
        p = nl + 1;
    }
}

bool body_append(BodyBuffer *b, const char *bytes, size_t n) {
    if (n >= SIZE_MAX - b->len) return false;
    size_t need = b->len + n + 1;
    size_t cap = b->cap;
    while (cap < need) {
        if (cap > SIZE_MAX / 2) return false;
        cap = cap == 0 ? kReadChunk : cap * 2;
    }
    if (cap != b->cap) {
        auto *grown = static_cast<char *>(mem_realloc(b->data, cap));
        if (grown == nullptr) return false;
        b->data = grown;
        b->cap = cap;
    }
    if (n > 0) memcpy(b->data + b->len, bytes, n);
    b->len += n;
    b->data[b->len] = '\0';
    return true;
}

char *body_take(BodyBuffer *b) {
    char *out = b->data;
    if (out == nullptr) {
        out = static_cast<char *>(mem_malloc(1));
        if (out != nullptr) out[0] = '\0';
    }
    *b = BodyBuffer{};
    return out;
}

void body_free(BodyBuffer *b) {
    free(b->data);
    *b = BodyBuffer{};
}

char *dup_message(const char *msg) {
    size_t n = strlen(msg) + 1;
    auto *copy = static_cast<char *>(mem_malloc(n));
    if (copy != nullptr) memcpy(copy, msg, n);
    return copy;
}

}  // namespace tarn::wire
