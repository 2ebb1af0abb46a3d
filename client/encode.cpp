#include "encode.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace tarn {
namespace {

bool unreserved(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == '~';
}

constexpr char kHex[] = "0123456789ABCDEF";
constexpr char kLowerHex[] = "0123456789abcdef";

// Bytes one source byte takes once escaped.
size_t escaped_width(unsigned char c) {
    switch (c) {
        case '\t':
        case '\n':
        case '\r':
        case '"':
        case '\\':
            return 2;
        default:
            return c < 0x20 ? 6 : 1;
    }
}

// Appends text of n bytes to q when it fits, else marks q too long.
bool q_append(Query *q, const char *text, size_t n) {
    if (q->too_long || n > kQueryCap - 1 - q->len) {
        q->too_long = true;
        return false;
    }
    memcpy(q->text + q->len, text, n);
    q->len += n;
    q->text[q->len] = '\0';
    return true;
}

}  // namespace

void q_start(Query *q, const char *text) {
    *q = Query{};
    if (text == nullptr || *text == '\0') return;
    if (*text != '?') q_append(q, "?", 1);
    q_append(q, text, strlen(text));
}

void q_add(Query *q, const char *name, const char *value) {
    if (value == nullptr || q->too_long) return;
    size_t encoded = 0;
    for (const char *p = value; *p != '\0'; ++p)
        encoded += unreserved(static_cast<unsigned char>(*p)) ? 1 : 3;
    size_t name_len = strlen(name);
    // Separator, name, "=" and the encoded value must all fit, or none goes.
    size_t room = kQueryCap - 1 - q->len;
    if (name_len + 2 > room || encoded > room - name_len - 2) {
        q->too_long = true;
        return;
    }
    char *out = q->text + q->len;
    *out++ = q->len == 0 ? '?' : '&';
    memcpy(out, name, name_len);
    out += name_len;
    *out++ = '=';
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
    q->len = static_cast<size_t>(out - q->text);
}

size_t json_escaped_len(const char *src) {
    size_t n = 0;
    if (src != nullptr)
        for (const char *p = src; *p != '\0'; ++p)
            n += escaped_width(static_cast<unsigned char>(*p));
    return n;
}

size_t json_escape(const char *src, char *dst) {
    size_t n = 0;
    for (const char *p = src != nullptr ? src : ""; *p != '\0'; ++p) {
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
            case '\\':
                dst[n++] = '\\';
                dst[n++] = static_cast<char>(c);
                break;
            default:
                if (c < 0x20) {
                    dst[n++] = '\\';
                    dst[n++] = 'u';
                    dst[n++] = '0';
                    dst[n++] = '0';
                    dst[n++] = kLowerHex[c >> 4];
                    dst[n++] = kLowerHex[c & 0x0F];
                } else {
                    dst[n++] = static_cast<char>(c);
                }
        }
    }
    dst[n] = '\0';
    return n;
}

char *json_object(const JsonMember *members, size_t n) {
    constexpr size_t kNumberRoom = 11;  // "-2147483648"
    size_t cap = 3;                     // "{", "}" and the terminator
    for (size_t i = 0; i < n; ++i) {
        const JsonMember &m = members[i];
        // Separator, quoted name and colon, then the value.
        cap += 4 + strlen(m.name) + (m.is_number ? kNumberRoom : 2 + json_escaped_len(m.text));
    }
    auto *out = static_cast<char *>(mem_malloc(cap));
    if (out == nullptr) return nullptr;
    size_t len = 0;
    out[len++] = '{';
    for (size_t i = 0; i < n; ++i) {
        const JsonMember &m = members[i];
        len += static_cast<size_t>(
            snprintf(out + len, cap - len, "%s\"%s\":", i == 0 ? "" : ",", m.name));
        if (m.is_number) {
            len += static_cast<size_t>(snprintf(out + len, cap - len, "%d", m.number));
        } else {
            out[len++] = '"';
            len += json_escape(m.text, out + len);
            out[len++] = '"';
        }
    }
    out[len++] = '}';
    out[len] = '\0';
    return out;
}

}  // namespace tarn
