// libcurl's side of the trace and the time limit, and its version.
#include "transport/curl/hooks.h"

#include <cstdio>
#include <string_view>

#include "transport/backend.h"

namespace tarn::backend {

namespace {

struct Label {
    char text[64];
    Label() {
        const curl_version_info_data *info = curl_version_info(CURLVERSION_NOW);
        snprintf(text, sizeof text, "libcurl/%s", info != nullptr ? info->version : "unknown");
    }
};

}  // namespace

const char *label() {
    // Made once, whatever the threads, and never written again.
    static const Label made;
    return made.text;
}

}  // namespace tarn::backend

namespace tarn::curl_hooks {

namespace {

// Header blocks and libcurl's notes; body bytes and TLS records are left out.
int on_debug(CURL * /*c*/, curl_infotype type, char *data, size_t size, void *p) {
    const auto &sink = *static_cast<const trace::Sink *>(p);
    std::string_view text(data, size);
    switch (type) {
        case CURLINFO_TEXT:
            sink.lines(trace::kInfo, text);
            break;
        case CURLINFO_HEADER_OUT:
            sink.lines(trace::kSent, text);
            break;
        case CURLINFO_HEADER_IN:
            sink.lines(trace::kReceived, text);
            break;
        default:
            break;
    }
    return 0;
}

}  // namespace

bool attach(CURL *c, char *errbuf, const trace::Sink *sink) {
    errbuf[0] = '\0';
    bool ok = curl_easy_setopt(c, CURLOPT_ERRORBUFFER, errbuf) == CURLE_OK;
    if (!sink->on()) return ok;
    return ok && curl_easy_setopt(c, CURLOPT_DEBUGFUNCTION, on_debug) == CURLE_OK &&
           curl_easy_setopt(c, CURLOPT_DEBUGDATA, sink) == CURLE_OK &&
           curl_easy_setopt(c, CURLOPT_VERBOSE, 1L) == CURLE_OK;
}

bool apply_deadline(CURL *c, const limits::Clock &clock) {
    if (!clock.active()) return true;
    long left = clock.remaining_ms();
    if (left <= 0) return false;
    return curl_easy_setopt(c, CURLOPT_TIMEOUT_MS, left) == CURLE_OK;
}

void trace_failure(const trace::Sink &sink, CURLcode code, const char *errbuf, bool stalled) {
    if (!sink.on()) return;
    if (stalled)
        sink.line(trace::kInfo, "no data moved within the idle limit");
    else
        sink.linef(trace::kInfo, "libcurl error %d: %s", static_cast<int>(code),
                   errbuf[0] != '\0' ? errbuf : curl_easy_strerror(code));
}

}  // namespace tarn::curl_hooks
