#include "transport/keepalive_winhttp.h"

#include "transport/keepalive.h"

namespace tarn::keepalive {
namespace {

HINTERNET s_session;
ULONGLONG s_last_use;

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

void close() {
    if (s_session == nullptr) return;
    WinHttpCloseHandle(s_session);
    s_session = nullptr;
}

}  // namespace tarn::keepalive
