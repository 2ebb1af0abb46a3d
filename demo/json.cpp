#include "json.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace demo {
namespace {

// Length of the valid UTF-8 sequence at s[i], or 0 when it is not one.
size_t utf8_len(std::string_view s, size_t i) {
    auto b = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
    unsigned char c = b(i);
    size_t n = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 0;
    if (n == 0 || i + n > s.size()) return 0;
    for (size_t k = 1; k < n; ++k)
        if ((b(i + k) & 0xC0) != 0x80) return 0;
    if (n == 2 && c < 0xC2) return 0;                       // overlong
    if (n == 3 && c == 0xE0 && b(i + 1) < 0xA0) return 0;   // overlong
    if (n == 3 && c == 0xED && b(i + 1) >= 0xA0) return 0;  // surrogate
    if (n == 4 && c == 0xF0 && b(i + 1) < 0x90) return 0;   // overlong
    if (n == 4 && (c > 0xF4 || (c == 0xF4 && b(i + 1) >= 0x90))) return 0;
    return n;
}

}  // namespace

void json_str(std::string &out, std::string_view s) {
    out.push_back('"');
    for (size_t i = 0; i < s.size();) {
        auto c = static_cast<unsigned char>(s[i]);
        if (c == '"' || c == '\\') {
            out.push_back('\\');
            out.push_back(static_cast<char>(c));
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c < 0x20) {
            char esc[8];
            snprintf(esc, sizeof esc, "\\u%04x", c);
            out += esc;
        } else if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else {
            size_t n = utf8_len(s, i);
            if (n == 0) {
                out += "\xEF\xBF\xBD";
                ++i;
                continue;
            }
            out.append(s.substr(i, n));
            i += n;
            continue;
        }
        ++i;
    }
    out.push_back('"');
}

std::string jstr(std::string_view s) {
    std::string out;
    json_str(out, s);
    return out;
}

void json_real(std::string &out, double v) {
    if (!std::isfinite(v)) {
        out += "null";
        return;
    }
    // The shortest of the usual precisions that reads back exactly.
    char buf[32];
    snprintf(buf, sizeof buf, "%.15g", v);
    if (strtod(buf, nullptr) != v) snprintf(buf, sizeof buf, "%.17g", v);
    out += buf;
}

std::string error_body(std::string_view message) {
    return "{\"error\":" + jstr(message) + "}";
}

JsonDoc::JsonDoc(const std::string &text) {
    doc_ = yyjson_read(text.data(), text.size(), 0);
    root_ = doc_ != nullptr ? yyjson_doc_get_root(doc_) : nullptr;
}

JsonDoc::~JsonDoc() {
    yyjson_doc_free(doc_);
}

std::optional<std::string> JsonDoc::str(const char *key) const {
    return is_object() ? str_of(get(key)) : std::nullopt;
}

std::optional<std::string> str_of(yyjson_val *v) {
    if (!yyjson_is_str(v)) return std::nullopt;
    return std::string(yyjson_get_str(v), yyjson_get_len(v));
}

std::optional<int64_t> int_of(yyjson_val *v) {
    if (yyjson_is_sint(v)) return yyjson_get_sint(v);
    if (yyjson_is_uint(v)) {
        uint64_t u = yyjson_get_uint(v);
        if (u > static_cast<uint64_t>(INT64_MAX)) return std::nullopt;
        return static_cast<int64_t>(u);
    }
    if (yyjson_is_str(v) && yyjson_get_len(v) > 0 && yyjson_get_len(v) < 20) {
        const char *s = yyjson_get_str(v);
        char *end = nullptr;
        long long n = strtoll(s, &end, 10);
        if (end != nullptr && *end == '\0') return n;
    }
    return std::nullopt;
}

}  // namespace demo
