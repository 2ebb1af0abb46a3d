// What the libcurl backend adds for the session's trace and time limit.
#pragma once

#include <curl/curl.h>

#include "transport/exchange_limits.h"
#include "transport/trace.h"

namespace tarn::curl_hooks {

// Error text always, and libcurl's own trace when the sink is set. errbuf
// holds CURL_ERROR_SIZE bytes and outlives the handle's transfers; sink
// outlives them too.
bool attach(CURL *c, char *errbuf, const trace::Sink *sink);

// Bounds the next transfer by what is left of the time limit. False when
// nothing is left.
bool apply_deadline(CURL *c, const limits::Clock &clock);

// Traces why a transfer failed: libcurl's text, or the idle limit that
// ended a stalled one.
void trace_failure(const trace::Sink &sink, CURLcode code, const char *errbuf, bool stalled);

}  // namespace tarn::curl_hooks
