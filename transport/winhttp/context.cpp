#include "transport/keepalive_winhttp.h"

#include "transport/keepalive.h"

#include <cwchar>

namespace tarn::keepalive {
namespace {

HINTERNET s_session;
ULONGLONG s_last_use;
// The origin of the kept session's last reply; empty when none.
wchar_t s_last_host[1024];
INTERNET_PORT s_last_port;
bool s_last_https;

}  // namespace

HINTERNET kept_session(HINTERNET (*open)()) {
    if (!enabled) return nullptr;
    if (s_session != nullptr &&
        GetTickCount64() - s_last_use > static_cast<ULONGLONG>(idle_seconds) * 1000)
        close();
    if (s_session == nullptr) s_session = open();
    return s_session;
}

void finish() {
    s_last_use = GetTickCount64();
}

void served(const wchar_t *host, INTERNET_PORT port, bool https) {
    if (wcslen(host) >= sizeof s_last_host / sizeof s_last_host[0]) return;
    wcscpy(s_last_host, host);
    s_last_port = port;
    s_last_https = https;
}

bool may_resend(const wchar_t *host, INTERNET_PORT port, bool https, DWORD error) {
    bool same = s_last_host[0] != L'\0' && wcscmp(s_last_host, host) == 0 && s_last_port == port &&
                s_last_https == https;
    return same && error == ERROR_WINHTTP_CONNECTION_ERROR;
}

void close() {
    s_last_host[0] = L'\0';
    if (s_session == nullptr) return;
    WinHttpCloseHandle(s_session);
    s_session = nullptr;
}

}  // namespace tarn::keepalive
