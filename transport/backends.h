// The IO backends this library carries; default_io() picks one per platform.
#pragma once

#include "tarn_client.h"

namespace tarn {

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

}  // namespace tarn
