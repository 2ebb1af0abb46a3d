#include "transport/curl/context.h"

#include <new>

namespace tarn::backend {

long idle_seconds = 30;

Context *open(Env *env) {
    auto *ctx = new (std::nothrow) Context;
    if (ctx != nullptr) ctx->env = env;
    return ctx;
}

void drop_connection(Context *ctx) {
    if (ctx == nullptr) return;
    // The connection pool belongs to the multi handle.
    if (ctx->kept != nullptr) curl_easy_cleanup(ctx->kept);
    if (ctx->multi != nullptr) curl_multi_cleanup(ctx->multi);
    ctx->kept = nullptr;
    ctx->multi = nullptr;
}

void close(Context *ctx) {
    drop_connection(ctx);
    delete ctx;
}

bool take_body(Context *ctx, const char *buf, size_t *len, size_t *cap) {
    return handover::take(&ctx->note, buf, len, cap);
}

}  // namespace tarn::backend

namespace tarn::curl {

bool global_init() {
    // A function-local static is initialised exactly once, even under threads.
    static const bool ok = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    return ok;
}

namespace {

bool ensure_multi(backend::Context *ctx) {
    if (ctx->multi != nullptr) return true;
    ctx->multi = curl_multi_init();
    if (ctx->multi == nullptr) return false;
    // One cached connection: the last origin's.
    curl_multi_setopt(ctx->multi, CURLMOPT_MAXCONNECTS, 1L);
    return true;
}

}  // namespace

CURL *acquire(backend::Context *ctx, bool *kept) {
    *kept = false;
    if (!global_init() || !ensure_multi(ctx)) return nullptr;
    if (!ctx->env->keepalive) {
        CURL *c = curl_easy_init();
        // Closed after the transfer, as when each call had its own handle.
        if (c != nullptr && curl_easy_setopt(c, CURLOPT_FORBID_REUSE, 1L) != CURLE_OK) {
            curl_easy_cleanup(c);
            return nullptr;
        }
        return c;
    }
    if (ctx->kept == nullptr) ctx->kept = curl_easy_init();
    if (ctx->kept == nullptr) return nullptr;
    // libcurl counts idle time in whole seconds, so a connection is dropped
    // once idle_seconds + 1 have passed.
    if (curl_easy_setopt(ctx->kept, CURLOPT_MAXCONNECTS, 1L) != CURLE_OK ||
        curl_easy_setopt(ctx->kept, CURLOPT_MAXAGE_CONN, backend::idle_seconds) != CURLE_OK)
        return nullptr;
    *kept = true;
    return ctx->kept;
}

void release(backend::Context * /*ctx*/, CURL *c, bool kept) {
    if (c == nullptr) return;
    if (kept)
        curl_easy_reset(c);
    else
        curl_easy_cleanup(c);
}

CURLcode perform(backend::Context *ctx, CURL *c) {
    Abort &abort = ctx->env->abort;
    if (abort.requested()) return CURLE_ABORTED_BY_CALLBACK;
    if (curl_multi_add_handle(ctx->multi, c) != CURLM_OK) return CURLE_FAILED_INIT;
    CURLcode result = CURLE_OK;
    for (bool done = false; !done;) {
        int running = 0;
        if (curl_multi_perform(ctx->multi, &running) != CURLM_OK) {
            result = CURLE_FAILED_INIT;
            break;
        }
        int queued = 0;
        while (CURLMsg *m = curl_multi_info_read(ctx->multi, &queued)) {
            if (m->msg == CURLMSG_DONE && m->easy_handle == c) {
                result = m->data.result;
                done = true;
            }
        }
        if (done) break;
        if (running == 0) {
            // Nothing runs and nothing finished: libcurl lost the transfer.
            result = CURLE_RECV_ERROR;
            break;
        }
        curl_waitfd wake = {abort.wake_fd(), CURL_WAIT_POLLIN, 0};
        unsigned extra = wake.fd >= 0 ? 1U : 0U;
        if (curl_multi_poll(ctx->multi, &wake, extra, 1000, nullptr) != CURLM_OK) {
            result = CURLE_RECV_ERROR;
            break;
        }
        if (abort.requested()) {
            result = CURLE_ABORTED_BY_CALLBACK;
            break;
        }
        // A wake-up left over from an abort that came too late to count.
        if (wake.revents != 0) abort.drain();
    }
    curl_multi_remove_handle(ctx->multi, c);
    return result;
}

}  // namespace tarn::curl
