// io-winhttp: the default backend on Windows. Every call is one synchronous
// WinHTTP exchange with its own session, connection and request handles;
// with keep-alive on, the session is the kept one (keepalive_winhttp.cpp).
#include <windows.h>
#include <winhttp.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "tarn_client.h"
#include "transport/backends.h"
#include "transport/handover.h"
#include "transport/keepalive_winhttp.h"
#include "transport/tls_winhttp.h"
#include "transport/winhttp_hooks.h"
#include "transport/wire.h"

// Older mingw-w64 headers predate automatic proxy configuration.
#ifndef WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY
#define WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY 4
#endif

namespace tarn {

WinHttpTimeouts winhttp_timeouts = {10000, 10000, 30000, 300000, 0};

}  // namespace tarn

namespace {

namespace wire = tarn::wire;

constexpr int kUrlUnits = static_cast<int>(wire::kUrlUnits);
constexpr DWORD kHostUnits = static_cast<DWORD>(wire::kHostUnits);
constexpr DWORD kPathUnits = static_cast<DWORD>(wire::kPathUnits);
constexpr DWORD kReadCap = static_cast<DWORD>(tarn::wire::kReadChunk);
constexpr wchar_t kUserAgent[] = L"drumvale-tarn-client/1.0";

// Everything one call opens, released in reverse order on every path.
struct Exchange {
    HINTERNET session = nullptr;
    HINTERNET connection = nullptr;
    HINTERNET request = nullptr;
    bool kept = false;    // the keep-alive session, which outlives the call
    bool resend = false;  // the kept connection was found closed
    tarn::wire::BodyBuffer body;
    tarn::tls::WinCheck check;

    Exchange() = default;
    Exchange(const Exchange &) = delete;
    Exchange &operator=(const Exchange &) = delete;
    ~Exchange() {
        if (request != nullptr) WinHttpCloseHandle(request);
        if (connection != nullptr) WinHttpCloseHandle(connection);
        if (session != nullptr && kept)
            tarn::keepalive::finish();
        else if (session != nullptr)
            WinHttpCloseHandle(session);
        tarn::wire::body_free(&body);
    }
};

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

HINTERNET open_session() {
    HINTERNET session = WinHttpOpen(kUserAgent, WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY,
                                    WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
    if (session == nullptr) {
        // Systems before automatic proxy configuration refuse that access type.
        session = WinHttpOpen(kUserAgent, WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                              WINHTTP_NO_PROXY_BYPASS, 0);
    }
    return session;
}

// Reads the body to its end. Returns the failure message, or null when
// every byte the response declared arrived.
const char *read_body(Exchange &ex) {
    DWORD declared = 0;
    DWORD size = sizeof declared;
    bool sized = WinHttpQueryHeaders(
        ex.request, WINHTTP_QUERY_CONTENT_LENGTH | WINHTTP_QUERY_FLAG_NUMBER,
        WINHTTP_HEADER_NAME_BY_INDEX, &declared, &size, WINHTTP_NO_HEADER_INDEX);
    if (sized) tarn::handover::reserve(&ex.body, declared);
    char scratch[kReadCap];  // one buffer serves every read of the call
    for (;;) {
        DWORD avail = 0;
        if (!tarn::winhttp_hooks::apply_deadline(ex.request)) return wire::kReadFailed;
        if (!WinHttpQueryDataAvailable(ex.request, &avail)) return wire::kReadFailed;
        if (avail == 0) break;
        DWORD got = 0;
        if (!WinHttpReadData(ex.request, scratch, avail < kReadCap ? avail : kReadCap, &got))
            return wire::kReadFailed;
        if (got == 0) break;
        if (!tarn::wire::body_append(&ex.body, scratch, got)) return wire::kOutOfMemory;
    }
    // A connection cut before the declared length ends the loop quietly.
    if (sized && ex.body.len < declared) return wire::kReadFailed;
    return nullptr;
}

// One exchange: crack the URL, open session, connection and request, add
// the header lines, send, receive and read the body to its end. Returns the
// failure message or null; on null, *status holds the response's status
// code.
const char *exchange(Exchange &ex, const char *url, const wchar_t *verb, const char *body,
                     const char *headers, int32_t *status) {
    wchar_t wide_url[kUrlUnits];
    if (MultiByteToWideChar(CP_UTF8, 0, url, -1, wide_url, kUrlUnits) < 1)
        return wire::kUrlConversionFailed;

    wchar_t host[kHostUnits];
    wchar_t path[kPathUnits];
    URL_COMPONENTS parts;
    memset(&parts, 0, sizeof parts);
    parts.dwStructSize = sizeof parts;
    parts.lpszHostName = host;
    parts.dwHostNameLength = kHostUnits;
    parts.lpszUrlPath = path;
    parts.dwUrlPathLength = kPathUnits;
    if (!WinHttpCrackUrl(wide_url, 0, 0, &parts)) return wire::kInvalidUrl;
    if (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS)
        return wire::kUnsupportedScheme;
    bool https = parts.nScheme == INTERNET_SCHEME_HTTPS;

    // A policy that checks certificates itself needs its relay as proxy, a
    // session of its own.
    bool gated = https && tarn::tls::gated();
    ex.session = gated ? nullptr : tarn::keepalive::kept_session(open_session);
    ex.kept = ex.session != nullptr;
    if (gated)
        ex.session = tarn::tls::open_gated_session(kUserAgent, host, &ex.check);
    else if (!ex.kept)
        ex.session = open_session();
    if (ex.session == nullptr) return wire::kOpenFailed;
    const tarn::WinHttpTimeouts &t = tarn::winhttp_timeouts;
    WinHttpSetTimeouts(ex.session, t.resolve_ms, t.connect_ms, t.send_ms, t.receive_ms);
    // Past the caller's time limit the core reports it, whatever we say.
    if (!tarn::winhttp_hooks::apply_deadline(ex.session)) return wire::kOpenFailed;

    ex.connection = WinHttpConnect(ex.session, host, parts.nPort, 0);
    if (ex.connection == nullptr) return wire::kConnectFailed;

    ex.request = WinHttpOpenRequest(ex.connection, verb, path, nullptr, WINHTTP_NO_REFERER,
                                    WINHTTP_DEFAULT_ACCEPT_TYPES, https ? WINHTTP_FLAG_SECURE : 0);
    if (ex.request == nullptr) return wire::kOpenRequestFailed;
    tarn::winhttp_hooks::watch_redirects(ex.request);
    if (tarn::winhttp_timeouts.response_ms > 0) {
        DWORD ms = static_cast<DWORD>(tarn::winhttp_timeouts.response_ms);
        WinHttpSetOption(ex.request, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &ms, sizeof ms);
    }
    // The TLS policy sets the security flags (tls_winhttp.cpp); after the
    // trace's callback, which it keeps.
    if (https && !tarn::tls::arm_winhttp(ex.request, host, &ex.check))
        return wire::kOpenRequestFailed;

    if (headers != nullptr && *headers != '\0')
        tarn::wire::walk_header_lines(headers, add_header_line, ex.request);

    DWORD body_len = body != nullptr ? static_cast<DWORD>(strlen(body)) : 0;
    void *optional = body != nullptr ? const_cast<char *>(body) : WINHTTP_NO_REQUEST_DATA;
    if (!tarn::winhttp_hooks::apply_deadline(ex.request)) return wire::kSendFailed;
    BOOL sent = WinHttpSendRequest(ex.request, WINHTTP_NO_ADDITIONAL_HEADERS, 0, optional, body_len,
                                   body_len, 0);
    DWORD error = GetLastError();
    tarn::winhttp_hooks::trace_sent(ex.request);
    const char *failure = nullptr;
    if (!sent) {
        failure = wire::kSendFailed;
    } else {
        if (!tarn::winhttp_hooks::apply_deadline(ex.request)) return wire::kReceiveFailed;
        if (!WinHttpReceiveResponse(ex.request, nullptr)) {
            failure = wire::kReceiveFailed;
            error = GetLastError();
        }
    }
    if (failure != nullptr) {
        ex.resend = ex.kept && tarn::keepalive::may_resend(host, parts.nPort, https, error);
        SetLastError(error);
        return tarn::tls::winhttp_failure(ex.check, error, failure);
    }
    tarn::winhttp_hooks::trace_received(ex.request);
    if (ex.kept) tarn::keepalive::served(host, parts.nPort, https);

    DWORD code = 0;
    DWORD size = sizeof code;
    bool have_status =
        WinHttpQueryHeaders(ex.request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                            WINHTTP_HEADER_NAME_BY_INDEX, &code, &size, WINHTTP_NO_HEADER_INDEX);
    // The body is read to its end even when it will be discarded.
    const char *read_failure = read_body(ex);
    if (!have_status) return wire::kStatusFailed;
    if (read_failure != nullptr) return read_failure;
    *status = static_cast<int32_t>(code);
    return nullptr;
}

int32_t wh_request(const char *url, const wchar_t *verb, const char *body, const char *headers,
                   char **out_body, int32_t *out_status, char **out_error) {
    *out_body = nullptr;
    *out_status = 0;
    *out_error = nullptr;

    for (bool resend = false;; resend = true) {
        // A resend goes on a new session, and so a new connection.
        if (resend) tarn::keepalive::close();
        Exchange ex;
        int32_t status = 0;
        const char *failure = exchange(ex, url, verb, body, headers, &status);
        if (failure != nullptr) tarn::winhttp_hooks::trace_failure(failure, GetLastError());
        if (ex.resend && !resend) continue;
        if (failure == nullptr && status >= 1) {
            // An empty body is handed out as "" (null only if that byte can't be had).
            *out_body = tarn::handover::give(&ex.body);
            *out_status = status;
            return 0;
        }
        if (failure != nullptr) *out_error = tarn::wire::dup_message(failure);
        return -1;
    }
}

int32_t wh_http_get(void * /*user_data*/, const char *url, const char *headers, char **out_body,
                    int32_t *out_status, char **out_error) {
    return wh_request(url, L"GET", nullptr, headers, out_body, out_status, out_error);
}

int32_t wh_http_post(void * /*user_data*/, const char *url, const char *body, const char *headers,
                     char **out_body, int32_t *out_status, char **out_error) {
    return wh_request(url, L"POST", body, headers, out_body, out_status, out_error);
}

int32_t wh_http_put(void * /*user_data*/, const char *url, const char *body, const char *headers,
                    char **out_body, int32_t *out_status, char **out_error) {
    return wh_request(url, L"PUT", body, headers, out_body, out_status, out_error);
}

int32_t wh_http_delete(void * /*user_data*/, const char *url, char **out_body, int32_t *out_status,
                       char **out_error) {
    return wh_request(url, L"DELETE", nullptr, nullptr, out_body, out_status, out_error);
}

void wh_free_buf(void * /*user_data*/, void *buf) {
    free(buf);
}

}  // namespace

namespace tarn {

const tarn_client_io drumvale_io_winhttp = {
    nullptr, wh_http_get, wh_http_post, wh_http_put, wh_http_delete, wh_free_buf,
};

}  // namespace tarn
