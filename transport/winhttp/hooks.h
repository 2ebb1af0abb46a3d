// What the WinHTTP backend adds for the session's trace and time limit.
#pragma once

#include <windows.h>
#include <winhttp.h>

#include "transport/exchange_limits.h"
#include "transport/trace.h"

namespace tarn::winhttp_hooks {

// Lowers the handle's four timeouts to what is left of the time limit.
// False when nothing is left.
bool apply_deadline(HINTERNET h, const limits::Clock &clock);

// Traces each redirect WinHTTP follows on this request to sink, which
// outlives the request; the request's context value is then the sink.
void watch_redirects(HINTERNET request, const trace::Sink *sink);

// The request line and headers as sent, and the reply's status line and
// headers as received.
void trace_sent(const trace::Sink &sink, HINTERNET request);
void trace_received(const trace::Sink &sink, HINTERNET request);

// Why a step failed: WinHTTP's error code and its text.
void trace_failure(const trace::Sink &sink, const char *step, DWORD error);

}  // namespace tarn::winhttp_hooks
