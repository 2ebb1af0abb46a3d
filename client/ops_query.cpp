// Object tree, queries and their cancellation.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "encode.h"
#include "ops.h"

using namespace tarn;

namespace {

// "{"server":"..","db":"..","sql":".."[,"max_rows":N][,"timeout_s":N][,"query_token":".."]}"
// The body is sized to hold every member whole, so a long SQL script
// reaches the service complete.
char *build_query_body(const char *server, const char *db, const char *sql, int max_rows,
                       int timeout_s, const char *query_token) {
    size_t sql_len = strlen(sql);
    auto *esc_sql = static_cast<char *>(mem_malloc(json_escape_room(sql_len)));
    if (esc_sql == nullptr) return nullptr;
    json_escape(sql, esc_sql, json_escape_room(sql_len));

    char esc_server[kMemberCap];
    char esc_db[kMemberCap];
    char esc_token[kMemberCap];
    json_escape(server, esc_server, sizeof esc_server);
    json_escape(db, esc_db, sizeof esc_db);
    json_escape(absent(query_token) ? "" : query_token, esc_token, sizeof esc_token);

    // Fixed text and two numbers of at most 11 characters each fit in 128.
    size_t cap = strlen(esc_server) + strlen(esc_db) + strlen(esc_sql) + strlen(esc_token) + 128;
    auto *body = static_cast<char *>(mem_malloc(cap));
    if (body == nullptr) {
        free(esc_sql);
        return nullptr;
    }
    int len = snprintf(body, cap, "{\"server\":\"%s\",\"db\":\"%s\",\"sql\":\"%s\"", esc_server,
                       esc_db, esc_sql);
    free(esc_sql);
    if (max_rows > 0) len += snprintf(body + len, cap - len, ",\"max_rows\":%d", max_rows);
    if (timeout_s > 0) len += snprintf(body + len, cap - len, ",\"timeout_s\":%d", timeout_s);
    if (!absent(query_token))
        len += snprintf(body + len, cap - len, ",\"query_token\":\"%s\"", esc_token);
    snprintf(body + len, cap - len, "}");
    return body;
}

}  // namespace

extern "C" {

TARN_API int tarn_client_tree(const char *server, const char *node_kind, const char *db,
                              const char *schema, const char *obj) {
    clear_state();
    if (absent(node_kind)) return reject("node_kind is required");
    char q[kQueryCap] = "";
    if (!absent(server)) q_add(q, "server", server);
    q_add(q, "node", node_kind);
    if (!absent(db)) q_add(q, "db", db);
    if (!absent(schema)) q_add(q, "schema", schema);
    if (!absent(obj)) q_add(q, "obj", obj);
    return send_and_parse(kGet, "/tree", q, nullptr);
}

TARN_API int tarn_client_query(const char *server, const char *db, const char *sql, int max_rows,
                               int timeout_s, const char *query_token) {
    clear_state();
    if (absent(sql)) return reject("sql is required");
    char *body = build_query_body(server, db, sql, max_rows, timeout_s, query_token);
    if (body == nullptr) return reject("out of memory");
    int rc = send_and_parse(kPost, "/query", nullptr, body);
    free(body);
    return rc;
}

TARN_API int tarn_client_cancel(const char *server, const char *query_token) {
    clear_state();
    if (absent(query_token)) return reject("query_token is required");
    char esc_server[kMemberCap];
    char esc_token[kMemberCap];
    json_escape(server, esc_server, sizeof esc_server);
    json_escape(query_token, esc_token, sizeof esc_token);
    char body[2300];
    snprintf(body, sizeof body, "{\"server\":\"%s\",\"query_token\":\"%s\"}", esc_server,
             esc_token);
    return send_and_parse(kPost, "/query", "action=cancel", body);
}

TARN_API int tarn_client_cancel_spid(const char *server, int spid) {
    clear_state();
    if (spid <= 0) return reject("spid must be > 0");
    char body[kSpidBodyCap];
    format_spid_body(body, server, spid);
    return send_and_parse(kPost, "/query", "action=cancel", body);
}

}  // extern "C"
