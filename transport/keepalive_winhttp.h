// The WinHTTP backend's kept session handle: its connection pool keeps the
// connection (and TLS session) between calls.
#pragma once

#include <windows.h>
#include <winhttp.h>

namespace tarn::keepalive {

// The kept session when keep-alive is on, opened with open() when there is
// none or it has been idle for longer than idle_seconds; else null.
HINTERNET kept_session(HINTERNET (*open)());

// Ends a call on the kept session: its idle time starts now.
void finish();

}  // namespace tarn::keepalive
