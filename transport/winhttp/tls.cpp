// The TLS policy on the WinHTTP backend, and reading a server's pin.
//
// "system" leaves WinHTTP's own checks on: they run in the handshake. "pin"
// and "ca:PATH" switch those off and check the certificate in the
// sending-request callback, after the handshake and before the request is
// written; a refusal cuts the connection at the relay the session goes
// through (tls_gate.h).
#include <winsock2.h>
// winsock2.h must come before windows.h.
#include "transport/winhttp/tls.h"

#include <wincrypt.h>
#include <ws2tcpip.h>

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "transport/backend.h"
#include "transport/winhttp/context.h"
#include "transport/winhttp/job.h"
#include "transport/winhttp/tls_gate.h"
#include "transport/wire.h"

namespace tarn::tls {
namespace {

// Untrusted issuer, wrong host name and expired dates are accepted; wrong
// key usage is not. The default, and the base of the checks made here.
constexpr DWORD kIgnoreAll = SECURITY_FLAG_IGNORE_UNKNOWN_CA |
                             SECURITY_FLAG_IGNORE_CERT_CN_INVALID |
                             SECURITY_FLAG_IGNORE_CERT_DATE_INVALID;
static_assert(kIgnoreAll == 0x3100);

// The pin of a certificate's SubjectPublicKeyInfo.
bool pin_of(PCCERT_CONTEXT cert, char *out) {
    DWORD len = 0;
    CERT_PUBLIC_KEY_INFO *spki = &cert->pCertInfo->SubjectPublicKeyInfo;
    if (!CryptEncodeObject(X509_ASN_ENCODING, X509_PUBLIC_KEY_INFO, spki, nullptr, &len))
        return false;
    auto *der = static_cast<BYTE *>(malloc(len));
    BYTE digest[32];
    DWORD digest_len = sizeof digest;
    bool ok = der != nullptr &&
              CryptEncodeObject(X509_ASN_ENCODING, X509_PUBLIC_KEY_INFO, spki, der, &len) &&
              CryptHashCertificate2(L"SHA256", 0, nullptr, der, len, digest, &digest_len) &&
              digest_len == sizeof digest;
    if (ok) format_pin(digest, out);
    free(der);
    return ok;
}

// The certificates of a PEM bundle, in a store of their own.
HCERTSTORE load_bundle(const char *path) {
    FILE *f = fopen(path, "rb");
    if (f == nullptr) return nullptr;
    std::string text;
    char buf[4096];
    for (size_t n; (n = fread(buf, 1, sizeof buf, f)) > 0;) text.append(buf, n);
    fclose(f);
    HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr);
    if (store == nullptr) return nullptr;
    static constexpr char kEnd[] = "-----END CERTIFICATE-----";
    size_t added = 0;
    for (size_t at = 0; (at = text.find("-----BEGIN CERTIFICATE-----", at)) != std::string::npos;) {
        size_t end = text.find(kEnd, at);
        if (end == std::string::npos) break;
        end += sizeof kEnd - 1;
        DWORD len = 0;
        const char *pem = text.c_str() + at;
        auto pem_len = static_cast<DWORD>(end - at);
        if (CryptStringToBinaryA(pem, pem_len, CRYPT_STRING_BASE64HEADER, nullptr, &len, nullptr,
                                 nullptr)) {
            std::string der(len, '\0');
            if (CryptStringToBinaryA(pem, pem_len, CRYPT_STRING_BASE64HEADER,
                                     reinterpret_cast<BYTE *>(der.data()), &len, nullptr,
                                     nullptr) &&
                CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING,
                                                 reinterpret_cast<const BYTE *>(der.data()), len,
                                                 CERT_STORE_ADD_ALWAYS, nullptr))
                ++added;
        }
        at = end;
    }
    if (added == 0) {
        CertCloseStore(store, 0);
        return nullptr;
    }
    return store;
}

// Whether the certificate names this IP address (4 or 16 bytes) among its
// subject alternative names.
bool names_address(PCCERT_CONTEXT cert, const BYTE *addr, DWORD len) {
    CERT_INFO *info = cert->pCertInfo;
    CERT_EXTENSION *ext =
        CertFindExtension(szOID_SUBJECT_ALT_NAME2, info->cExtension, info->rgExtension);
    CERT_ALT_NAME_INFO *names = nullptr;
    DWORD size = 0;
    if (ext == nullptr ||
        !CryptDecodeObjectEx(X509_ASN_ENCODING, X509_ALTERNATE_NAME, ext->Value.pbData,
                             ext->Value.cbData, CRYPT_DECODE_ALLOC_FLAG, nullptr, &names, &size))
        return false;
    bool found = false;
    for (DWORD i = 0; i < names->cAltEntry && !found; ++i) {
        const CERT_ALT_NAME_ENTRY &e = names->rgAltEntry[i];
        found = e.dwAltNameChoice == CERT_ALT_NAME_IP_ADDRESS && e.IPAddress.cbData == len &&
                memcmp(e.IPAddress.pbData, addr, len) == 0;
    }
    LocalFree(names);
    return found;
}

// Chain up to a root of the bundle, validity dates and host name, as the
// platform's SSL policy checks them. An IP address is matched here: Wine's
// policy knows only DNS names.
bool chain_trusted(PCCERT_CONTEXT cert, const wchar_t *host, const char *bundle) {
    std::wstring bare = host;
    if (bare.size() > 2 && bare.front() == L'[' && bare.back() == L']')
        bare = bare.substr(1, bare.size() - 2);
    BYTE addr[16];
    DWORD addr_len = 0;
    if (InetPtonW(AF_INET, bare.c_str(), addr) == 1)
        addr_len = 4;
    else if (InetPtonW(AF_INET6, bare.c_str(), addr) == 1)
        addr_len = 16;
    if (addr_len != 0 && !names_address(cert, addr, addr_len)) return false;

    HCERTSTORE roots = load_bundle(bundle);
    if (roots == nullptr) return false;
    CERT_CHAIN_ENGINE_CONFIG config{};
    config.cbSize = sizeof config;
    config.hExclusiveRoot = roots;
    HCERTCHAINENGINE engine = nullptr;
    PCCERT_CHAIN_CONTEXT chain = nullptr;
    CERT_CHAIN_PARA para{};
    para.cbSize = sizeof para;
    bool ok = CertCreateCertificateChainEngine(&config, &engine);
    if (!ok) {
        // Wine knows the record only up to hExclusiveTrustedPeople.
        config.cbSize = offsetof(CERT_CHAIN_ENGINE_CONFIG, dwExclusiveFlags);
        ok = CertCreateCertificateChainEngine(&config, &engine);
    }
    ok = ok && CertGetCertificateChain(engine, cert, nullptr, cert->hCertStore, &para, 0, nullptr,
                                       &chain);
    if (ok) {
        SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl{};
        ssl.cbSize = sizeof ssl;
        ssl.dwAuthType = AUTHTYPE_SERVER;
        ssl.pwszServerName = addr_len != 0 ? nullptr : const_cast<wchar_t *>(host);
        CERT_CHAIN_POLICY_PARA policy{};
        policy.cbSize = sizeof policy;
        policy.pvExtraPolicyPara = &ssl;
        CERT_CHAIN_POLICY_STATUS status{};
        status.cbSize = sizeof status;
        ok = CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain, &policy, &status) &&
             status.dwError == 0;
    }
    if (chain != nullptr) CertFreeCertificateChain(chain);
    if (engine != nullptr) CertFreeCertificateChainEngine(engine);
    CertCloseStore(roots, 0);
    return ok;
}

bool accept_cert(HINTERNET request, WinCheck *check) {
    PCCERT_CONTEXT cert = nullptr;
    DWORD size = sizeof cert;
    if (!WinHttpQueryOption(request, WINHTTP_OPTION_SERVER_CERT_CONTEXT, &cert, &size) ||
        cert == nullptr)
        return false;
    bool ok = false;
    char pin[kPinLen + 1];
    if (check->probe != nullptr) {
        if (pin_of(cert, pin)) snprintf(check->probe, kPinLen + 1, "%s", pin);
    } else if (check->policy->mode == Mode::kPin) {
        ok = pin_of(cert, pin) && strcmp(pin, check->policy->arg) == 0;
    } else if (check->policy->mode == Mode::kCa) {
        ok = check->host != nullptr && chain_trusted(cert, check->host, check->policy->arg);
    }
    CertFreeCertificateContext(cert);
    return ok;
}

void CALLBACK on_status(HINTERNET request, DWORD_PTR context, DWORD status, void *info, DWORD len) {
    if (context == 0) return;
    auto *check = reinterpret_cast<WinCheck *>(context);
    if (status != WINHTTP_CALLBACK_STATUS_SENDING_REQUEST) {
        // A handle has one callback: the one set before (the trace's) gets
        // the redirects it asked for.
        if (check->chained != nullptr)
            check->chained(request, check->chained_context, status, info, len);
        return;
    }
    bool pass = accept_cert(request, check);
    if (!pass) check->rejected = true;
    check->gate->decide(pass);
}

}  // namespace

WinCheck::WinCheck() = default;
WinCheck::~WinCheck() = default;

bool gated(const Policy &policy) {
    return policy.mode == Mode::kPin || policy.mode == Mode::kCa;
}

HINTERNET open_gated_session(const wchar_t *agent, const wchar_t *host, WinCheck *check) {
    check->gate = std::make_unique<Gate>();
    // Wine skips the CONNECT when the proxy's name equals the server's, so
    // the relay listens on another loopback address then.
    if (!check->gate->start(_wcsicmp(host, L"127.0.0.1") == 0 ? "127.0.0.2" : "127.0.0.1"))
        return nullptr;
    return WinHttpOpen(agent, WINHTTP_ACCESS_TYPE_NAMED_PROXY, check->gate->proxy(),
                       WINHTTP_NO_PROXY_BYPASS, 0);
}

bool arm_winhttp(HINTERNET request, const wchar_t *host, WinCheck *check) {
    const Policy &policy = *check->policy;
    DWORD flags = policy.mode == Mode::kSystem && check->probe == nullptr ? 0 : kIgnoreAll;
    WinHttpSetOption(request, WINHTTP_OPTION_SECURITY_FLAGS, &flags, sizeof flags);
    // A check that needs the relay but has none fails closed.
    if (check->gate == nullptr) return !gated(policy) && check->probe == nullptr;
    check->host = host;
    // The trace's callback, when set, keeps its own context value.
    DWORD size = sizeof check->chained_context;
    if (!WinHttpQueryOption(request, WINHTTP_OPTION_CONTEXT_VALUE, &check->chained_context, &size))
        check->chained_context = 0;
    DWORD_PTR context = reinterpret_cast<DWORD_PTR>(check);
    if (!WinHttpSetOption(request, WINHTTP_OPTION_CONTEXT_VALUE, &context, sizeof context))
        return false;
    WINHTTP_STATUS_CALLBACK before = WinHttpSetStatusCallback(
        request, on_status,
        WINHTTP_CALLBACK_STATUS_SENDING_REQUEST | WINHTTP_CALLBACK_FLAG_REDIRECT, 0);
    if (before == WINHTTP_INVALID_STATUS_CALLBACK) return false;
    check->chained = before;
    return true;
}

const char *winhttp_failure(const WinCheck &check, DWORD error, const char *fallback) {
    if (check.rejected) return kRejected;
    Mode mode = check.policy->mode;
    if (mode == Mode::kAny) return fallback;
    switch (error) {
        case ERROR_WINHTTP_SECURE_FAILURE:
        case ERROR_WINHTTP_SECURE_CERT_DATE_INVALID:
        case ERROR_WINHTTP_SECURE_CERT_CN_INVALID:
        case ERROR_WINHTTP_SECURE_INVALID_CA:
        case ERROR_WINHTTP_SECURE_INVALID_CERT:
        case ERROR_WINHTTP_SECURE_CERT_REVOKED:
        case ERROR_WINHTTP_SECURE_CERT_REV_FAILED:
        case ERROR_WINHTTP_SECURE_CERT_WRONG_USAGE:
            return kRejected;
        case ERROR_WINHTTP_SECURE_CHANNEL_ERROR:
            // Wine reports its own refusal of a certificate so.
            return mode == Mode::kSystem ? kRejected : fallback;
        default:
            return fallback;
    }
}

}  // namespace tarn::tls

namespace tarn::backend {
namespace {

struct Handles {
    HINTERNET session = nullptr;
    HINTERNET connection = nullptr;
    HINTERNET request = nullptr;

    Handles() = default;
    Handles(const Handles &) = delete;
    Handles &operator=(const Handles &) = delete;
    ~Handles() {
        if (request != nullptr) WinHttpCloseHandle(request);
        if (connection != nullptr) WinHttpCloseHandle(connection);
        if (session != nullptr) WinHttpCloseHandle(session);
    }
};

// The handshake with the pin stored and nothing sent, on the job's thread;
// the URL and the pin are the job's own.
class PinProbe : public winhttp::Job {
public:
    explicit PinProbe(const trace::Sink &sink) : Job(sink) {}

    void run() override { failure = probe(); }

    wchar_t url[wire::kUrlUnits] = L"";
    char pin[tls::kPinLen + 1] = "";
    const char *failure = nullptr;

private:
    const char *probe() {
        wchar_t host[wire::kHostUnits];
        URL_COMPONENTS parts;
        memset(&parts, 0, sizeof parts);
        parts.dwStructSize = sizeof parts;
        parts.lpszHostName = host;
        parts.dwHostNameLength = wire::kHostUnits;
        if (!WinHttpCrackUrl(url, 0, 0, &parts)) return wire::kInvalidUrl;
        if (parts.nScheme != INTERNET_SCHEME_HTTPS) return "tls-pin needs an https base URL";

        // The callback stores the pin and refuses, so the relay sends nothing on.
        const tls::Policy any;
        tls::WinCheck check;
        check.policy = &any;
        check.probe = pin;
        Handles h;  // closed before the check and its relay go
        h.session = tls::open_gated_session(L"drumvale-tarn-client/1.0", host, &check);
        if (h.session == nullptr) return wire::kOpenFailed;
        WinHttpSetTimeouts(h.session, 10000, 10000, 30000, 30000);
        h.connection = WinHttpConnect(h.session, host, parts.nPort, 0);
        if (h.connection == nullptr) return wire::kConnectFailed;
        h.request = WinHttpOpenRequest(h.connection, L"GET", L"/", nullptr, WINHTTP_NO_REFERER,
                                       WINHTTP_DEFAULT_ACCEPT_TYPES, WINHTTP_FLAG_SECURE);
        if (h.request == nullptr || !tls::arm_winhttp(h.request, host, &check))
            return wire::kOpenRequestFailed;
        if (abandoned()) return wire::kAborted;
        if (WinHttpSendRequest(h.request, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA,
                               0, 0, 0) &&
            !abandoned())
            WinHttpReceiveResponse(h.request, nullptr);
        return pin[0] != '\0' ? nullptr : wire::kSendFailed;
    }
};

}  // namespace

const char *fetch_pin(Env *env, const char *url, char *out) {
    out[0] = '\0';
    auto job = std::make_shared<PinProbe>(env->trace);
    if (MultiByteToWideChar(CP_UTF8, 0, url, -1, job->url, wire::kUrlUnits) < 1)
        return wire::kUrlConversionFailed;
    // The core lends no context here; one of its own carries the wake event.
    Context *ctx = open(env);
    if (ctx == nullptr) return wire::kOutOfMemory;
    bool finished = winhttp::run(ctx, job);
    close(ctx);
    if (!finished) return wire::kAborted;
    if (job->failure != nullptr) return job->failure;
    memcpy(out, job->pin, sizeof job->pin);
    return nullptr;
}

}  // namespace tarn::backend
