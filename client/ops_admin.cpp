// Administration views (with their fallback paths) and agent job control.
#include <cstdio>
#include <cstring>

#include "ops.h"

using namespace tarn;

namespace {

// Where an admin view is served when "/admin" itself fails.
const char *fallback_path(const char *action) {
    static const struct {
        const char *action;
        const char *path;
    } kFallbacks[] = {
        {"jobs", "/agent"},        {"history", "/agent"},
        {"logins", "/security"},   {"server_roles", "/security"},
        {"db_users", "/security"}, {"permissions", "/security"},
        {"errorlog", "/logs"},     {"agentlog", "/logs"},
        {"querystore", "/logs"},
    };
    for (const auto &f : kFallbacks)
        if (strcmp(action, f.action) == 0) return f.path;
    return nullptr;
}

bool known_verb(const char *verb) {
    static const char *const kVerbs[] = {"start", "stop", "enable", "disable", "toggle"};
    for (const char *v : kVerbs)
        if (strcmp(verb, v) == 0) return true;
    return false;
}

}  // namespace

extern "C" {

TARN_API int tarn_session_admin(tarn_session *s, const char *server, const char *action,
                                const char *db, const char *extra) {
    Operation op(s);
    if (absent(action)) return reject(s, "action is required");
    Query q;
    if (!absent(server)) q_add(&q, "server", server);
    q_add(&q, "action", action);
    if (!absent(db)) q_add(&q, "db", db);
    if (!absent(extra)) q_add(&q, strcmp(action, "history") == 0 ? "job_id" : "extra", extra);

    if (q.too_long) return reject(s, "query string too long");
    if (do_request(s, kGet, "/admin", q.text, nullptr) == 0) {
        parse_grid(s);
        return 0;
    }
    const char *path = fallback_path(action);
    if (path == nullptr) return -1;
    set_error(s, TARN_E_NONE, "");
    return send_and_parse(s, kGet, path, q.text, nullptr);
}

TARN_API int tarn_session_job_control(tarn_session *s, const char *server, const char *job_id,
                                      const char *verb) {
    Operation op(s);
    if (absent(job_id)) return reject(s, "job_id is required");
    if (absent(verb)) verb = "start";
    if (!known_verb(verb)) return reject(s, "verb must be start|stop|enable|disable|toggle");

    const JsonMember members[] = {json_text("server", server), json_text("job_id", job_id)};
    char q[64];
    snprintf(q, sizeof q, "action=%s", verb);
    return send_json_and_parse(s, "/agent", q, json_object(members, 2));
}

}  // extern "C"
