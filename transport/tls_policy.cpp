// Parsing a TLS policy and formatting a key pin.
#include "transport/tls_policy.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <string>

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

// One block's base64 text, spread over its lines: whole quanta, padding
// only at the end, and a first byte that opens a DER sequence, as every
// certificate does.
bool valid_der_base64(const std::string &b64) {
    if (b64.empty() || b64.size() % 4 != 0) return false;
    size_t pad = 0;
    for (size_t i = 0; i < b64.size(); ++i) {
        if (b64[i] == '=') {
            ++pad;
            continue;
        }
        if (pad != 0 || !is_base64(b64[i])) return false;
    }
    if (pad > 2) return false;
    auto value = [](char c) -> unsigned {
        if (c >= 'A' && c <= 'Z') return static_cast<unsigned>(c - 'A');
        if (c >= 'a' && c <= 'z') return static_cast<unsigned>(c - 'a' + 26);
        if (c >= '0' && c <= '9') return static_cast<unsigned>(c - '0' + 52);
        return c == '+' ? 62 : 63;
    };
    return ((value(b64[0]) << 2) | (value(b64[1]) >> 4)) == 0x30;
}

// A readable regular file with at least one well-formed certificate block.
// The bundle is read up to its first such block.
bool holds_pem_certificate(const char *path) {
    struct stat st {};
    if (stat(path, &st) != 0 || (st.st_mode & S_IFMT) != S_IFREG) return false;
    FILE *f = fopen(path, "rb");
    if (f == nullptr) return false;
    constexpr char kBegin[] = "-----BEGIN CERTIFICATE-----";
    constexpr char kEnd[] = "-----END CERTIFICATE-----";
    char line[512];
    bool inside = false;
    bool found = false;
    std::string b64;
    while (!found && fgets(line, sizeof line, f) != nullptr) {
        size_t n = strlen(line);
        bool whole = n > 0 && line[n - 1] == '\n';
        while (n > 0 && (line[n - 1] == '\n' || line[n - 1] == '\r' || line[n - 1] == ' ' ||
                         line[n - 1] == '\t'))
            line[--n] = '\0';
        if (!whole && !feof(f)) {
            inside = false;  // no line of a block is this long
            continue;
        }
        if (strcmp(line, kBegin) == 0) {
            inside = true;
            b64.clear();
        } else if (inside && strcmp(line, kEnd) == 0) {
            found = valid_der_base64(b64);
            inside = false;
        } else if (inside) {
            b64.append(line, n);
        }
    }
    fclose(f);
    return found;
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
        // A bundle without a certificate would fail every request later on.
        if (!holds_pem_certificate(path)) return false;
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
