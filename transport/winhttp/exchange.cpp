// The WinHTTP backend's exchange. Every call is one synchronous WinHTTP
// exchange with its own session, connection and request handles, run on a
// thread of its own (job.h) so that an abort ends the caller's wait; with
// keep-alive on, the session is the context's kept one (context.cpp).
#include <windows.h>
#include <winhttp.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "tarn_client.h"
#include "transport/backend.h"
#include "transport/handover.h"
#include "transport/winhttp/context.h"
#include "transport/winhttp/hooks.h"
#include "transport/winhttp/job.h"
#include "transport/winhttp/tls.h"
#include "transport/wire.h"

namespace tarn {

WinHttpTimeouts winhttp_timeouts = {10000, 10000, 30000, 300000, 0};

}  // namespace tarn

namespace {

namespace wire = tarn::wire;
using tarn::backend::Context;

constexpr int kUrlUnits = static_cast<int>(wire::kUrlUnits);
constexpr DWORD kHostUnits = static_cast<DWORD>(wire::kHostUnits);
constexpr DWORD kPathUnits = static_cast<DWORD>(wire::kPathUnits);
constexpr DWORD kReadCap = static_cast<DWORD>(wire::kReadChunk);
constexpr wchar_t kUserAgent[] = L"drumvale-tarn-client/1.0";

struct Target {
    wchar_t url[kUrlUnits];
    wchar_t host[kHostUnits];
    wchar_t path[kPathUnits];
    INTERNET_PORT port = 0;
    bool https = false;
};

// Converts and cracks the URL. Returns the failure message, or null.
const char *crack(const char *url, Target *t) {
    if (MultiByteToWideChar(CP_UTF8, 0, url, -1, t->url, kUrlUnits) < 1)
        return wire::kUrlConversionFailed;
    URL_COMPONENTS parts;
    memset(&parts, 0, sizeof parts);
    parts.dwStructSize = sizeof parts;
    parts.lpszHostName = t->host;
    parts.dwHostNameLength = kHostUnits;
    parts.lpszUrlPath = t->path;
    parts.dwUrlPathLength = kPathUnits;
    if (!WinHttpCrackUrl(t->url, 0, 0, &parts)) return wire::kInvalidUrl;
    if (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS)
        return wire::kUnsupportedScheme;
    t->port = parts.nPort;
    t->https = parts.nScheme == INTERNET_SCHEME_HTTPS;
    return nullptr;
}

// Header lines are added one by one; a line that cannot be converted or
// copied is left out without a message.
void add_header_line(const char *line, size_t /*len*/, void *ctx) {
    int units = MultiByteToWideChar(CP_UTF8, 0, line, -1, nullptr, 0);
    if (units < 1) return;
    auto *wide = static_cast<wchar_t *>(malloc(static_cast<size_t>(units) * sizeof(wchar_t)));
    if (wide == nullptr) return;
    if (MultiByteToWideChar(CP_UTF8, 0, line, -1, wide, units) >= 1) {
        WinHttpAddRequestHeaders(static_cast<HINTERNET>(ctx), wide, static_cast<DWORD>(-1L),
                                 WINHTTP_ADDREQ_FLAG_ADD | WINHTTP_ADDREQ_FLAG_REPLACE);
    }
    free(wide);
}

// One exchange on the job's thread. It works on copies of the request and
// the session's settings, so a call the caller gave up on reaches nothing
// of the caller's.
class Call : public tarn::winhttp::Job {
public:
    Call(const tarn::backend::Env &env, const Target &t, const wchar_t *verb, const char *body,
         const char *headers, HINTERNET lent)
        : Job(env.trace),
          target(t),
          kept(lent),
          verb_(verb),
          has_body_(body != nullptr),
          has_headers_(headers != nullptr && *headers != '\0'),
          body_(body != nullptr ? body : ""),
          headers_(has_headers_ ? headers : ""),
          policy_(env.policy),
          clock_(env.limits),
          sink_(env.body) {
        check_.policy = &policy_;
    }
    ~Call() override { wire::body_free(&reply); }

    void run() override {
        failure = exchange();
        DWORD error = GetLastError();
        if (failure != nullptr) tarn::winhttp_hooks::trace_failure(sink(), failure, error);
        release();
    }

    const Target target;
    const HINTERNET kept;  // the context's session, lent for the call; else null
    // What the caller learns once the call finished.
    const char *failure = nullptr;
    int32_t status = 0;
    wire::BodyBuffer reply;
    bool served = false;  // a reply came on the kept session
    bool cut = false;     // failed sending or awaiting the reply, with step_error
    DWORD step_error = 0;

private:
    void on_abandon(Context *ctx) override {
        if (kept == nullptr || released_) return;
        owns_kept_ = true;
        tarn::winhttp::disown_kept(ctx);
    }

    // Closes the handles in reverse order; the kept session only when the
    // context gave it up.
    void release() {
        if (request_ != nullptr) WinHttpCloseHandle(request_);
        if (connection_ != nullptr) WinHttpCloseHandle(connection_);
        request_ = connection_ = nullptr;
        std::lock_guard<std::mutex> lock(mu);
        if (session_ != nullptr && (session_ != kept || owns_kept_)) WinHttpCloseHandle(session_);
        session_ = nullptr;
        released_ = true;
    }

    const char *read_body(bool to_sink);
    bool pass_on(const char *data, size_t n);
    const char *exchange();

    const wchar_t *verb_;
    const bool has_body_;
    const bool has_headers_;
    const std::string body_;
    const std::string headers_;
    const tarn::tls::Policy policy_;
    const tarn::limits::Clock clock_;
    const tarn::backend::BodySink sink_;  // reached only while the caller waits
    HINTERNET session_ = nullptr;
    HINTERNET connection_ = nullptr;
    HINTERNET request_ = nullptr;
    tarn::tls::WinCheck check_;
    bool stopped_ = false;    // the sink asked to stop
    bool owns_kept_ = false;  // under mu
    bool released_ = false;   // under mu
};

// Hands bytes to the caller's sink under the job's lock, so never once the
// caller stopped waiting. False when the body is to go no further.
bool Call::pass_on(const char *data, size_t n) {
    std::lock_guard<std::mutex> lock(mu);
    if (abandoned()) return false;
    if (sink_.bytes(sink_.user_data, data, n) == 0) return true;
    stopped_ = true;
    return false;
}

// Reads the body to its end, into reply or to the sink. Returns the failure
// message, or null when every byte the response declared arrived.
const char *Call::read_body(bool to_sink) {
    DWORD declared = 0;
    DWORD size = sizeof declared;
    bool sized = WinHttpQueryHeaders(
        request_, WINHTTP_QUERY_CONTENT_LENGTH | WINHTTP_QUERY_FLAG_NUMBER,
        WINHTTP_HEADER_NAME_BY_INDEX, &declared, &size, WINHTTP_NO_HEADER_INDEX);
    if (sized && !to_sink) tarn::handover::reserve(&reply, declared);
    uint64_t got_total = 0;
    char scratch[kReadCap];  // one buffer serves every read of the call
    for (;;) {
        DWORD avail = 0;
        if (abandoned()) return wire::kAborted;
        if (!tarn::winhttp_hooks::apply_deadline(request_, clock_)) return wire::kReadFailed;
        if (!WinHttpQueryDataAvailable(request_, &avail)) return wire::kReadFailed;
        if (avail == 0) break;
        DWORD got = 0;
        if (abandoned()) return wire::kAborted;
        if (!WinHttpReadData(request_, scratch, avail < kReadCap ? avail : kReadCap, &got))
            return wire::kReadFailed;
        if (got == 0) break;
        got_total += got;
        if (to_sink) {
            if (!pass_on(scratch, got)) return stopped_ ? wire::kStopped : wire::kAborted;
        } else if (!wire::body_append(&reply, scratch, got)) {
            return wire::kOutOfMemory;
        }
    }
    // A connection cut before the declared length ends the loop quietly.
    if (sized && got_total < declared) return wire::kReadFailed;
    return nullptr;
}

// Opens session, connection and request, adds the header lines, sends,
// receives and reads the body to its end. Returns the failure message or
// null; on null, status holds the response's status code.
const char *Call::exchange() {
    // The thread may start after the caller already left.
    if (abandoned()) return wire::kAborted;
    const wchar_t *host = target.host;
    bool https = target.https;
    // A policy that checks certificates itself needs its relay as proxy, a
    // session of its own.
    if (https && tarn::tls::gated(policy_))
        session_ = tarn::tls::open_gated_session(kUserAgent, host, &check_);
    else
        session_ = kept != nullptr ? kept : tarn::winhttp::open_session();
    if (session_ == nullptr) return wire::kOpenFailed;
    const tarn::WinHttpTimeouts &t = tarn::winhttp_timeouts;
    WinHttpSetTimeouts(session_, t.resolve_ms, t.connect_ms, t.send_ms, t.receive_ms);
    // Past the caller's time limit the core reports it, whatever we say.
    if (!tarn::winhttp_hooks::apply_deadline(session_, clock_)) return wire::kOpenFailed;

    connection_ = WinHttpConnect(session_, host, target.port, 0);
    if (connection_ == nullptr) return wire::kConnectFailed;

    request_ = WinHttpOpenRequest(connection_, verb_, target.path, nullptr, WINHTTP_NO_REFERER,
                                  WINHTTP_DEFAULT_ACCEPT_TYPES, https ? WINHTTP_FLAG_SECURE : 0);
    if (request_ == nullptr) return wire::kOpenRequestFailed;
    tarn::winhttp_hooks::watch_redirects(request_, &sink());
    if (t.response_ms > 0) {
        DWORD ms = static_cast<DWORD>(t.response_ms);
        WinHttpSetOption(request_, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &ms, sizeof ms);
    }
    // The TLS policy sets the security flags (tls.cpp); after the trace's
    // callback, which it keeps.
    if (https && !tarn::tls::arm_winhttp(request_, host, &check_)) return wire::kOpenRequestFailed;

    if (has_headers_) wire::walk_header_lines(headers_.c_str(), add_header_line, request_);

    auto body_len = static_cast<DWORD>(body_.size());
    void *optional = has_body_ ? const_cast<char *>(body_.c_str()) : WINHTTP_NO_REQUEST_DATA;
    if (!tarn::winhttp_hooks::apply_deadline(request_, clock_)) return wire::kSendFailed;
    if (abandoned()) return wire::kAborted;
    BOOL sent = WinHttpSendRequest(request_, WINHTTP_NO_ADDITIONAL_HEADERS, 0, optional, body_len,
                                   body_len, 0);
    DWORD error = GetLastError();
    tarn::winhttp_hooks::trace_sent(sink(), request_);
    const char *failure = nullptr;
    if (!sent) {
        failure = wire::kSendFailed;
    } else {
        if (!tarn::winhttp_hooks::apply_deadline(request_, clock_)) return wire::kReceiveFailed;
        if (abandoned()) return wire::kAborted;
        if (!WinHttpReceiveResponse(request_, nullptr)) {
            failure = wire::kReceiveFailed;
            error = GetLastError();
        }
    }
    if (failure != nullptr) {
        cut = true;
        step_error = error;
        SetLastError(error);
        return tarn::tls::winhttp_failure(check_, error, failure);
    }
    tarn::winhttp_hooks::trace_received(sink(), request_);
    served = kept != nullptr && session_ == kept;

    DWORD code = 0;
    DWORD size = sizeof code;
    bool have_status =
        WinHttpQueryHeaders(request_, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                            WINHTTP_HEADER_NAME_BY_INDEX, &code, &size, WINHTTP_NO_HEADER_INDEX);
    // The body is read to its end even when it will be discarded.
    const char *read_failure = read_body(have_status && sink_.on() && code / 100 == 2);
    if (!have_status) return wire::kStatusFailed;
    if (read_failure != nullptr) return read_failure;
    status = static_cast<int32_t>(code);
    return nullptr;
}

int32_t fail(const char *message, char **out_error) {
    *out_error = wire::dup_message(message);
    return -1;
}

int32_t wh_request(Context *ctx, const char *url, const wchar_t *verb, const char *body,
                   const char *headers, char **out_body, int32_t *out_status, char **out_error) {
    *out_body = nullptr;
    *out_status = 0;
    *out_error = nullptr;

    const tarn::backend::Env &env = *ctx->env;
    auto target = std::make_unique<Target>();
    if (target == nullptr) return fail(wire::kOutOfMemory, out_error);
    if (const char *bad = crack(url, target.get())) {
        tarn::winhttp_hooks::trace_failure(env.trace, bad, GetLastError());
        return fail(bad, out_error);
    }
    bool gated = target->https && tarn::tls::gated(env.policy);

    for (bool resend = false;; resend = true) {
        // A resend goes on a new session, and so a new connection.
        if (resend) tarn::backend::drop_connection(ctx);
        HINTERNET kept = gated ? nullptr : tarn::winhttp::kept_session(ctx);
        auto call = std::make_shared<Call>(env, *target, verb, body, headers, kept);
        if (!tarn::winhttp::run(ctx, call)) return fail(wire::kAborted, out_error);
        if (kept != nullptr) {
            tarn::winhttp::finish(ctx);
            if (call->served) tarn::winhttp::served(ctx, target->host, target->port, target->https);
        }
        bool retry = kept != nullptr && call->cut &&
                     tarn::winhttp::may_resend(ctx, target->host, target->port, target->https,
                                               call->step_error);
        if (retry && !resend) continue;
        if (call->failure == nullptr && call->status >= 1) {
            // An empty body is handed out as "" (null only if that byte can't be had).
            *out_body = tarn::handover::give(&ctx->note, &call->reply);
            *out_status = call->status;
            return 0;
        }
        if (call->failure != nullptr) return fail(call->failure, out_error);
        return -1;
    }
}

int32_t wh_http_get(void *user_data, const char *url, const char *headers, char **out_body,
                    int32_t *out_status, char **out_error) {
    return wh_request(static_cast<Context *>(user_data), url, L"GET", nullptr, headers, out_body,
                      out_status, out_error);
}

int32_t wh_http_post(void *user_data, const char *url, const char *body, const char *headers,
                     char **out_body, int32_t *out_status, char **out_error) {
    return wh_request(static_cast<Context *>(user_data), url, L"POST", body, headers, out_body,
                      out_status, out_error);
}

int32_t wh_http_put(void *user_data, const char *url, const char *body, const char *headers,
                    char **out_body, int32_t *out_status, char **out_error) {
    return wh_request(static_cast<Context *>(user_data), url, L"PUT", body, headers, out_body,
                      out_status, out_error);
}

int32_t wh_http_delete(void *user_data, const char *url, char **out_body, int32_t *out_status,
                       char **out_error) {
    return wh_request(static_cast<Context *>(user_data), url, L"DELETE", nullptr, nullptr, out_body,
                      out_status, out_error);
}

void wh_free_buf(void * /*user_data*/, void *buf) {
    free(buf);
}

}  // namespace

namespace tarn::backend {

tarn_client_io table(Context *ctx) {
    return {ctx, wh_http_get, wh_http_post, wh_http_put, wh_http_delete, wh_free_buf};
}

}  // namespace tarn::backend
