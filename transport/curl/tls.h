// The libcurl backend's side of the TLS policy (tls.cpp).
#pragma once

#include <curl/curl.h>

#include "transport/tls_policy.h"

namespace tarn::tls {

// Sets the handle's certificate checks from the policy.
bool apply_curl(CURL *c, const Policy &p);

// Whether a failed transfer was stopped by the certificate checks.
bool rejected(CURLcode code);

}  // namespace tarn::tls
