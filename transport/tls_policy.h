// The TLS policy the library's own backends apply to https requests. Each
// session holds its own, set through tarn_session_set_tls and read by its
// backend on every request. A transport table installed with
// tarn_session_set_io never sees it: such a table does its own TLS, or none.
#pragma once

#include <cstddef>

namespace tarn::tls {

enum class Mode {
    kAny,     // every certificate accepted
    kSystem,  // chain against the platform's trust store, host name checked
    kCa,      // chain against a PEM bundle, host name checked
    kPin,     // the server's public key must hash to the pin; nothing else checked
};

constexpr size_t kArgCap = 1024;
// "sha256//" and the base64 of 32 bytes.
constexpr size_t kPinLen = 8 + 44;

struct Policy {
    Mode mode = Mode::kAny;
    char arg[kArgCap] = "";  // kCa: the bundle's path; kPin: "sha256//BASE64"
};

constexpr char kRejected[] = "server certificate rejected";
constexpr char kUnsupported[] = "tls policy not supported on this platform";

// Parses "any", "system", "ca:PATH" or "pin:sha256//BASE64"; null and ""
// are "any". Returns false for anything else.
bool parse(const char *text, Policy *out);

// "sha256//" and the base64 of the SHA-256 digest of a DER-encoded
// SubjectPublicKeyInfo, into out (at least kPinLen + 1 bytes).
void format_pin(const unsigned char digest[32], char *out);

}  // namespace tarn::tls
