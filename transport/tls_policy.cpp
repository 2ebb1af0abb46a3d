// Parsing a TLS policy and formatting a key pin.
#include "transport/tls_policy.h"

#include <cstdio>
#include <cstring>

namespace tarn::tls {
namespace {

bool is_base64(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' ||
           c == '/';
}

// Exactly one SHA-256 pin: 43 base64 characters and the one "=" of padding.
bool valid_pin(const char *pin) {
    if (strncmp(pin, "sha256//", 8) != 0 || strlen(pin) != kPinLen) return false;
    for (size_t i = 8; i < kPinLen - 1; ++i)
        if (!is_base64(pin[i])) return false;
    return pin[kPinLen - 1] == '=';
}

}  // namespace

bool parse(const char *text, Policy *out) {
    *out = Policy{};
    if (text == nullptr || *text == '\0' || strcmp(text, "any") == 0) return true;
    if (strcmp(text, "system") == 0) {
        out->mode = Mode::kSystem;
        return true;
    }
    if (strncmp(text, "ca:", 3) == 0) {
        const char *path = text + 3;
        if (*path == '\0' || strlen(path) >= kArgCap) return false;
        // A bundle that cannot be read would fail every request later on.
        FILE *f = fopen(path, "rb");
        if (f == nullptr) return false;
        fclose(f);
        out->mode = Mode::kCa;
        snprintf(out->arg, kArgCap, "%s", path);
        return true;
    }
    if (strncmp(text, "pin:", 4) == 0 && valid_pin(text + 4)) {
        out->mode = Mode::kPin;
        snprintf(out->arg, kArgCap, "%s", text + 4);
        return true;
    }
    return false;
}

void format_pin(const unsigned char digest[32], char *out) {
    static constexpr char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    char *p = out + snprintf(out, kPinLen + 1, "sha256//");
    for (size_t i = 0; i < 32; i += 3) {
        unsigned v = static_cast<unsigned>(digest[i]) << 16;
        if (i + 1 < 32) v |= static_cast<unsigned>(digest[i + 1]) << 8;
        if (i + 2 < 32) v |= digest[i + 2];
        *p++ = kAlphabet[(v >> 18) & 63];
        *p++ = kAlphabet[(v >> 12) & 63];
        *p++ = i + 1 < 32 ? kAlphabet[(v >> 6) & 63] : '=';
        *p++ = i + 2 < 32 ? kAlphabet[v & 63] : '=';
    }
    *p = '\0';
}

}  // namespace tarn::tls
