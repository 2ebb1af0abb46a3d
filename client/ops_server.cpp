// Object scripting, server activity and storage.
#include "ops.h"

using namespace tarn;

extern "C" {

TARN_API int tarn_client_script(const char *server, const char *action, const char *kind,
                                const char *db, const char *schema, const char *obj) {
    clear_state();
    if (absent(action)) return reject("action is required");
    Query q;
    if (!absent(server)) q_add(&q, "server", server);
    q_add(&q, "action", action);
    if (!absent(kind)) q_add(&q, "kind", kind);
    if (!absent(db)) q_add(&q, "db", db);
    if (!absent(schema)) q_add(&q, "schema", schema);
    if (!absent(obj)) q_add(&q, "obj", obj);
    return send_and_parse(kGet, "/script", q, nullptr);
}

TARN_API int tarn_client_activity(const char *server, const char *action) {
    clear_state();
    Query q;
    if (!absent(server)) q_add(&q, "server", server);
    q_add(&q, "action", absent(action) ? "sessions" : action);
    return send_and_parse(kGet, "/activity", q, nullptr);
}

TARN_API int tarn_client_activity_kill(const char *server, int spid) {
    clear_state();
    if (spid <= 0) return reject("spid must be > 0");
    return send_json_and_parse("/activity", "action=kill", spid_body(server, spid));
}

TARN_API int tarn_client_storage(const char *server, const char *action, const char *db) {
    clear_state();
    Query q;
    if (!absent(server)) q_add(&q, "server", server);
    q_add(&q, "action", absent(action) ? "files" : action);
    if (!absent(db)) q_add(&q, "db", db);
    return send_and_parse(kGet, "/storage", q, nullptr);
}

TARN_API int tarn_client_storage_post(const char *action, const char *json_body) {
    clear_state();
    if (absent(action)) return reject("action is required");
    if (absent(json_body)) return reject("json_body is required");
    // Percent-encoded, so "&" or "=" in the action cannot add parameters.
    Query q;
    q_add(&q, "action", action);
    return send_and_parse(kPost, "/storage", q, json_body);
}

}  // extern "C"
