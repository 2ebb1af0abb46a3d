// WinHTTP's side of the trace and the time limit, and its label.
#include "transport/winhttp/hooks.h"

#include <string>

#include "transport/backend.h"

namespace tarn::backend {

const char *label() {
    // WinHTTP ships with the system and reports no version of its own.
    return "WinHTTP";
}

}  // namespace tarn::backend

namespace tarn::winhttp_hooks {

namespace {

// The defaults every call starts with, in milliseconds.
constexpr int kResolveMs = 10000;
constexpr int kConnectMs = 10000;
constexpr int kSendMs = 30000;
constexpr int kReceiveMs = 300000;

std::string utf8(const wchar_t *wide, int units) {
    int bytes = WideCharToMultiByte(CP_UTF8, 0, wide, units, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) return {};
    std::string out(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide, units, out.data(), bytes, nullptr, nullptr);
    return out;
}

// A header set of the request, as one CRLF-separated text.
std::string raw_headers(HINTERNET request, DWORD which) {
    DWORD size = 0;
    WinHttpQueryHeaders(request, which, WINHTTP_HEADER_NAME_BY_INDEX, WINHTTP_NO_OUTPUT_BUFFER,
                        &size, WINHTTP_NO_HEADER_INDEX);
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || size == 0) return {};
    std::wstring wide(size / sizeof(wchar_t) + 1, L'\0');
    if (!WinHttpQueryHeaders(request, which, WINHTTP_HEADER_NAME_BY_INDEX, wide.data(), &size,
                             WINHTTP_NO_HEADER_INDEX))
        return {};
    return utf8(wide.c_str(), static_cast<int>(size / sizeof(wchar_t)));
}

void CALLBACK on_status(HINTERNET request, DWORD_PTR context, DWORD status, LPVOID info,
                        DWORD /*length*/) {
    if (status != WINHTTP_CALLBACK_STATUS_REDIRECT || info == nullptr || context == 0) return;
    const auto &sink = *reinterpret_cast<const trace::Sink *>(context);
    DWORD code = 0;
    DWORD size = sizeof code;
    WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                        WINHTTP_HEADER_NAME_BY_INDEX, &code, &size, WINHTTP_NO_HEADER_INDEX);
    std::string to = utf8(static_cast<const wchar_t *>(info), -1);
    if (!to.empty() && to.back() == '\0') to.pop_back();
    sink.line(trace::kInfo, "following redirect " +
                                std::to_string(static_cast<unsigned long>(code)) + " to " + to);
}

// Names of the failures seen most, for a system without the message texts
// (Wine has none for WinHTTP's codes).
const char *error_name(DWORD error) {
    static const struct {
        DWORD code;
        const char *name;
    } kNames[] = {
        {ERROR_WINHTTP_TIMEOUT, "ERROR_WINHTTP_TIMEOUT"},
        {ERROR_WINHTTP_NAME_NOT_RESOLVED, "ERROR_WINHTTP_NAME_NOT_RESOLVED"},
        {ERROR_WINHTTP_CANNOT_CONNECT, "ERROR_WINHTTP_CANNOT_CONNECT"},
        {ERROR_WINHTTP_CONNECTION_ERROR, "ERROR_WINHTTP_CONNECTION_ERROR"},
        {ERROR_WINHTTP_INVALID_SERVER_RESPONSE, "ERROR_WINHTTP_INVALID_SERVER_RESPONSE"},
        {ERROR_WINHTTP_SECURE_FAILURE, "ERROR_WINHTTP_SECURE_FAILURE"},
    };
    for (const auto &n : kNames)
        if (n.code == error) return n.name;
    return "no system text";
}

}  // namespace

bool apply_deadline(HINTERNET h, const limits::Clock &clock) {
    if (!clock.active()) return true;
    long left = clock.remaining_ms();
    if (left <= 0) return false;
    // 0 would mean "no timeout" to WinHTTP; left is at least 1 here.
    auto cap = [left](int ms) { return left < ms ? static_cast<int>(left) : ms; };
    WinHttpSetTimeouts(h, cap(kResolveMs), cap(kConnectMs), cap(kSendMs), cap(kReceiveMs));
    // The wait for the reply's headers has a limit of its own; a session
    // handle refuses it, which is harmless.
    DWORD headers_ms = static_cast<DWORD>(cap(kReceiveMs));
    WinHttpSetOption(h, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &headers_ms, sizeof headers_ms);
    return true;
}

void watch_redirects(HINTERNET request, const trace::Sink *sink) {
    if (!sink->on()) return;
    auto context = reinterpret_cast<DWORD_PTR>(sink);
    WinHttpSetOption(request, WINHTTP_OPTION_CONTEXT_VALUE, &context, sizeof context);
    WinHttpSetStatusCallback(request, on_status, WINHTTP_CALLBACK_FLAG_REDIRECT, 0);
}

void trace_sent(const trace::Sink &sink, HINTERNET request) {
    if (!sink.on()) return;
    sink.lines(trace::kSent, raw_headers(request, WINHTTP_QUERY_RAW_HEADERS_CRLF |
                                                      WINHTTP_QUERY_FLAG_REQUEST_HEADERS));
}

void trace_received(const trace::Sink &sink, HINTERNET request) {
    if (!sink.on()) return;
    sink.lines(trace::kReceived, raw_headers(request, WINHTTP_QUERY_RAW_HEADERS_CRLF));
}

void trace_failure(const trace::Sink &sink, const char *step, DWORD error) {
    if (!sink.on()) return;
    if (error == 0) {
        sink.line(trace::kInfo, step);
        return;
    }
    char text[512] = "";
    DWORD n = FormatMessageA(
        FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        GetModuleHandleA("winhttp.dll"), error, 0, text, sizeof text, nullptr);
    while (n > 0 && (text[n - 1] == '\r' || text[n - 1] == '\n' || text[n - 1] == ' '))
        text[--n] = '\0';
    sink.linef(trace::kInfo, "%s: WinHTTP error %lu: %s", step, static_cast<unsigned long>(error),
               n > 0 ? text : error_name(error));
}

}  // namespace tarn::winhttp_hooks
