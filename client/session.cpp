// The session: its lifecycle, settings, errors and the default session
// behind the tarn_client_* functions.
#include <yyjson.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "state.h"
#include "transport/wire.h"

namespace tarn {
namespace {

void copy_cut(char *dst, size_t cap, const char *src) {
    snprintf(dst, cap, "%s", src == nullptr ? "" : src);
}

// True when src, less the tail the setter drops anyway, needs more than cap.
bool exceeds(const char *src, size_t cap, bool strip_slashes) {
    if (src == nullptr) return false;
    size_t len = strlen(src);
    if (strip_slashes)
        while (len > 0 && src[len - 1] == '/') --len;
    return len >= cap;
}

}  // namespace

tarn_session *flat() {
    // The one session every tarn_client_* call shares; made on first use.
    static tarn_session session;
    return &session;
}

bool ensure_backend(tarn_session *s) {
    if (s->backend != nullptr) return true;
    s->backend = backend::open(&s->env);
    if (s->backend == nullptr) return false;
    s->own_io = backend::table(s->backend);
    return true;
}

void set_error(tarn_session *s, int code, const char *msg) {
    copy_cut(s->error, kErrorCap, msg);
    s->error_code = code;
}

void clear_state(tarn_session *s) {
    s->error[0] = '\0';
    s->error_code = TARN_E_NONE;
    s->cell[0] = '\0';
    if (s->result != nullptr) s->result[0] = '\0';
    s->result_len = 0;
    s->has_reply = false;
    drop_grid(&s->grid);
    s->http_status = 0;
    s->env.limits.begin_operation();
}

Operation::Operation(tarn_session *s) : s_(s) {
    clear_state(s);
    s->env.abort.begin();
}

Operation::~Operation() {
    s_->env.abort.end();
}

}  // namespace tarn

tarn_session::~tarn_session() {
    tarn::drop_grid(&grid);
    free(result);
    tarn::backend::close(backend);
}

using namespace tarn;

extern "C" {

TARN_API tarn_session *tarn_session_new(void) {
    auto *s = new (std::nothrow) tarn_session;
    if (s == nullptr) return nullptr;
    if (!ensure_backend(s)) {
        delete s;
        return nullptr;
    }
    return s;
}

TARN_API void tarn_session_free(tarn_session *s) {
    delete s;
}

TARN_API void tarn_session_abort(tarn_session *s) {
    if (s != nullptr) s->env.abort.request();
}

TARN_API int tarn_session_error_code(const tarn_session *s) {
    return s->error_code;
}

TARN_API void tarn_session_set_host(tarn_session *s, const char *url) {
    if (absent(url)) {
        copy_cut(s->host, kHostCap, kDefaultHost);
        s->host_too_long = false;
        return;
    }
    s->host_too_long = exceeds(url, kHostCap, true);
    copy_cut(s->host, kHostCap, url);
    size_t len = strlen(s->host);
    while (len > 0 && s->host[len - 1] == '/') s->host[--len] = '\0';
}

TARN_API void tarn_session_set_password(tarn_session *s, const char *pwd) {
    s->pwd_too_long = exceeds(pwd, kPwdCap, false);
    copy_cut(s->pwd, kPwdCap, pwd);
}

TARN_API void tarn_session_set_jwt(tarn_session *s, const char *jwt) {
    s->jwt_too_long = exceeds(jwt, kJwtCap, false);
    copy_cut(s->jwt, kJwtCap, jwt);
}

TARN_API void tarn_session_set_io(tarn_session *s, const tarn_client_io *io) {
    s->io = io;
}

TARN_API const tarn_client_io *tarn_session_default_io(tarn_session *s) {
    // Without a context the table still answers, with every request
    // failing for want of memory.
    ensure_backend(s);
    return &s->own_io;
}

TARN_API void tarn_session_set_keepalive(tarn_session *s, int32_t on) {
    s->env.keepalive = on != 0;
    if (on == 0) backend::drop_connection(s->backend);
}

TARN_API int32_t tarn_session_set_tls(tarn_session *s, const char *policy) {
    tls::Policy parsed;
    if (!tls::parse(policy, &parsed)) {
        set_error(s, TARN_E_SETTINGS, "invalid tls policy");
        return -1;
    }
    s->env.policy = parsed;
    set_error(s, TARN_E_NONE, "");
    return 0;
}

TARN_API int32_t tarn_session_tls_pin(tarn_session *s) {
    Operation op(s);
    char pin[tls::kPinLen + 1];
    if (const char *failure = backend::fetch_pin(&s->env, s->host, pin)) {
        // Only a failed connection or handshake is the transport's.
        bool bad_url =
            strncmp(failure, "tls-pin needs", 13) == 0 || strcmp(failure, wire::kInvalidUrl) == 0;
        set_error(s, bad_url ? TARN_E_SETTINGS : TARN_E_TRANSPORT, failure);
        return -1;
    }
    return store_result(s, pin);
}

TARN_API int32_t tarn_session_set_max_time(tarn_session *s, int32_t seconds) {
    if (seconds < 0) {
        set_error(s, TARN_E_ARGUMENT, "invalid time limit");
        return -1;
    }
    s->env.limits.max_time_s = seconds;
    return 0;
}

TARN_API void tarn_session_set_trace(tarn_session *s, tarn_client_trace_fn fn, void *user_data) {
    s->env.trace.set(fn, user_data);
}

TARN_API const char *tarn_session_result(tarn_session *s) {
    return s->result != nullptr ? s->result : "";
}

TARN_API const char *tarn_session_last_error(tarn_session *s) {
    return s->error;
}

TARN_API int32_t tarn_session_http_status(tarn_session *s) {
    return s->http_status;
}

TARN_API int32_t tarn_client_init(void) {
    return 0;
}

TARN_API void tarn_client_cleanup(void) {
    // The policy, trace sink, time limit and keep-alive flag stay.
    tarn_session *s = flat();
    clear_state(s);
    // A large reply's buffer is not kept for the life of the process.
    free(s->result);
    s->result = nullptr;
    s->result_cap = 0;
    s->io = nullptr;
    backend::drop_connection(s->backend);
}

TARN_API const char *tarn_client_version(void) {
    struct Text {
        char text[128];
        Text() {
            // The reader linked in, which may differ from the header built against.
            uint32_t v = yyjson_version();
            snprintf(text, sizeof text, "tarn-client %s %s yyjson/%u.%u.%u",
                     TARN_CLIENT_VERSION_STRING, backend::label(), static_cast<unsigned>(v >> 16),
                     static_cast<unsigned>((v >> 8) & 0xFF), static_cast<unsigned>(v & 0xFF));
        }
    };
    // Made once, whatever the threads, and never written again.
    static const Text made;
    return made.text;
}

}  // extern "C"
