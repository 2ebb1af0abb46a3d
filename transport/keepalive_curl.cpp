#include "transport/keepalive_curl.h"

#include "transport/keepalive.h"

namespace tarn::keepalive {
namespace {

CURL *s_kept;

}  // namespace

CURL *kept_handle() {
    if (!enabled) return nullptr;
    if (s_kept == nullptr) s_kept = curl_easy_init();
    return s_kept;
}

// libcurl counts idle time in whole seconds, so a connection is dropped
// once idle_seconds + 1 have passed.
bool configure(CURL *c) {
    return curl_easy_setopt(c, CURLOPT_MAXCONNECTS, 1L) == CURLE_OK &&
           curl_easy_setopt(c, CURLOPT_MAXAGE_CONN, idle_seconds) == CURLE_OK;
}

void finish(CURL *c) {
    curl_easy_reset(c);
}

void close() {
    if (s_kept == nullptr) return;
    curl_easy_cleanup(s_kept);
    s_kept = nullptr;
}

}  // namespace tarn::keepalive
