// Small JSON helpers: writing reply text by hand, reading request bodies
// through yyjson without ever trusting their shape.
#pragma once

#include <yyjson.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace demo {

// Appends s as a JSON string; bytes that are not valid UTF-8 become U+FFFD,
// so a reply is always valid JSON whatever a database holds.
void json_str(std::string &out, std::string_view s);
std::string jstr(std::string_view s);
// Appends a real number; NaN and infinities become null.
void json_real(std::string &out, double v);

// {"error":"..."}
std::string error_body(std::string_view message);

// A parsed request body. Every accessor checks the kind it asks for.
class JsonDoc {
public:
    explicit JsonDoc(const std::string &text);
    ~JsonDoc();
    JsonDoc(const JsonDoc &) = delete;
    JsonDoc &operator=(const JsonDoc &) = delete;

    bool is_object() const { return yyjson_is_obj(root_); }
    yyjson_val *root() const { return root_; }
    yyjson_val *get(const char *key) const { return yyjson_obj_get(root_, key); }
    // A string member, or nothing when absent or of another kind.
    std::optional<std::string> str(const char *key) const;

private:
    yyjson_doc *doc_ = nullptr;
    yyjson_val *root_ = nullptr;
};

std::optional<std::string> str_of(yyjson_val *v);
// An integer (or an integral string such as "42"), or nothing.
std::optional<int64_t> int_of(yyjson_val *v);

}  // namespace demo
