// Shared tail of every service operation.
#pragma once

#include <cstdlib>

#include "encode.h"
#include "state.h"

namespace tarn {

// Sends the request and, on success, locates the grid in the reply.
inline int send_and_parse(tarn_session *s, int32_t method, const char *path, const char *query,
                          const char *body) {
    if (do_request(s, method, path, query, body) != 0) return -1;
    parse_grid(s);
    return 0;
}

// Sets "<what>" as the error and returns -1: the argument-check exit.
inline int reject(tarn_session *s, const char *message, int code = TARN_E_ARGUMENT) {
    set_error(s, code, message);
    return -1;
}

// A query that did not fit is refused whole: nothing is sent.
inline int send_and_parse(tarn_session *s, int32_t method, const char *path, const Query &q,
                          const char *body) {
    if (q.too_long) return reject(s, "query string too long");
    return send_and_parse(s, method, path, q.text, body);
}

// Sends a body built by json_object and releases it; a body that could not
// be built sends nothing.
inline int send_json_and_parse(tarn_session *s, const char *path, const char *query, char *body) {
    if (body == nullptr) return reject(s, "out of memory", TARN_E_NOMEM);
    int rc = send_and_parse(s, kPost, path, query, body);
    free(body);
    return rc;
}

// The body of a query (ops_query.cpp); null when out of memory.
char *build_query_body(const char *server, const char *db, const char *sql, int max_rows,
                       int timeout_s, const char *query_token);

// {"server":"..","spid":N}: the body of both ways to stop a process.
inline char *spid_body(const char *server, int spid) {
    const JsonMember members[] = {json_text("server", server), json_number("spid", spid)};
    return json_object(members, 2);
}

}  // namespace tarn
