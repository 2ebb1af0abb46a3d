// A session's libcurl context: the multi handle every transfer runs on, so
// that an abort can wake its wait, and the easy handle kept between calls
// with keep-alive on (libcurl keeps the connection and TLS session there).
#pragma once

#include <curl/curl.h>

#include "transport/backend.h"
#include "transport/handover.h"

namespace tarn::backend {

struct Context {
    Env *env = nullptr;
    CURLM *multi = nullptr;  // made on first use
    CURL *kept = nullptr;    // keep-alive's easy handle, made on first use
    handover::Note note;
};

}  // namespace tarn::backend

namespace tarn::curl {

// libcurl's process-wide initialisation, done once whatever the threads.
bool global_init();

// The handle one call uses: the kept one with keep-alive on, else a new one
// that closes its connection when done. Null when none can be had.
CURL *acquire(backend::Context *ctx, bool *kept);

// Ends a call: a kept handle loses the options that point at the call's
// buffers and keeps its connection; another handle is cleaned up.
void release(backend::Context *ctx, CURL *c, bool kept);

// Runs one transfer to its end, or until the session's abort. Returns
// CURLE_ABORTED_BY_CALLBACK when aborted.
CURLcode perform(backend::Context *ctx, CURL *c);

}  // namespace tarn::curl
