// libcurl's side of the trace and the time limit, and its version.
#include "transport/curl_hooks.h"

#include <cstdio>
#include <string_view>

#include "transport/backends.h"
#include "transport/exchange_limits.h"
#include "transport/trace.h"

namespace tarn {

const char *backend_label() {
    static char label[64];
    if (label[0] == '\0') {
        const curl_version_info_data *info = curl_version_info(CURLVERSION_NOW);
        snprintf(label, sizeof label, "libcurl/%s", info != nullptr ? info->version : "unknown");
    }
    return label;
}

}  // namespace tarn

namespace tarn::curl_hooks {

namespace {

// Header blocks and libcurl's notes; body bytes and TLS records are left out.
int on_debug(CURL * /*c*/, curl_infotype type, char *data, size_t size, void * /*p*/) {
    std::string_view text(data, size);
    switch (type) {
        case CURLINFO_TEXT:
            trace::lines(trace::kInfo, text);
            break;
        case CURLINFO_HEADER_OUT:
            trace::lines(trace::kSent, text);
            break;
        case CURLINFO_HEADER_IN:
            trace::lines(trace::kReceived, text);
            break;
        default:
            break;
    }
    return 0;
}

}  // namespace

bool attach(CURL *c, char *errbuf) {
    errbuf[0] = '\0';
    bool ok = curl_easy_setopt(c, CURLOPT_ERRORBUFFER, errbuf) == CURLE_OK;
    if (!trace::on()) return ok;
    return ok && curl_easy_setopt(c, CURLOPT_DEBUGFUNCTION, on_debug) == CURLE_OK &&
           curl_easy_setopt(c, CURLOPT_VERBOSE, 1L) == CURLE_OK;
}

bool apply_deadline(CURL *c) {
    if (!limits::active()) return true;
    long left = limits::remaining_ms();
    if (left <= 0) return false;
    return curl_easy_setopt(c, CURLOPT_TIMEOUT_MS, left) == CURLE_OK;
}

void trace_failure(CURLcode code, const char *errbuf, bool stalled) {
    if (!trace::on()) return;
    if (stalled)
        trace::line(trace::kInfo, "no data moved within the idle limit");
    else
        trace::linef(trace::kInfo, "libcurl error %d: %s", static_cast<int>(code),
                     errbuf[0] != '\0' ? errbuf : curl_easy_strerror(code));
}

}  // namespace tarn::curl_hooks
