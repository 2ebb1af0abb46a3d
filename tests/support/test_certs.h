// Certificates made in the test: a throwaway CA and server certificates
// with and without its signature, for the right and the wrong name, in
// date and expired.
#pragma once

#include <string>

namespace tarn_test {

// A certificate and its private key, PEM-encoded.
struct TlsIdentity {
    std::string cert_pem;
    std::string key_pem;
};

enum class CertKind {
    kSelfSignedOtherName,  // self-signed, for a host nobody connects to
    kCaSigned,             // the test CA's, for 127.0.0.1 and localhost
    kCaSignedExpired,      // the same, its validity ended yesterday
    kCaSignedOtherName,    // the test CA's, for another host name
};

const char *cert_kind_name(CertKind kind);

// One test CA per process; every identity has a key of its own.
const TlsIdentity &test_ca();
const TlsIdentity &test_identity(CertKind kind);

// "sha256//" and the base64 SHA-256 of the certificate's public key.
std::string pin_of(const TlsIdentity &id);

}  // namespace tarn_test
