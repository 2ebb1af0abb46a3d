// The WinHTTP backend's side of the TLS policy (tls.cpp).
#pragma once

#include <windows.h>
#include <winhttp.h>

#include <memory>

#include "transport/tls_policy.h"

namespace tarn::tls {

class Gate;

// What one request's certificate check needs and learns.
struct WinCheck {
    WinCheck();
    ~WinCheck();
    WinCheck(const WinCheck &) = delete;
    WinCheck &operator=(const WinCheck &) = delete;

    const Policy *policy = nullptr;             // the session's, for this request
    std::unique_ptr<Gate> gate;                 // the relay the session goes through
    const wchar_t *host = nullptr;              // the name "ca:" checks the certificate for
    char *probe = nullptr;                      // when set: store the pin here, send nothing
    WINHTTP_STATUS_CALLBACK chained = nullptr;  // the request's callback before ours
    DWORD_PTR chained_context = 0;              // and the context value it was given
    bool rejected = false;                      // the check refused the certificate
};

// Whether the policy checks certificates in the callback, so that https
// sessions must go through open_gated_session.
bool gated(const Policy &policy);

// A session whose connections pass the check's relay; null on failure.
HINTERNET open_gated_session(const wchar_t *agent, const wchar_t *host, WinCheck *check);

// Sets the check's policy's security flags on an https request and, when
// gated, its callback. Returns false when the check cannot be armed; the request
// must then not be sent.
bool arm_winhttp(HINTERNET request, const wchar_t *host, WinCheck *check);

// The message for a failed send or receive: the policy's refusal when the
// certificate caused it, else fallback.
const char *winhttp_failure(const WinCheck &check, DWORD error, const char *fallback);

}  // namespace tarn::tls
