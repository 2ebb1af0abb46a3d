#include "http_routes.h"

#include <cstdio>
#include <cstring>

#include "db.h"
#include "http_wire.h"

namespace demo {
namespace {

using Handler = void (*)(Service &, const Req &, Res &);

// "*" takes any action word (the route checks it); "" means no action.
struct Route {
    const char *path;
    const char *method;
    const char *action;
    Handler run;
};

const Route kRoutes[] = {
    {"/ping", "GET", "", ping},
    {"/connections", "GET", "list", conn_list},
    {"/connections", "POST", "save", conn_save},
    {"/connections", "POST", "delete", conn_delete},
    {"/connections", "POST", "test", conn_test},
    {"/tree", "GET", "", tree},
    {"/query", "POST", "", query_run},
    {"/query", "POST", "cancel", query_cancel},
    {"/editgrid", "GET", "load", editgrid_load},
    {"/editgrid", "POST", "apply", editgrid_apply},
    {"/script", "GET", "*", script},
    {"/activity", "GET", "sessions", activity_sessions},
    {"/activity", "POST", "kill", activity_kill},
    {"/storage", "GET", "files", storage_files},
    {"/storage", "POST", "*", storage_post},
    {"/admin", "GET", "*", admin},
    {"/agent", "GET", "jobs", agent_jobs},
    {"/agent", "GET", "history", agent_history},
    {"/agent", "POST", "*", agent_verb},
    {"/security", "GET", "*", security},
    {"/logs", "GET", "*", logs},
};

// Compares without stopping at the first difference, so the time taken
// says nothing about how much of a guess was right.
bool same_secret(const std::string &given, const std::string &want) {
    unsigned diff = given.size() == want.size() ? 0U : 1U;
    for (size_t i = 0; i < given.size(); ++i)
        diff |= static_cast<unsigned char>(given[i]) ^
                static_cast<unsigned char>(want.empty() ? 0 : want[i % want.size()]);
    return diff == 0;
}

// Empty when the request carries every credential the service was
// started with; otherwise what is missing.
std::string credential_problem(const Options &o, const Req &req) {
    if (!o.password.empty()) {
        bool q = req.has_param("pwd") && same_secret(req.get_param_value("pwd"), o.password);
        bool h = req.has_header("X-Bot-Password") &&
                 same_secret(req.get_header_value("X-Bot-Password"), o.password);
        if (!q || !h) return "a valid password is required (pwd and X-Bot-Password)";
    }
    if (!o.token.empty()) {
        std::string auth = req.get_header_value("Authorization");
        const std::string prefix = "Bearer ";
        if (auth.compare(0, prefix.size(), prefix) != 0 ||
            !same_secret(auth.substr(prefix.size()), o.token))
            return "a valid bearer token is required";
    }
    return "";
}

void dispatch(Service &svc, const Req &req, Res &res) {
    std::string action = param(req, "action");
    if (action.empty() && req.path == "/activity") action = "sessions";
    if (action.empty() && req.path == "/storage" && req.method == "GET") action = "files";
    bool path_known = false;
    bool method_known = false;
    for (const Route &r : kRoutes) {
        if (req.path != r.path) continue;
        path_known = true;
        if (req.method != r.method) continue;
        method_known = true;
        if (strcmp(r.action, "*") == 0 || action == r.action) {
            r.run(svc, req, res);
            return;
        }
    }
    if (!path_known)
        fail(res, 404, "no such path: " + req.path);
    else if (!method_known)
        fail(res, 405, req.method + " is not served at " + req.path);
    else
        fail(res, 400, "unknown action for " + req.path + ": \"" + action + "\"");
}

}  // namespace

void reply(Res &res, int status, const std::string &body) {
    res.status = status;
    res.set_content(body, "application/json");
}

void fail(Res &res, int status, const std::string &message) {
    reply(res, status, error_body(message));
}

std::string param(const Req &req, const char *name) {
    return req.has_param(name) ? req.get_param_value(name) : "";
}

std::optional<std::string> target_db(Service &svc, const std::string &server, const std::string &db,
                                     Res &res) {
    std::string name = db;
    if (!server.empty()) {
        auto p = svc.profiles.find(server);
        if (!p) {
            fail(res, 404, "no server \"" + server + "\" among the saved connections");
            return std::nullopt;
        }
        if (name.empty()) name = p->db;
    }
    if (name.empty()) {
        fail(res, 400, "db is required");
        return std::nullopt;
    }
    if (!db_exists(svc.opts.data_dir, name)) {
        fail(res, 404, "no database \"" + name + "\"");
        return std::nullopt;
    }
    return name;
}

bool open_for(Service &svc, const std::string &db, Conn &conn, Res &res) {
    std::string err;
    if (conn.open(db_path(svc.opts.data_dir, db), err)) return true;
    fail(res, storage_status(conn.rc(), 500), "cannot open " + db + ": " + err);
    return false;
}

HttpHandlers make_handlers(Service &svc) {
    HttpHandlers h;
    h.handle = [&svc](const Req &req, Res &res) { dispatch(svc, req, res); };
    // Before the body is read, so a stranger's request costs its head only.
    h.gate = [&svc](const Req &req, Res &res) {
        std::string problem = credential_problem(svc.opts, req);
        if (problem.empty()) return false;
        res.set_header("WWW-Authenticate", "Bearer");
        fail(res, 401, problem);
        return true;
    };
    // What must get through while every query worker is busy.
    h.is_control = [](const Req &req) {
        return req.path == "/ping" || req.path == "/activity" ||
               (req.path == "/query" && param(req, "action") == "cancel");
    };
    h.done = [&svc](const Req &req, const Res &res, long long ms) {
        svc.log.request(req.method, req.path, res.status);
        if (svc.opts.quiet) return;
        std::string target = req.target.empty() ? "-" : wire::redact_target(req.target);
        fprintf(stderr, "%s %s %s %d %zu %lld ms\n", iso_time(now_ms()).c_str(),
                req.method.empty() ? "-" : req.method.c_str(), target.c_str(), res.status,
                res.body.size(), ms);
    };
    return h;
}

}  // namespace demo
