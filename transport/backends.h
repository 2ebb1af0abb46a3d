// The IO backends this library carries; default_io() picks one per platform.
#pragma once

#include "tarn_client.h"

namespace tarn {

// The table installed when the caller set none.
const tarn_client_io *default_io();

// libcurl, on every platform but Windows (io_curl.cpp).
extern const tarn_client_io drumvale_io_curl;
// WinHTTP, on Windows (io_winhttp.cpp).
extern const tarn_client_io drumvale_io_winhttp;

// The default backend and its version, as "libcurl/7.88.1" or "WinHTTP".
const char *backend_label();

// Idle limits of the libcurl backend, in milliseconds. They are variables
// only so that tests can shorten them; nothing else writes them.
struct CurlTimeouts {
    long connect_ms;  // name resolution and TCP connect together
    long send_ms;     // longest pause while the request goes out
    long receive_ms;  // longest pause while waiting for or reading the reply
};
extern CurlTimeouts curl_timeouts;

// WinHTTP's per-step limits, in milliseconds, as WinHttpSetTimeouts takes
// them. Variables only so that tests can shorten them.
struct WinHttpTimeouts {
    int resolve_ms;
    int connect_ms;
    int send_ms;
    int receive_ms;
    int response_ms;  // whole response head; 0 leaves WinHTTP's own limit
};
extern WinHttpTimeouts winhttp_timeouts;

}  // namespace tarn
