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

TARN_API int tarn_client_admin(const char *server, const char *action, const char *db,
                               const char *extra) {
    clear_state();
    if (absent(action)) return reject("action is required");
    Query q;
    if (!absent(server)) q_add(&q, "server", server);
    q_add(&q, "action", action);
    if (!absent(db)) q_add(&q, "db", db);
    if (!absent(extra)) q_add(&q, strcmp(action, "history") == 0 ? "job_id" : "extra", extra);

    if (q.too_long) return reject("query string too long");
    if (do_request(kGet, "/admin", q.text, nullptr) == 0) {
        parse_grid();
        return 0;
    }
    const char *path = fallback_path(action);
    if (path == nullptr) return -1;
    s_error[0] = '\0';
    return send_and_parse(kGet, path, q.text, nullptr);
}

TARN_API int tarn_client_job_control(const char *server, const char *job_id, const char *verb) {
    clear_state();
    if (absent(job_id)) return reject("job_id is required");
    if (absent(verb)) verb = "start";
    if (!known_verb(verb)) return reject("verb must be start|stop|enable|disable|toggle");

    const JsonMember members[] = {json_text("server", server), json_text("job_id", job_id)};
    char q[64];
    snprintf(q, sizeof q, "action=%s", verb);
    return send_json_and_parse("/agent", q, json_object(members, 2));
}

}  // extern "C"
