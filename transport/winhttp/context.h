// A session's WinHTTP context: the session handle kept between calls with
// keep-alive on (its connection pool keeps the connection and TLS session),
// what the keep-alive decisions need to know about it, and the event an
// abort sets to end the caller's wait.
#pragma once

#include <windows.h>
#include <winhttp.h>

#include "transport/backend.h"
#include "transport/handover.h"
#include "transport/wire.h"

namespace tarn::backend {

struct Context {
    Env *env = nullptr;
    HANDLE wake = nullptr;     // set by the abort while a call waits
    HINTERNET kept = nullptr;  // keep-alive's session, made on first use
    ULONGLONG last_use = 0;    // when a call on it last ended
    // The origin of the kept session's last reply; empty when none.
    wchar_t last_host[wire::kHostUnits] = L"";
    INTERNET_PORT last_port = 0;
    bool last_https = false;
    handover::Note note;
};

}  // namespace tarn::backend

namespace tarn::winhttp {

// A new session handle, with automatic proxy configuration where the
// system has it; null on failure.
HINTERNET open_session();

// The kept session when keep-alive is on, opened when there is none or it
// has been idle for longer than idle_seconds; else null.
HINTERNET kept_session(backend::Context *ctx);

// Ends a call on the kept session: its idle time starts now.
void finish(backend::Context *ctx);

// Notes the origin a call on the kept session got a reply from.
void served(backend::Context *ctx, const wchar_t *host, INTERNET_PORT port, bool https);

// Whether a call on the kept session that failed sending or awaiting the
// reply with this error is sent once more: only when the connection was
// closed (no reply byte came) and the session's last reply came from the
// same origin, so that the pooled connection it found was a kept one.
// Windows reports a connection closed before any reply byte as
// ERROR_WINHTTP_CONNECTION_ERROR; Wine reports it, and a reply cut inside
// its status line, alike as an invalid response, which is never resent.
bool may_resend(const backend::Context *ctx, const wchar_t *host, INTERNET_PORT port, bool https,
                DWORD error);

// Forgets the kept session without closing it, for a call that was left
// running on it: that call closes it when it ends.
void disown_kept(backend::Context *ctx);

}  // namespace tarn::winhttp
