// The libcurl backend's kept easy handle: libcurl keeps the connection and
// the TLS session in it between calls.
#pragma once

#include <curl/curl.h>

namespace tarn::keepalive {

// The kept handle when keep-alive is on (made on first use), else null.
CURL *kept_handle();

// Options of a call on the kept handle: one cached connection (the last
// origin's) and none reused after idle_seconds idle.
bool configure(CURL *c);

// Ends a call on the kept handle: its options, which point at the call's
// buffers, are dropped; the connection stays.
void finish(CURL *c);

}  // namespace tarn::keepalive
