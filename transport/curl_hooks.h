// What the libcurl backend adds for the caller's trace and time limit.
#pragma once

#include <curl/curl.h>

namespace tarn::curl_hooks {

// Error text always, and libcurl's own trace when a sink is set. errbuf
// holds CURL_ERROR_SIZE bytes and outlives the handle's transfers.
bool attach(CURL *c, char *errbuf);

// Bounds the next transfer by what is left of the caller's time limit.
// False when nothing is left.
bool apply_deadline(CURL *c);

// Traces why a transfer failed: libcurl's text, or the idle limit that
// ended a stalled one.
void trace_failure(CURLcode code, const char *errbuf, bool stalled);

}  // namespace tarn::curl_hooks
