// The libcurl backend's exchange: one request and the redirects it is sent
// on. Every call uses an easy handle of its own, cleaned up before the call
// returns; with keep-alive on, the session's kept handle (context.cpp).
#include <curl/curl.h>
#include <strings.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "tarn_client.h"
#include "transport/backend.h"
#include "transport/curl/context.h"
#include "transport/curl/hooks.h"
#include "transport/curl/tls.h"
#include "transport/handover.h"
#include "transport/wire.h"

namespace tarn {

// libcurl has one budget for resolving and connecting where WinHTTP gives
// each step 10 s in turn, so the sum is the bound that fails nothing WinHTTP
// would finish. Send and receive are idle limits, like WinHTTP's per-call
// timeouts: a reply that keeps moving is never cut, however slow.
CurlTimeouts curl_timeouts = {20000, 30000, 300000};

}  // namespace tarn

namespace {

namespace wire = tarn::wire;
using Clock = std::chrono::steady_clock;
using wire::kHostUnits;
using wire::kInvalidUrl;
using wire::kOpenFailed;
using wire::kOutOfMemory;
using wire::kPathUnits;
using wire::kReadFailed;
using wire::kReceiveFailed;
using wire::kSendFailed;
using wire::kStatusFailed;
using wire::kUrlUnits;

constexpr char kUserAgent[] = "drumvale-tarn-client/1.0";
constexpr int kMaxRedirects = 10;

// The longest "scheme://host:port" that passes the host limit.
constexpr size_t kOriginCap = kHostUnits * 4 + 32;

enum class Stall { kNone, kSend, kReceive };

// What the callbacks learn during one request-response hop.
struct Hop {
    CURL *curl = nullptr;
    curl_off_t body_len = 0;
    wire::BodyBuffer body;
    int status = 0;  // from the last status line seen
    bool response_started = false;
    bool headers_done = false;  // the final (non-1xx) header block ended
    bool out_of_memory = false;
    bool stopped = false;  // the body sink asked to stop
    const tarn::backend::BodySink *sink = nullptr;
    Stall stall = Stall::kNone;
    curl_off_t last_up = -1;
    Clock::time_point last_activity;
};

// Everything one call owns, released on every path.
struct Exchange {
    tarn::backend::Context *ctx;
    CURL *curl = nullptr;
    bool kept = false;  // the keep-alive handle, which outlives the call
    curl_slist *headers = nullptr;
    Hop hop;
    char errbuf[CURL_ERROR_SIZE] = "";

    explicit Exchange(tarn::backend::Context *c) : ctx(c) {}
    Exchange(const Exchange &) = delete;
    Exchange &operator=(const Exchange &) = delete;
    ~Exchange() {
        // The handle refers to the header list, so it goes first.
        tarn::curl::release(ctx, curl, kept);
        curl_slist_free_all(headers);
        wire::body_free(&hop.body);
    }
    const tarn::backend::Env &env() const { return *ctx->env; }
};

struct Target {
    bool https = false;
    char origin[kOriginCap] = "";
};

// UTF-16 units of n bytes of UTF-8, as the Windows backend would convert them.
size_t utf16_units(const char *s, size_t n) {
    size_t units = 0;
    for (size_t i = 0; i < n; ++i) {
        auto b = static_cast<unsigned char>(s[i]);
        if ((b & 0xC0) != 0x80) ++units;
        if (b >= 0xF0) ++units;  // outside the BMP: a surrogate pair
    }
    return units;
}

size_t part_units(CURLU *u, CURLUPart part) {
    char *text = nullptr;
    if (curl_url_get(u, part, &text, 0) != CURLUE_OK || text == nullptr) return 0;
    size_t units = utf16_units(text, strlen(text));
    curl_free(text);
    return units;
}

const char *inspect_url(CURLU *u, const char *url, Target *t) {
    if (utf16_units(url, strlen(url)) >= kUrlUnits) return wire::kUrlConversionFailed;
    // Any well-formed scheme parses, so that only a broken URL is "invalid".
    if (curl_url_set(u, CURLUPART_URL, url, CURLU_NON_SUPPORT_SCHEME | CURLU_PATH_AS_IS) !=
        CURLUE_OK)
        return kInvalidUrl;
    char *scheme = nullptr;
    if (curl_url_get(u, CURLUPART_SCHEME, &scheme, 0) != CURLUE_OK) return kInvalidUrl;
    bool http = strcasecmp(scheme, "http") == 0;
    t->https = strcasecmp(scheme, "https") == 0;
    curl_free(scheme);
    if (!http && !t->https) return wire::kUnsupportedScheme;

    size_t host = part_units(u, CURLUPART_HOST);
    size_t query = part_units(u, CURLUPART_QUERY);
    size_t fragment = part_units(u, CURLUPART_FRAGMENT);
    size_t path = part_units(u, CURLUPART_PATH) + (query > 0 ? query + 1 : 0) +
                  (fragment > 0 ? fragment + 1 : 0);
    if (host == 0 || host >= kHostUnits || path >= kPathUnits) return kInvalidUrl;

    char *host_text = nullptr;
    char *port = nullptr;
    if (curl_url_get(u, CURLUPART_HOST, &host_text, 0) == CURLUE_OK &&
        curl_url_get(u, CURLUPART_PORT, &port, CURLU_DEFAULT_PORT) == CURLUE_OK) {
        snprintf(t->origin, sizeof t->origin, "%s://%s:%s", t->https ? "https" : "http", host_text,
                 port);
    }
    curl_free(host_text);
    curl_free(port);
    return nullptr;
}

// Null when the URL may be requested; else the message to fail with.
const char *check_url(const char *url, Target *t) {
    CURLU *u = curl_url();
    if (u == nullptr) return kOpenFailed;
    const char *failure = inspect_url(u, url, t);
    curl_url_cleanup(u);
    return failure;
}

void collect_line(const char *line, size_t /*len*/, void *ctx) {
    auto *list = static_cast<curl_slist **>(ctx);
    // A line that cannot be copied is left out without a message.
    curl_slist *grown = curl_slist_append(*list, line);
    if (grown != nullptr) *list = grown;
}

bool same_name(const char *a, const char *b) {
    const char *ca = strchr(a, ':');
    const char *cb = strchr(b, ':');
    size_t na = ca != nullptr ? static_cast<size_t>(ca - a) : strlen(a);
    size_t nb = cb != nullptr ? static_cast<size_t>(cb - b) : strlen(b);
    return na == nb && strncasecmp(a, b, na) == 0;
}

curl_slist *append_or_keep(curl_slist *list, const char *line) {
    curl_slist *grown = curl_slist_append(list, line);
    return grown != nullptr ? grown : list;
}

// The caller's content type alone: the one line that may follow a body to
// another origin, as it carries no credential.
void collect_content_type(const char *line, size_t len, void *ctx) {
    if (same_name(line, "Content-Type:")) collect_line(line, len, ctx);
}

// The request's header list. libcurl would add Accept, Expect (for large
// bodies) and a form content type of its own; "Name:" with nothing after
// the colon suppresses each. Custom lines are scanned front to back, so a
// caller's line of the same name further down is still sent. A caller's
// line replaces an earlier one of the same name, as WinHTTP's
// add-or-replace does.
curl_slist *request_headers(const char *block, bool content_type_only = false) {
    curl_slist *out = nullptr;
    for (const char *off : {"Accept:", "Expect:", "Content-Type:"}) out = append_or_keep(out, off);
    if (block == nullptr) return out;
    curl_slist *lines = nullptr;
    wire::walk_header_lines(block, content_type_only ? collect_content_type : collect_line, &lines);
    for (curl_slist *l = lines; l != nullptr; l = l->next) {
        bool replaced = false;
        for (curl_slist *m = l->next; m != nullptr && !replaced; m = m->next)
            replaced = same_name(l->data, m->data);
        if (!replaced) out = append_or_keep(out, l->data);
    }
    curl_slist_free_all(lines);
    return out;
}

size_t on_header(char *data, size_t size, size_t n, void *p) {
    auto *hop = static_cast<Hop *>(p);
    size_t len = size * n;
    hop->last_activity = Clock::now();
    if (len >= 5 && memcmp(data, "HTTP/", 5) == 0) {
        // A new status line: an interim 1xx block is followed by another.
        hop->response_started = true;
        hop->headers_done = false;
        const char *sp = static_cast<const char *>(memchr(data, ' ', len));
        hop->status = sp != nullptr ? atoi(sp + 1) : 0;
    } else if ((len == 2 && data[0] == '\r') || (len == 1 && data[0] == '\n')) {
        if (hop->response_started && hop->status >= 200) hop->headers_done = true;
    }
    return len;
}

size_t on_body(char *data, size_t size, size_t n, void *p) {
    auto *hop = static_cast<Hop *>(p);
    hop->last_activity = Clock::now();
    if (hop->sink->on() && hop->headers_done && hop->status / 100 == 2) {
        if (hop->sink->bytes(hop->sink->user_data, data, size * n) == 0) return size * n;
        hop->stopped = true;
        return 0;
    }
    if (hop->body.cap == 0) {
        curl_off_t declared = -1;
        curl_easy_getinfo(hop->curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &declared);
        tarn::handover::reserve(&hop->body, declared);
    }
    if (!wire::body_append(&hop->body, data, size * n)) {
        // Returning short aborts the transfer; the flag tells why.
        hop->out_of_memory = true;
        return 0;
    }
    return size * n;
}

// Ends an exchange that stopped moving: nothing sent for the send limit
// while the body goes out, nothing received for the receive limit after.
int on_progress(void *p, curl_off_t /*dltotal*/, curl_off_t /*dlnow*/, curl_off_t /*ultotal*/,
                curl_off_t ulnow) {
    auto *hop = static_cast<Hop *>(p);
    Clock::time_point now = Clock::now();
    curl_off_t connected = 0;
    curl_easy_getinfo(hop->curl, CURLINFO_PRETRANSFER_TIME_T, &connected);
    if (connected == 0 || ulnow != hop->last_up) {
        // Still connecting (the connect timeout rules there), or progress.
        hop->last_up = ulnow;
        hop->last_activity = now;
        return 0;
    }
    bool sending = ulnow < hop->body_len && !hop->response_started;
    long limit = sending ? tarn::curl_timeouts.send_ms : tarn::curl_timeouts.receive_ms;
    if (now - hop->last_activity < std::chrono::milliseconds(limit)) return 0;
    hop->stall = sending ? Stall::kSend : Stall::kReceive;
    return 1;
}

bool request_sent(const Hop &hop, CURLcode code) {
    if (code == CURLE_SEND_ERROR) return false;
    curl_off_t connected = 0;
    curl_off_t uploaded = 0;
    long head = 0;
    curl_easy_getinfo(hop.curl, CURLINFO_PRETRANSFER_TIME_T, &connected);
    curl_easy_getinfo(hop.curl, CURLINFO_SIZE_UPLOAD_T, &uploaded);
    curl_easy_getinfo(hop.curl, CURLINFO_REQUEST_SIZE, &head);
    return connected > 0 && head > 0 && uploaded >= hop.body_len;
}

// Which step a failed transfer died in, by what had happened so far.
const char *failure_for(const Hop &hop, CURLcode code) {
    if (code == CURLE_ABORTED_BY_CALLBACK && hop.stall == Stall::kNone) return wire::kAborted;
    if (hop.out_of_memory) return kOutOfMemory;
    if (hop.stopped) return wire::kStopped;
    if (tarn::tls::rejected(code)) return tarn::tls::kRejected;
    // Once the headers are in, any end but a proper one is a broken body,
    // a declared length not reached included.
    if (hop.headers_done) return kReadFailed;
    if (hop.stall == Stall::kSend) return kSendFailed;
    if (hop.stall == Stall::kReceive || hop.response_started) return kReceiveFailed;
    if (code == CURLE_URL_MALFORMAT) return kInvalidUrl;
    return request_sent(hop, code) ? kReceiveFailed : kSendFailed;
}

bool configure(CURL *c, const char *url, curl_slist *headers, Hop *hop,
               const tarn::tls::Policy &policy) {
    bool ok = true;
    auto set = [&](CURLoption opt, auto value) {
        ok = ok && curl_easy_setopt(c, opt, value) == CURLE_OK;
    };
    set(CURLOPT_NOSIGNAL, 1L);
    set(CURLOPT_URL, url);
    set(CURLOPT_PROTOCOLS_STR, "http,https");
    // The target goes out as the URL has it: no dot segments removed, and
    // libcurl leaves percent escapes alone.
    set(CURLOPT_PATH_AS_IS, 1L);
    set(CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    set(CURLOPT_USERAGENT, kUserAgent);
    set(CURLOPT_HTTPHEADER, headers);
    // By default untrusted, expired and mismatched certificates are all
    // accepted; tarn_session_set_tls asks for checks.
    ok = ok && tarn::tls::apply_curl(c, policy);
    // No proxy option: libcurl then takes the standard proxy environment
    // variables, the nearest this system has to automatic configuration.
    set(CURLOPT_CONNECTTIMEOUT_MS, tarn::curl_timeouts.connect_ms);
    // A streamed body is read in larger pieces: fewer calls into the reader
    // for the same bytes.
    set(CURLOPT_BUFFERSIZE,
        static_cast<long>(hop->sink != nullptr && hop->sink->on() ? wire::kStreamReadChunk
                                                                  : wire::kReadChunk));
    set(CURLOPT_HEADERFUNCTION, on_header);
    set(CURLOPT_HEADERDATA, hop);
    set(CURLOPT_WRITEFUNCTION, on_body);
    set(CURLOPT_WRITEDATA, hop);
    set(CURLOPT_NOPROGRESS, 0L);
    set(CURLOPT_XFERINFOFUNCTION, on_progress);
    set(CURLOPT_XFERINFODATA, hop);
    return ok;
}

bool set_method(CURL *c, const char *method, const char *body, Hop *hop) {
    if (strcmp(method, "GET") == 0) return curl_easy_setopt(c, CURLOPT_HTTPGET, 1L) == CURLE_OK;
    if (strcmp(method, "DELETE") == 0)
        return curl_easy_setopt(c, CURLOPT_CUSTOMREQUEST, method) == CURLE_OK;
    // POST and PUT: the body's bytes, and "Content-Length: 0" for none.
    const char *bytes = body != nullptr ? body : "";
    hop->body_len = static_cast<curl_off_t>(strlen(bytes));
    bool ok = curl_easy_setopt(c, CURLOPT_POST, 1L) == CURLE_OK &&
              curl_easy_setopt(c, CURLOPT_POSTFIELDS, bytes) == CURLE_OK &&
              curl_easy_setopt(c, CURLOPT_POSTFIELDSIZE_LARGE, hop->body_len) == CURLE_OK;
    if (ok && strcmp(method, "PUT") == 0)
        ok = curl_easy_setopt(c, CURLOPT_CUSTOMREQUEST, method) == CURLE_OK;
    return ok;
}

void start_hop(Exchange &ex) {
    Hop &hop = ex.hop;
    wire::body_free(&hop.body);
    hop.curl = ex.curl;
    hop.status = 0;
    hop.response_started = false;
    hop.headers_done = false;
    hop.out_of_memory = false;
    hop.stopped = false;
    hop.sink = &ex.env().body;
    hop.stall = Stall::kNone;
    hop.last_up = -1;
    hop.last_activity = Clock::now();
}

// Moves the exchange to the next URL of a redirect. Returns false when
// libcurl refuses the change.
bool redirect(Exchange &ex, long code, const char *next, const char **method, const char *block,
              bool cross_origin) {
    CURL *c = ex.curl;
    bool ok = curl_easy_setopt(c, CURLOPT_URL, next) == CURLE_OK;
    // 303 turns any request into a GET, 301 and 302 a POST; 307 and 308
    // repeat the request as it was.
    if (code == 303 || ((code == 301 || code == 302) && strcmp(*method, "POST") == 0)) {
        *method = "GET";
        ex.hop.body_len = 0;
        ok = ok && curl_easy_setopt(c, CURLOPT_CUSTOMREQUEST, nullptr) == CURLE_OK &&
             curl_easy_setopt(c, CURLOPT_HTTPGET, 1L) == CURLE_OK;
    }
    if (cross_origin) {
        // The caller's lines carry credentials meant for the first server;
        // a body sent again keeps its content type.
        bool body_again = strcmp(*method, "POST") == 0 || strcmp(*method, "PUT") == 0;
        curl_slist *bare = request_headers(body_again ? block : nullptr, true);
        ok = ok && curl_easy_setopt(c, CURLOPT_HTTPHEADER, bare) == CURLE_OK;
        curl_slist_free_all(ex.headers);
        ex.headers = bare;
    }
    return ok;
}

bool is_redirect(long code) {
    return code == 301 || code == 302 || code == 303 || code == 307 || code == 308;
}

// One exchange. Returns the failure message, or null with *status set and
// the body in ex.hop.body.
const char *exchange(Exchange &ex, const char *url, const char *method, const char *body,
                     const char *headers, int32_t *status) {
    Target target;
    if (const char *bad = check_url(url, &target)) return bad;
    ex.curl = tarn::curl::acquire(ex.ctx, &ex.kept);
    if (ex.curl == nullptr) return kOpenFailed;
    ex.headers = request_headers(headers);
    ex.hop.sink = &ex.env().body;
    if (!configure(ex.curl, url, ex.headers, &ex.hop, ex.env().policy) ||
        !set_method(ex.curl, method, body, &ex.hop) ||
        !tarn::curl_hooks::attach(ex.curl, ex.errbuf, &ex.env().trace))
        return kOpenFailed;

    // Redirects are followed here rather than by libcurl, which fails the
    // whole transfer on a scheme it may not follow; WinHTTP instead hands
    // back the redirect it did not take.
    for (int redirects = 0;; ++redirects) {
        start_hop(ex);
        // Past the caller's time limit the core reports it, whatever we say.
        if (!tarn::curl_hooks::apply_deadline(ex.curl, ex.env().limits)) return kSendFailed;
        CURLcode rc = tarn::curl::perform(ex.ctx, ex.curl);
        if (rc != CURLE_OK) {
            tarn::curl_hooks::trace_failure(ex.env().trace, rc, ex.errbuf,
                                            ex.hop.stall != Stall::kNone);
            return failure_for(ex.hop, rc);
        }
        // libcurl takes a connection closed inside the header block as the
        // end of the response; no complete reply arrived.
        if (!ex.hop.headers_done) return kReceiveFailed;
        long code = 0;
        curl_easy_getinfo(ex.curl, CURLINFO_RESPONSE_CODE, &code);
        if (code < 1) return kStatusFailed;
        *status = static_cast<int32_t>(code);

        const char *next = nullptr;
        if (is_redirect(code)) curl_easy_getinfo(ex.curl, CURLINFO_REDIRECT_URL, &next);
        Target hop_target;
        // A Location that is no http(s) URL, or one from https down to
        // http, is not taken: the redirect itself is the response.
        if (next == nullptr || check_url(next, &hop_target) != nullptr ||
            (target.https && !hop_target.https))
            return nullptr;
        if (redirects == kMaxRedirects) return kReceiveFailed;
        bool cross_origin = strcmp(target.origin, hop_target.origin) != 0;
        if (!redirect(ex, code, next, &method, headers, cross_origin)) return kSendFailed;
        ex.env().trace.linef(tarn::trace::kInfo, "following redirect %ld to %.1900s", code, next);
        target = hop_target;
    }
}

int32_t cu_request(void *user_data, const char *url, const char *method, const char *body,
                   const char *headers, char **out_body, int32_t *out_status, char **out_error) {
    *out_body = nullptr;
    *out_status = 0;
    *out_error = nullptr;

    Exchange ex(static_cast<tarn::backend::Context *>(user_data));
    int32_t status = 0;
    const char *failure = exchange(ex, url, method, body, headers, &status);
    if (failure == nullptr) {
        // An empty body is handed out as "" (null only if that byte can't be had).
        *out_body = tarn::handover::give(&ex.ctx->note, &ex.hop.body);
        *out_status = status;
        return 0;
    }
    *out_error = wire::dup_message(failure);
    return -1;
}

int32_t cu_http_get(void *user_data, const char *url, const char *headers, char **out_body,
                    int32_t *out_status, char **out_error) {
    return cu_request(user_data, url, "GET", nullptr, headers, out_body, out_status, out_error);
}

int32_t cu_http_post(void *user_data, const char *url, const char *body, const char *headers,
                     char **out_body, int32_t *out_status, char **out_error) {
    return cu_request(user_data, url, "POST", body, headers, out_body, out_status, out_error);
}

int32_t cu_http_put(void *user_data, const char *url, const char *body, const char *headers,
                    char **out_body, int32_t *out_status, char **out_error) {
    return cu_request(user_data, url, "PUT", body, headers, out_body, out_status, out_error);
}

int32_t cu_http_delete(void *user_data, const char *url, char **out_body, int32_t *out_status,
                       char **out_error) {
    return cu_request(user_data, url, "DELETE", nullptr, nullptr, out_body, out_status, out_error);
}

void cu_free_buf(void * /*user_data*/, void *buf) {
    free(buf);
}

}  // namespace

namespace tarn::backend {

tarn_client_io table(Context *ctx) {
    return {ctx, cu_http_get, cu_http_post, cu_http_put, cu_http_delete, cu_free_buf};
}

}  // namespace tarn::backend
