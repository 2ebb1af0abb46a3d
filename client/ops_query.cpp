// Object tree, queries and their cancellation.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "encode.h"
#include "ops.h"

using namespace tarn;

namespace tarn {

// {"server":"..","db":"..","sql":".."[,"max_rows":N][,"timeout_s":N][,"query_token":".."]}
char *build_query_body(const char *server, const char *db, const char *sql, int max_rows,
                       int timeout_s, const char *query_token) {
    JsonMember members[6] = {json_text("server", server), json_text("db", db),
                             json_text("sql", sql)};
    size_t n = 3;
    if (max_rows > 0) members[n++] = json_number("max_rows", max_rows);
    if (timeout_s > 0) members[n++] = json_number("timeout_s", timeout_s);
    if (!absent(query_token)) members[n++] = json_text("query_token", query_token);
    return json_object(members, n);
}

}  // namespace tarn

extern "C" {

TARN_API int tarn_session_tree(tarn_session *s, const char *server, const char *node_kind,
                               const char *db, const char *schema, const char *obj) {
    Operation op(s);
    if (absent(node_kind)) return reject(s, "node_kind is required");
    Query q;
    if (!absent(server)) q_add(&q, "server", server);
    q_add(&q, "node", node_kind);
    if (!absent(db)) q_add(&q, "db", db);
    if (!absent(schema)) q_add(&q, "schema", schema);
    if (!absent(obj)) q_add(&q, "obj", obj);
    return send_and_parse(s, kGet, "/tree", q, nullptr);
}

TARN_API int tarn_session_query(tarn_session *s, const char *server, const char *db,
                                const char *sql, int max_rows, int timeout_s,
                                const char *query_token) {
    Operation op(s);
    if (absent(sql)) return reject(s, "sql is required");
    return send_json_and_parse(s, "/query", nullptr,
                               build_query_body(server, db, sql, max_rows, timeout_s, query_token));
}

TARN_API int tarn_session_cancel(tarn_session *s, const char *server, const char *query_token) {
    Operation op(s);
    if (absent(query_token)) return reject(s, "query_token is required");
    const JsonMember members[] = {json_text("server", server),
                                  json_text("query_token", query_token)};
    return send_json_and_parse(s, "/query", "action=cancel", json_object(members, 2));
}

TARN_API int tarn_session_cancel_spid(tarn_session *s, const char *server, int spid) {
    Operation op(s);
    if (spid <= 0) return reject(s, "spid must be > 0");
    return send_json_and_parse(s, "/query", "action=cancel", spid_body(server, spid));
}

}  // extern "C"
