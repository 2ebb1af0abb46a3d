// Object scripting, server activity and storage.
#include "ops.h"

using namespace tarn;

extern "C" {

TARN_API int tarn_session_script(tarn_session *s, const char *server, const char *action,
                                 const char *kind, const char *db, const char *schema,
                                 const char *obj) {
    Operation op(s);
    if (absent(action)) return reject(s, "action is required");
    Query q;
    if (!absent(server)) q_add(&q, "server", server);
    q_add(&q, "action", action);
    if (!absent(kind)) q_add(&q, "kind", kind);
    if (!absent(db)) q_add(&q, "db", db);
    if (!absent(schema)) q_add(&q, "schema", schema);
    if (!absent(obj)) q_add(&q, "obj", obj);
    return send_and_parse(s, kGet, "/script", q, nullptr);
}

TARN_API int tarn_session_activity(tarn_session *s, const char *server, const char *action) {
    Operation op(s);
    Query q;
    if (!absent(server)) q_add(&q, "server", server);
    q_add(&q, "action", absent(action) ? "sessions" : action);
    return send_and_parse(s, kGet, "/activity", q, nullptr);
}

TARN_API int tarn_session_activity_kill(tarn_session *s, const char *server, int spid) {
    Operation op(s);
    if (spid <= 0) return reject(s, "spid must be > 0");
    return send_json_and_parse(s, "/activity", "action=kill", spid_body(server, spid));
}

TARN_API int tarn_session_storage(tarn_session *s, const char *server, const char *action,
                                  const char *db) {
    Operation op(s);
    Query q;
    if (!absent(server)) q_add(&q, "server", server);
    q_add(&q, "action", absent(action) ? "files" : action);
    if (!absent(db)) q_add(&q, "db", db);
    return send_and_parse(s, kGet, "/storage", q, nullptr);
}

TARN_API int tarn_session_storage_post(tarn_session *s, const char *action, const char *json_body) {
    Operation op(s);
    if (absent(action)) return reject(s, "action is required");
    if (absent(json_body)) return reject(s, "json_body is required");
    // Percent-encoded, so "&" or "=" in the action cannot add parameters.
    Query q;
    q_add(&q, "action", action);
    return send_and_parse(s, kPost, "/storage", q, json_body);
}

}  // extern "C"
