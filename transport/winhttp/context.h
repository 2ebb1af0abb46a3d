// The WinHTTP backend's kept session handle: its connection pool keeps the
// connection (and TLS session) between calls.
#pragma once

#include <windows.h>
#include <winhttp.h>

#include "transport/keepalive.h"

namespace tarn::keepalive {

// The kept session when keep-alive is on, opened with open() when there is
// none or it has been idle for longer than idle_seconds; else null.
HINTERNET kept_session(HINTERNET (*open)());

// Ends a call on the kept session: its idle time starts now.
void finish();

// Notes the origin a call on the kept session got a reply from.
void served(const wchar_t *host, INTERNET_PORT port, bool https);

// Whether a call on the kept session that failed sending or awaiting the
// reply with this error is sent once more: only when the connection was
// closed (no reply byte came) and the session's last reply came from the
// same origin, so that the pooled connection it found was a kept one.
// Windows reports a connection closed before any reply byte as
// ERROR_WINHTTP_CONNECTION_ERROR; Wine reports it, and a reply cut inside
// its status line, alike as an invalid response, which is never resent.
bool may_resend(const wchar_t *host, INTERNET_PORT port, bool https, DWORD error);

}  // namespace tarn::keepalive
