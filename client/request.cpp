// do_request: the one road from an operation to the service and back.
#include <yyjson.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "encode.h"
#include "state.h"
#include "transport/backends.h"
#include "transport/exchange_limits.h"
#include "transport/handover.h"
#include "transport/trace.h"

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
const char *settings_fault() {
    if (s_host_too_long) return "base url too long";
    // The path and the password would land inside the query or fragment.
    if (strpbrk(s_host, "?#") != nullptr) return "invalid base url";
    if (s_pwd_too_long) return "password too long";
    if (s_jwt_too_long) return "token too long";
    if (has_control_byte(s_pwd)) return "password contains a control character";
    if (has_control_byte(s_jwt)) return "token contains a control character";
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
bool build_query(Query *q, const char *query) {
    q_start(q, query);
    if (s_pwd[0] != '\0') q_add(q, "pwd", s_pwd);
    return !q->too_long;
}

void build_headers(char *out, bool has_body) {
    size_t len = 0;
    out[0] = '\0';
    if (has_body) {
        snprintf(out, kHeaderCap, "Content-Type: application/json");
        len = 30;
    }
    if (s_pwd[0] != '\0') {
        int n = snprintf(out + len, kHeaderCap - len, "%sX-Bot-Password: %s", len != 0 ? "\n" : "",
                         s_pwd);
        if (n > 0) len += static_cast<size_t>(n);
    }
    // The block is sized for every line whole; the check only guards it.
    size_t jwt_len = strlen(s_jwt);
    if (jwt_len > 0 && len + jwt_len + 23 <= kHeaderCap - 1) {
        int n =
            snprintf(out + len, kHeaderCap - len, "%sAuthorization: Bearer ", len != 0 ? "\n" : "");
        if (n > 0) len += static_cast<size_t>(n);
        memcpy(out + len, s_jwt, jwt_len + 1);
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
void adopt_result(char *body, size_t len, size_t cap) {
    const void *nul = memchr(body, '\0', len);
    free(s_result);
    s_result = body;
    s_result_cap = cap;
    s_result_len =
        nul != nullptr ? static_cast<size_t>(static_cast<const char *>(nul) - body) : len;
}

long elapsed_ms(std::chrono::steady_clock::time_point since) {
    auto d = std::chrono::steady_clock::now() - since;
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(d).count());
}

}  // namespace

int32_t store_result(const char *body) {
    if (body == nullptr) {
        if (s_result != nullptr) s_result[0] = '\0';
        return 0;
    }
    size_t need = strlen(body) + 1;
    if (s_result_cap < need) {
        size_t cap = need > kResultFloor ? need : kResultFloor;
        auto *grown = static_cast<char *>(mem_realloc(s_result, cap));
        if (grown == nullptr) {
            set_error("out of memory");
            return -1;
        }
        s_result = grown;
        s_result_cap = cap;
    }
    memcpy(s_result, body, need);
    s_result_len = need - 1;
    return 0;
}

int32_t do_request(int32_t method, const char *path, const char *query, const char *body) {
    s_http_status = 0;
    if (s_io == nullptr) s_io = default_io();
    const tarn_client_io *io = s_io;
    if (io->get == nullptr || io->post == nullptr) {
        set_error("no IO backend installed (call tarn_client_set_io)");
        return -1;
    }
    if (const char *fault = settings_fault()) {
        set_error(fault);
        return -1;
    }

    Query q;
    if (!build_query(&q, query)) {
        set_error("query string too long");
        return -1;
    }
    char url[kUrlCap];
    int url_len = snprintf(url, sizeof url, "%s%s%s", s_host, path, q.text);
    if (url_len < 0 || static_cast<size_t>(url_len) >= sizeof url) {
        set_error("url too long");
        return -1;
    }
    char headers[kHeaderCap];
    build_headers(headers, body != nullptr);
    const char *hdr = headers[0] != '\0' ? headers : nullptr;

    const char *verb = method == kGet ? "GET" : "POST";
    if (trace::on()) trace::line(trace::kInfo, std::string(verb) + " " + url);
    if (limits::expired()) {
        // An earlier exchange of this operation used up the time.
        trace::linef(trace::kInfo, "not sent: %s", limits::timeout_message());
        set_error(limits::timeout_message());
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

    s_http_status = rc == 0 ? status : 0;
    if (rc != 0) {
        const char *why = absent(out_error) ? "transport failure" : out_error;
        // Whatever the backend saw fail, the limit is what ended it.
        if (limits::expired()) why = limits::timeout_message();
        trace::linef(trace::kInfo, "failed after %ld ms: %s", elapsed_ms(started), why);
        set_error(why);
        release(io, out_error);
        // A backend should hand out no body with a failure; if one does
        // anyway, it still comes back exactly once.
        release(io, out_body);
        return -1;
    }
    release(io, out_error);
    if (trace::on())
        trace::linef(trace::kInfo, "HTTP %ld, %lu bytes in %ld ms", static_cast<long>(status),
                     static_cast<unsigned long>(out_body != nullptr ? strlen(out_body) : 0),
                     elapsed_ms(started));

    size_t body_len = 0;
    size_t body_cap = 0;
    bool own_body = io == default_io() && handover::take(out_body, &body_len, &body_cap);
    int32_t result;
    if (status >= 200 && status <= 299) {
        if (own_body) {
            adopt_result(out_body, body_len, body_cap);
            out_body = nullptr;
            result = 0;
        } else {
            result = store_result(out_body);
        }
    } else {
        char msg[kErrorCap];
        format_http_error(msg, status, out_body);
        set_error(msg);
        result = -1;
    }
    release(io, out_body);
    return result;
}

}  // namespace tarn
