#include "transport/winhttp/context.h"

#include <cwchar>
#include <new>

// Older mingw-w64 headers predate automatic proxy configuration.
#ifndef WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY
#define WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY 4
#endif

namespace tarn::backend {

long idle_seconds = 30;

Context *open(Env *env) {
    auto *ctx = new (std::nothrow) Context;
    if (ctx == nullptr) return nullptr;
    ctx->env = env;
    // Manual reset: only the waiting call clears it.
    ctx->wake = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (ctx->wake == nullptr) {
        delete ctx;
        return nullptr;
    }
    return ctx;
}

void drop_connection(Context *ctx) {
    if (ctx == nullptr) return;
    ctx->last_host[0] = L'\0';
    if (ctx->kept == nullptr) return;
    WinHttpCloseHandle(ctx->kept);
    ctx->kept = nullptr;
}

void close(Context *ctx) {
    if (ctx == nullptr) return;
    drop_connection(ctx);
    CloseHandle(ctx->wake);
    delete ctx;
}

bool take_body(Context *ctx, const char *buf, size_t *len, size_t *cap) {
    return handover::take(&ctx->note, buf, len, cap);
}

}  // namespace tarn::backend

namespace tarn::winhttp {

namespace {

constexpr wchar_t kUserAgent[] = L"drumvale-tarn-client/1.0";

}  // namespace

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

HINTERNET kept_session(backend::Context *ctx) {
    if (!ctx->env->keepalive) return nullptr;
    if (ctx->kept != nullptr &&
        GetTickCount64() - ctx->last_use > static_cast<ULONGLONG>(backend::idle_seconds) * 1000)
        backend::drop_connection(ctx);
    if (ctx->kept == nullptr) ctx->kept = open_session();
    return ctx->kept;
}

void finish(backend::Context *ctx) {
    ctx->last_use = GetTickCount64();
}

void served(backend::Context *ctx, const wchar_t *host, INTERNET_PORT port, bool https) {
    if (wcslen(host) >= sizeof ctx->last_host / sizeof ctx->last_host[0]) return;
    wcscpy(ctx->last_host, host);
    ctx->last_port = port;
    ctx->last_https = https;
}

bool may_resend(const backend::Context *ctx, const wchar_t *host, INTERNET_PORT port, bool https,
                DWORD error) {
    bool same = ctx->last_host[0] != L'\0' && wcscmp(ctx->last_host, host) == 0 &&
                ctx->last_port == port && ctx->last_https == https;
    return same && error == ERROR_WINHTTP_CONNECTION_ERROR;
}

void disown_kept(backend::Context *ctx) {
    ctx->kept = nullptr;
    ctx->last_host[0] = L'\0';
}

}  // namespace tarn::winhttp
