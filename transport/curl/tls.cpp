// The TLS policy on the libcurl backend, and reading a server's pin.
#include "transport/curl/tls.h"

#include <curl/curl.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <strings.h>

#include <cstring>

#include "transport/backend.h"
#include "transport/curl/context.h"
#include "transport/wire.h"

namespace tarn::tls {

bool apply_curl(CURL *c, const Policy &p) {
    bool verify = p.mode == Mode::kSystem || p.mode == Mode::kCa;
    bool ok = curl_easy_setopt(c, CURLOPT_SSL_VERIFYPEER, verify ? 1L : 0L) == CURLE_OK &&
              curl_easy_setopt(c, CURLOPT_SSL_VERIFYHOST, verify ? 2L : 0L) == CURLE_OK;
    if (p.mode == Mode::kCa) {
        // The bundle alone: no directory of system certificates beside it.
        ok = ok && curl_easy_setopt(c, CURLOPT_CAINFO, p.arg) == CURLE_OK &&
             curl_easy_setopt(c, CURLOPT_CAPATH, nullptr) == CURLE_OK;
    }
    // libcurl compares the key during the handshake, before the request.
    if (p.mode == Mode::kPin)
        ok = ok && curl_easy_setopt(c, CURLOPT_PINNEDPUBLICKEY, p.arg) == CURLE_OK;
    return ok;
}

bool rejected(CURLcode code) {
    switch (code) {
        case CURLE_PEER_FAILED_VERIFICATION:
        case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
        case CURLE_SSL_CACERT_BADFILE:
        case CURLE_SSL_INVALIDCERTSTATUS:
        case CURLE_SSL_ISSUER_ERROR:
        case CURLE_SSL_CRL_BADFILE:
            return true;
        default:
            return false;
    }
}

namespace {

// The pin of the certificate libcurl reports as PEM text.
bool pin_of_pem(const char *pem, char *out) {
    BIO *bio = BIO_new_mem_buf(pem, -1);
    X509 *cert = bio != nullptr ? PEM_read_bio_X509(bio, nullptr, nullptr, nullptr) : nullptr;
    unsigned char *der = nullptr;
    int len = cert != nullptr ? i2d_X509_PUBKEY(X509_get_X509_PUBKEY(cert), &der) : -1;
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int digest_len = 0;
    bool ok = len > 0 &&
              EVP_Digest(der, static_cast<size_t>(len), digest, &digest_len, EVP_sha256(),
                         nullptr) == 1 &&
              digest_len == 32;
    if (ok) format_pin(digest, out);
    OPENSSL_free(der);
    X509_free(cert);
    BIO_free(bio);
    return ok;
}

const char *pem_of_leaf(const curl_certinfo *info) {
    if (info == nullptr || info->num_of_certs < 1) return nullptr;
    for (curl_slist *l = info->certinfo[0]; l != nullptr; l = l->next)
        if (strncmp(l->data, "Cert:", 5) == 0) return l->data + 5;
    return nullptr;
}

}  // namespace

}  // namespace tarn::tls

namespace tarn::backend {

const char *fetch_pin(Env * /*env*/, const char *url, char *out) {
    if (strncasecmp(url, "https://", 8) != 0) return "tls-pin needs an https base URL";
    if (!curl::global_init()) return wire::kOpenFailed;
    CURL *c = curl_easy_init();
    if (c == nullptr) return wire::kOpenFailed;
    // Connect and handshake only: no request goes out.
    bool ok = curl_easy_setopt(c, CURLOPT_URL, url) == CURLE_OK &&
              curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L) == CURLE_OK &&
              curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "https") == CURLE_OK &&
              curl_easy_setopt(c, CURLOPT_CONNECT_ONLY, 1L) == CURLE_OK &&
              curl_easy_setopt(c, CURLOPT_CERTINFO, 1L) == CURLE_OK &&
              curl_easy_setopt(c, CURLOPT_SSL_VERIFYPEER, 0L) == CURLE_OK &&
              curl_easy_setopt(c, CURLOPT_SSL_VERIFYHOST, 0L) == CURLE_OK &&
              curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, curl_timeouts.connect_ms) == CURLE_OK;
    const char *failure = nullptr;
    if (!ok) {
        failure = wire::kOpenFailed;
    } else if (CURLcode rc = curl_easy_perform(c); rc != CURLE_OK) {
        failure = rc == CURLE_URL_MALFORMAT ? wire::kInvalidUrl : wire::kSendFailed;
    } else {
        curl_certinfo *info = nullptr;
        curl_easy_getinfo(c, CURLINFO_CERTINFO, &info);
        const char *pem = tls::pem_of_leaf(info);
        if (pem == nullptr || !tls::pin_of_pem(pem, out)) failure = "no server certificate";
    }
    curl_easy_cleanup(c);
    return failure;
}

}  // namespace tarn::backend
