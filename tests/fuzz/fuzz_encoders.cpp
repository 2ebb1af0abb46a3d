// The two encoders: query pairs and JSON string members. Each result must
// decode back to the input exactly, or the value must be refused whole.
#include <yyjson.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "client/encode.h"

namespace {

int hex(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool unreserved(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == '~';
}

// Decodes "name=value" pairs from a query text back to the raw values.
std::string decode(const char *encoded, size_t n) {
    std::string out;
    for (size_t i = 0; i < n; ++i) {
        auto c = static_cast<unsigned char>(encoded[i]);
        if (c == '%') {
            if (i + 2 >= n) abort();
            int hi = hex(encoded[i + 1]);
            int lo = hex(encoded[i + 2]);
            if (hi < 0 || lo < 0) abort();
            out += static_cast<char>(hi * 16 + lo);
            i += 2;
        } else if (unreserved(c)) {
            out += static_cast<char>(c);
        } else {
            abort();  // a byte that should have been escaped
        }
    }
    return out;
}

void check_query(const std::string &first, const std::string &second) {
    tarn::Query q;
    tarn::q_add(&q, "a", first.c_str());
    if (q.len != strlen(q.text) || q.len > 3071) abort();
    if (!q.too_long) {
        if (strncmp(q.text, "?a=", 3) != 0) abort();
        if (decode(q.text + 3, q.len - 3) != first) abort();
    }
    const std::string before = q.text;
    bool was_too_long = q.too_long;
    tarn::q_add(&q, "b", second.c_str());
    if (q.len != strlen(q.text) || q.len > 3071) abort();
    // A pair goes in whole or not at all.
    if (q.too_long) {
        if (q.text != before) abort();
    } else {
        if (was_too_long) abort();
        if (before.size() + 3 > q.len || q.text[before.size()] != (before.empty() ? '?' : '&'))
            abort();
        if (decode(q.text + before.size() + 3, q.len - before.size() - 3) != second) abort();
    }
}

void check_json(const std::string &text) {
    const tarn::JsonMember members[] = {tarn::json_text("t", text.c_str()),
                                        tarn::json_number("n", static_cast<int>(text.size()))};
    char *body = tarn::json_object(members, 2);
    if (body == nullptr) abort();
    size_t escaped = tarn::json_escaped_len(text.c_str());
    // {"t":"..","n":N}
    if (strlen(body) != 13 + escaped + std::to_string(text.size()).size()) abort();
    // Invalid UTF-8 passes through as bytes: read it back as such.
    yyjson_doc *doc = yyjson_read(body, strlen(body), YYJSON_READ_ALLOW_INVALID_UNICODE);
    if (doc == nullptr) abort();
    yyjson_val *t = yyjson_obj_get(yyjson_doc_get_root(doc), "t");
    if (!yyjson_is_str(t) || std::string(yyjson_get_str(t), yyjson_get_len(t)) != text) abort();
    yyjson_doc_free(doc);
    free(body);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    // Two texts, split at the first NUL; each stops where a C caller's would.
    std::string all(reinterpret_cast<const char *>(data), size);
    size_t cut = all.find('\0');
    std::string first = all.substr(0, cut);
    std::string second = cut == std::string::npos ? "" : all.substr(cut + 1);
    second = second.substr(0, second.find('\0'));
    check_query(first, second);
    check_json(first);
    return 0;
}
