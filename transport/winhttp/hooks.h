// What the WinHTTP backend adds for the caller's trace and time limit.
#pragma once

#include <windows.h>
#include <winhttp.h>

namespace tarn::winhttp_hooks {

// Lowers the handle's four timeouts to what is left of the caller's time
// limit. False when nothing is left.
bool apply_deadline(HINTERNET h);

// Traces each redirect WinHTTP follows on this request.
void watch_redirects(HINTERNET request);

// The request line and headers as sent, and the reply's status line and
// headers as received.
void trace_sent(HINTERNET request);
void trace_received(HINTERNET request);

// Why a step failed: WinHTTP's error code and its text.
void trace_failure(const char *step, DWORD error);

}  // namespace tarn::winhttp_hooks
