// The built-in HTTP backend as the core sees it: one context per session,
// handed to the table's slots as user_data. Each platform's adapter (curl/,
// winhttp/) defines these; what both share lives beside this header.
#pragma once

#include <cstddef>

#include "tarn_client.h"
#include "transport/abort.h"
#include "transport/exchange_limits.h"
#include "transport/tls_policy.h"
#include "transport/trace.h"

namespace tarn::backend {

// Where the body of a 2xx reply goes as it arrives, instead of being kept
// and handed out (the call then hands out ""). Other replies are kept as
// usual, for their error text. Runs on the thread doing the exchange.
struct BodySink {
    // Non-zero stops the exchange, which then fails with wire::kStopped.
    int (*bytes)(void *user_data, const char *data, size_t n) = nullptr;
    void *user_data = nullptr;
    bool on() const { return bytes != nullptr; }
};

// What a session lends its backend; the backend reads it on every exchange.
struct Env {
    tls::Policy policy;
    bool keepalive = false;  // keep the connection to the last origin between calls
    trace::Sink trace;
    limits::Clock limits;
    Abort abort;
    BodySink body;  // set only for the length of one streaming operation
};

struct Context;

// A context for env, which must outlive it; null when out of memory.
Context *open(Env *env);
void close(Context *ctx);

// Closes the kept connection, if any.
void drop_connection(Context *ctx);

// The built-in table bound to ctx: get, post, put, del and free_buf.
tarn_client_io table(Context *ctx);

// True when buf is the body ctx handed out last, with its byte length and
// its capacity; the core then adopts the buffer instead of copying it.
bool take_body(Context *ctx, const char *buf, size_t *len, size_t *cap);

// The backend and its version, as "libcurl/7.88.1" or "WinHTTP".
const char *label();

// Connects to the https URL's server, completes the handshake whatever the
// certificate, sends nothing, and writes the server's pin ("sha256//" and
// base64) to out (at least tls::kPinLen + 1 bytes). Returns null, or the
// message to fail with.
const char *fetch_pin(Env *env, const char *url, char *out);

// A kept connection idle for longer than this many seconds is not reused
// (30; a variable only so that tests can shorten it).
extern long idle_seconds;

}  // namespace tarn::backend

namespace tarn {

// Idle limits of the libcurl backend, in milliseconds. Variables only so
// that tests can shorten them; nothing else writes them.
struct CurlTimeouts {
    long connect_ms;  // name resolution and TCP connect together
    long send_ms;     // longest pause while the request goes out
    long receive_ms;  // longest pause while waiting for or reading the reply
};
extern CurlTimeouts curl_timeouts;

// WinHTTP's per-step limits, in milliseconds, as WinHttpSetTimeouts takes
// them. Variables only so that tests can shorten them.
struct WinHttpTimeouts {
    int resolve_ms;
    int connect_ms;
    int send_ms;
    int receive_ms;
    int response_ms;  // whole response head; 0 leaves WinHTTP's own limit
};
extern WinHttpTimeouts winhttp_timeouts;

}  // namespace tarn
