#include "support/test_certs.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>

#include <map>
#include <mutex>
#include <stdexcept>

namespace tarn_test {
namespace {

constexpr long kDay = 24L * 3600;

std::string pem_of(X509 *cert) {
    BIO *bio = BIO_new(BIO_s_mem());
    PEM_write_bio_X509(bio, cert);
    char *data = nullptr;
    long n = BIO_get_mem_data(bio, &data);
    std::string out(data, static_cast<size_t>(n));
    BIO_free(bio);
    return out;
}

std::string pem_of(EVP_PKEY *key) {
    BIO *bio = BIO_new(BIO_s_mem());
    PEM_write_bio_PrivateKey(bio, key, nullptr, nullptr, 0, nullptr, nullptr);
    char *data = nullptr;
    long n = BIO_get_mem_data(bio, &data);
    std::string out(data, static_cast<size_t>(n));
    BIO_free(bio);
    return out;
}

bool add_ext(X509 *cert, X509 *issuer, int nid, const char *value) {
    X509V3_CTX v3;
    X509V3_set_ctx_nodb(&v3);
    X509V3_set_ctx(&v3, issuer, cert, nullptr, nullptr, 0);
    X509_EXTENSION *ext = X509V3_EXT_conf_nid(nullptr, &v3, nid, value);
    bool ok = ext != nullptr && X509_add_ext(cert, ext, -1) == 1;
    X509_EXTENSION_free(ext);
    return ok;
}

// Issues a certificate for name (a SAN list); self-signed when issuer is
// null, which makes it a CA when is_ca.
TlsIdentity issue(const char *cn, const char *san, bool is_ca, bool expired,
                  const TlsIdentity *issuer, long serial) {
    EVP_PKEY *key = EVP_EC_gen("P-256");
    X509 *cert = X509_new();
    X509 *issuer_cert = nullptr;
    EVP_PKEY *issuer_key = nullptr;
    if (issuer != nullptr) {
        BIO *c =
            BIO_new_mem_buf(issuer->cert_pem.data(), static_cast<int>(issuer->cert_pem.size()));
        BIO *k = BIO_new_mem_buf(issuer->key_pem.data(), static_cast<int>(issuer->key_pem.size()));
        issuer_cert = PEM_read_bio_X509(c, nullptr, nullptr, nullptr);
        issuer_key = PEM_read_bio_PrivateKey(k, nullptr, nullptr, nullptr);
        BIO_free(c);
        BIO_free(k);
    }
    bool ok = key != nullptr && cert != nullptr &&
              (issuer == nullptr || (issuer_cert != nullptr && issuer_key != nullptr));
    if (ok) {
        X509_set_version(cert, 2);
        ASN1_INTEGER_set(X509_get_serialNumber(cert), serial);
        X509_gmtime_adj(X509_getm_notBefore(cert), expired ? -3 * kDay : -3600);
        X509_gmtime_adj(X509_getm_notAfter(cert), expired ? -kDay : 2 * kDay);
        X509_set_pubkey(cert, key);
        X509_NAME *name = X509_get_subject_name(cert);
        X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                                   reinterpret_cast<const unsigned char *>(cn), -1, -1, 0);
        X509 *signer = issuer_cert != nullptr ? issuer_cert : cert;
        X509_set_issuer_name(cert, X509_get_subject_name(signer));
        ok =
            add_ext(cert, signer, NID_basic_constraints, is_ca ? "critical,CA:TRUE" : "CA:FALSE") &&
            add_ext(cert, signer, NID_subject_key_identifier, "hash") &&
            add_ext(cert, signer, NID_authority_key_identifier, "keyid:always") &&
            (is_ca ? add_ext(cert, signer, NID_key_usage, "critical,keyCertSign,cRLSign")
                   : add_ext(cert, signer, NID_subject_alt_name, san) &&
                         add_ext(cert, signer, NID_ext_key_usage, "serverAuth")) &&
            X509_sign(cert, issuer_key != nullptr ? issuer_key : key, EVP_sha256()) > 0;
    }
    TlsIdentity id;
    if (ok) id = {pem_of(cert), pem_of(key)};
    X509_free(issuer_cert);
    EVP_PKEY_free(issuer_key);
    X509_free(cert);
    EVP_PKEY_free(key);
    if (!ok) throw std::runtime_error("test certificates: cannot issue one");
    return id;
}

}  // namespace

const char *cert_kind_name(CertKind kind) {
    switch (kind) {
        case CertKind::kSelfSignedOtherName:
            return "self-signed, other name";
        case CertKind::kCaSigned:
            return "test CA, 127.0.0.1";
        case CertKind::kCaSignedExpired:
            return "test CA, 127.0.0.1, expired";
        case CertKind::kCaSignedOtherName:
            return "test CA, other name";
    }
    return "?";
}

const TlsIdentity &test_ca() {
    static const TlsIdentity ca = issue("tarn test CA", nullptr, true, false, nullptr, 1);
    return ca;
}

const TlsIdentity &test_identity(CertKind kind) {
    static std::mutex mu;
    static std::map<CertKind, TlsIdentity> made;
    std::lock_guard<std::mutex> lock(mu);
    auto it = made.find(kind);
    if (it != made.end()) return it->second;
    constexpr char kHere[] = "IP:127.0.0.1,DNS:localhost";
    constexpr char kOther[] = "DNS:not-this-host.example";
    TlsIdentity id;
    switch (kind) {
        case CertKind::kSelfSignedOtherName:
            id = issue("not-this-host.example", kOther, false, false, nullptr, 10);
            break;
        case CertKind::kCaSigned:
            id = issue("127.0.0.1", kHere, false, false, &test_ca(), 11);
            break;
        case CertKind::kCaSignedExpired:
            id = issue("127.0.0.1", kHere, false, true, &test_ca(), 12);
            break;
        case CertKind::kCaSignedOtherName:
            id = issue("not-this-host.example", kOther, false, false, &test_ca(), 13);
            break;
    }
    return made.emplace(kind, std::move(id)).first->second;
}

std::string pin_of(const TlsIdentity &id) {
    BIO *bio = BIO_new_mem_buf(id.cert_pem.data(), static_cast<int>(id.cert_pem.size()));
    X509 *cert = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr);
    BIO_free(bio);
    unsigned char *der = nullptr;
    int len = cert != nullptr ? i2d_PUBKEY(X509_get0_pubkey(cert), &der) : -1;
    X509_free(cert);
    if (len <= 0) throw std::runtime_error("test certificates: no public key");
    unsigned char digest[32];
    unsigned int digest_len = 0;
    EVP_Digest(der, static_cast<size_t>(len), digest, &digest_len, EVP_sha256(), nullptr);
    OPENSSL_free(der);
    unsigned char b64[64];
    int n = EVP_EncodeBlock(b64, digest, static_cast<int>(digest_len));
    return "sha256//" + std::string(reinterpret_cast<char *>(b64), static_cast<size_t>(n));
}

}  // namespace tarn_test
