// do_request: the one road from an operation to the service and back.
#include <yyjson.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "encode.h"
#include "state.h"
#include "transport/wire.h"

namespace tarn {
namespace {

// Header lines are joined with "\n", so a credential holding a control
// byte could smuggle extra header lines to the service.
bool has_control_byte(const char *s) {
    for (; *s != '\0'; ++s) {
        auto c = static_cast<unsigned char>(*s);
        if (c < 0x20 || c == 0x7F) return true;
    }
    return false;
}

// Why the settings cannot make a request, or null when they can. A value
// that would be cut or misread on the wire sends nothing.
const char *settings_fault(const tarn_session *s) {
    if (s->host_too_long) return "base url too long";
    // The path and the password would land inside the query or fragment.
    if (strpbrk(s->host, "?#") != nullptr) return "invalid base url";
    if (s->pwd_too_long) return "password too long";
    if (s->jwt_too_long) return "token too long";
    if (has_control_byte(s->pwd)) return "password contains a control character";
    if (has_control_byte(s->jwt)) return "token contains a control character";
    return nullptr;
}

void release(const tarn_client_io *io, char *buf) {
    if (buf == nullptr) return;
    if (io->free_buf != nullptr)
        io->free_buf(io->user_data, buf);
    else
        free(buf);
}

// The operation's query with the password joined; false when it does not fit.
bool build_query(const tarn_session *s, Query *q, const char *query) {
    q_start(q, query);
    if (s->pwd[0] != '\0') q_add(q, "pwd", s->pwd);
    return !q->too_long;
}

void build_headers(const tarn_session *s, char *out, bool has_body) {
    size_t len = 0;
    out[0] = '\0';
    if (has_body) {
        snprintf(out, kHeaderCap, "Content-Type: application/json");
        len = 30;
    }
    if (s->pwd[0] != '\0') {
        int n = snprintf(out + len, kHeaderCap - len, "%sX-Bot-Password: %s", len != 0 ? "\n" : "",
                         s->pwd);
        if (n > 0) len += static_cast<size_t>(n);
    }
    // The block is sized for every line whole; the check only guards it.
    size_t jwt_len = strlen(s->jwt);
    if (jwt_len > 0 && len + jwt_len + 23 <= kHeaderCap - 1) {
        int n =
            snprintf(out + len, kHeaderCap - len, "%sAuthorization: Bearer ", len != 0 ? "\n" : "");
        if (n > 0) len += static_cast<size_t>(n);
        memcpy(out + len, s->jwt, jwt_len + 1);
    }
}

// "HTTP %ld", with the reply's root "error" string when it has one.
void format_http_error(char *msg, long status, const char *body) {
    snprintf(msg, kErrorCap, "HTTP %ld", status);
    if (body == nullptr || body[0] == '\0') return;
    yyjson_doc *doc = yyjson_read_opts(const_cast<char *>(body), strlen(body), 0, nullptr, nullptr);
    if (doc == nullptr) return;
    yyjson_val *root = yyjson_doc_get_root(doc);
    if (yyjson_is_obj(root)) {
        yyjson_val *err = yyjson_obj_get(root, "error");
        if (yyjson_is_str(err) && yyjson_get_len(err) > 0)
            snprintf(msg, kErrorCap, "HTTP %ld: %s", status, yyjson_get_str(err));
    }
    yyjson_doc_free(doc);
}

// A body from the library's own backend becomes the result buffer as it
// is; the text is what comes before its first NUL byte.
void adopt_result(tarn_session *s, char *body, size_t len, size_t cap) {
    const void *nul = memchr(body, '\0', len);
    free(s->result);
    s->result = body;
    s->result_cap = cap;
    s->result_len =
        nul != nullptr ? static_cast<size_t>(static_cast<const char *>(nul) - body) : len;
    s->has_reply = true;
}

// The code of a failure the backend reported with the text why.
int failure_code(const char *why) {
    if (strcmp(why, tls::kRejected) == 0) return TARN_E_CERTIFICATE;
    if (strcmp(why, wire::kOutOfMemory) == 0) return TARN_E_NOMEM;
    return TARN_E_TRANSPORT;
}

long elapsed_ms(std::chrono::steady_clock::time_point since) {
    auto d = std::chrono::steady_clock::now() - since;
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(d).count());
}

}  // namespace

int32_t store_result(tarn_session *s, const char *body) {
    if (body == nullptr) {
        if (s->result != nullptr) s->result[0] = '\0';
        s->has_reply = true;
        return 0;
    }
    size_t need = strlen(body) + 1;
    if (s->result_cap < need) {
        size_t cap = need > kResultFloor ? need : kResultFloor;
        auto *grown = static_cast<char *>(mem_realloc(s->result, cap));
        if (grown == nullptr) {
            set_error(s, TARN_E_NOMEM, "out of memory");
            return -1;
        }
        s->result = grown;
        s->result_cap = cap;
    }
    memcpy(s->result, body, need);
    s->result_len = need - 1;
    s->has_reply = true;
    return 0;
}

int32_t do_request(tarn_session *s, int32_t method, const char *path, const char *query,
                   const char *body) {
    s->http_status = 0;
    if (s->io == nullptr && !ensure_backend(s)) {
        set_error(s, TARN_E_NOMEM, "out of memory");
        return -1;
    }
    const tarn_client_io *io = s->io != nullptr ? s->io : &s->own_io;
    if (io->get == nullptr || io->post == nullptr) {
        set_error(s, TARN_E_SETTINGS, "no IO backend installed (call tarn_client_set_io)");
        return -1;
    }
    if (const char *fault = settings_fault(s)) {
        set_error(s, TARN_E_SETTINGS, fault);
        return -1;
    }

    Query q;
    if (!build_query(s, &q, query)) {
        set_error(s, TARN_E_ARGUMENT, "query string too long");
        return -1;
    }
    char url[kUrlCap];
    int url_len = snprintf(url, sizeof url, "%s%s%s", s->host, path, q.text);
    if (url_len < 0 || static_cast<size_t>(url_len) >= sizeof url) {
        set_error(s, TARN_E_ARGUMENT, "url too long");
        return -1;
    }
    char headers[kHeaderCap];
    build_headers(s, headers, body != nullptr);
    const char *hdr = headers[0] != '\0' ? headers : nullptr;

    const trace::Sink &trace = s->env.trace;
    limits::Clock &limits = s->env.limits;
    Abort &abort = s->env.abort;
    const char *verb = method == kGet ? "GET" : "POST";
    if (trace.on()) trace.line(trace::kInfo, std::string(verb) + " " + url);
    if (limits.expired()) {
        // An earlier exchange of this operation used up the time.
        trace.linef(trace::kInfo, "not sent: %s", limits.timeout_message());
        set_error(s, TARN_E_TIMEOUT, limits.timeout_message());
        return -1;
    }
    if (abort.requested()) {
        trace.linef(trace::kInfo, "not sent: %s", wire::kAborted);
        set_error(s, TARN_E_ABORTED, wire::kAborted);
        return -1;
    }
    auto started = std::chrono::steady_clock::now();

    char *out_body = nullptr;
    char *out_error = nullptr;
    int32_t status = 0;
    int32_t rc;
    if (method == kGet)
        rc = io->get(io->user_data, url, hdr, &out_body, &status, &out_error);
    else
        rc = io->post(io->user_data, url, body != nullptr ? body : "", hdr, &out_body, &status,
                      &out_error);

    if (rc == 0 && abort.requested()) {
        // A caller's table that could not be interrupted: its reply is
        // too late to count.
        rc = -1;
        release(io, out_body);
        out_body = nullptr;
    }
    s->http_status = rc == 0 ? status : 0;
    if (rc != 0) {
        const char *why = absent(out_error) ? "transport failure" : out_error;
        int code = failure_code(why);
        // Whatever the backend saw fail, the limit or the abort ended it.
        if (abort.requested()) {
            why = wire::kAborted;
            code = TARN_E_ABORTED;
        } else if (limits.expired()) {
            why = limits.timeout_message();
            code = TARN_E_TIMEOUT;
        }
        trace.linef(trace::kInfo, "failed after %ld ms: %s", elapsed_ms(started), why);
        set_error(s, code, why);
        release(io, out_error);
        // A backend should hand out no body with a failure; if one does
        // anyway, it still comes back exactly once.
        release(io, out_body);
        return -1;
    }
    release(io, out_error);
    if (trace.on())
        trace.linef(trace::kInfo, "HTTP %ld, %lu bytes in %ld ms", static_cast<long>(status),
                    static_cast<unsigned long>(out_body != nullptr ? strlen(out_body) : 0),
                    elapsed_ms(started));

    size_t body_len = 0;
    size_t body_cap = 0;
    bool own_body =
        s->io == nullptr && backend::take_body(s->backend, out_body, &body_len, &body_cap);
    int32_t result;
    if (status >= 200 && status <= 299) {
        if (own_body) {
            adopt_result(s, out_body, body_len, body_cap);
            out_body = nullptr;
            result = 0;
        } else {
            result = store_result(s, out_body);
        }
    } else {
        char msg[kErrorCap];
        format_http_error(msg, status, out_body);
        set_error(s, TARN_E_HTTP, msg);
        result = -1;
    }
    release(io, out_body);
    return result;
}

}  // namespace tarn
