#include "encode.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "state.h"

namespace tarn {
namespace {

bool unreserved(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == '~';
}

constexpr char kHex[] = "0123456789ABCDEF";

}  // namespace

void q_add(char *query, const char *name, const char *value) {
    if (value == nullptr) return;

    size_t encoded = 0;
    for (const char *p = value; *p != '\0'; ++p)
        encoded += unreserved(static_cast<unsigned char>(*p)) ? 1 : 3;

    auto *scratch = static_cast<char *>(mem_malloc(encoded + 1));
    if (scratch == nullptr) return;
    char *out = scratch;
    for (const char *p = value; *p != '\0'; ++p) {
        auto c = static_cast<unsigned char>(*p);
        if (unreserved(c)) {
            *out++ = static_cast<char>(c);
        } else {
            *out++ = '%';
            *out++ = kHex[c >> 4];
            *out++ = kHex[c & 0x0F];
        }
    }
    *out = '\0';

    size_t len = strlen(query);
    if (len + 1 < kQueryCap) {
        snprintf(query + len, kQueryCap - len, "%s%s=%s", len == 0 ? "?" : "&", name, scratch);
    }
    free(scratch);
}

void json_escape(const char *src, char *dst, size_t cap) {
    if (cap == 0) return;
    size_t n = 0;
    if (src != nullptr) {
        for (const char *p = src; *p != '\0'; ++p) {
            // Seven bytes of slack keep the longest escape and the NUL in room.
            if (n + 7 >= cap) break;
            auto c = static_cast<unsigned char>(*p);
            switch (c) {
                case '\t':
                    dst[n++] = '\\';
                    dst[n++] = 't';
                    break;
                case '\n':
                    dst[n++] = '\\';
                    dst[n++] = 'n';
                    break;
                case '\r':
                    dst[n++] = '\\';
                    dst[n++] = 'r';
                    break;
                case '"':
                    dst[n++] = '\\';
                    dst[n++] = '"';
                    break;
                case '\\':
                    dst[n++] = '\\';
                    dst[n++] = '\\';
                    break;
                default:
                    if (c < 0x20) {
                        snprintf(dst + n, cap - n, "\\u%04x", c);
                        n += 6;
                    } else {
                        dst[n++] = static_cast<char>(c);
                    }
            }
        }
    }
    dst[n] = '\0';
}

}  // namespace tarn
