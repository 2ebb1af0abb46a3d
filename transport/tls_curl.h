// The libcurl backend's side of the TLS policy (tls_curl.cpp).
#pragma once

#include <curl/curl.h>

namespace tarn::tls {

// Sets the handle's certificate checks from the current policy.
bool apply_curl(CURL *c);

// Whether a failed transfer was stopped by the certificate checks.
bool rejected(CURLcode code);

}  // namespace tarn::tls
