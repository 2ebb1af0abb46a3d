// Routes about the service itself: activity, storage, administration
// views, agent jobs, security and logs.
#include <sqlite3.h>
#include <sys/stat.h>

#include "db.h"
#include "http_routes.h"

namespace demo {
namespace {

long long file_size(const std::string &path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? static_cast<long long>(st.st_size) : 0;
}

long long pragma_int(sqlite3 *db, const char *sql) {
    sqlite3_stmt *st = nullptr;
    long long v = -1;
    if (sqlite3_prepare_v2(db, sql, -1, &st, nullptr) == SQLITE_OK &&
        sqlite3_step(st) == SQLITE_ROW)
        v = sqlite3_column_int64(st, 0);
    sqlite3_finalize(st);
    return v;
}

// Resolves {"server","db"} of a POST body.
std::optional<std::string> body_db(Service &svc, const Req &req, Res &res) {
    JsonDoc doc(req.body);
    if (!doc.is_object()) {
        fail(res, 400, "a JSON object body naming \"db\" is required");
        return std::nullopt;
    }
    return target_db(svc, doc.str("server").value_or(""), doc.str("db").value_or(""), res);
}

bool check_server(Service &svc, const Req &req, Res &res) {
    std::string server = param(req, "server");
    if (server.empty() || svc.profiles.find(server)) return true;
    fail(res, 404, "no server \"" + server + "\" among the saved connections");
    return false;
}

std::string str_row(std::initializer_list<std::string> cells) {
    std::string out = "[";
    for (const std::string &c : cells) out += (out.size() > 1 ? "," : "") + jstr(c);
    return out + "]";
}

}  // namespace

// Columns as strings; rows as objects whose members come in another
// order than the columns, so cells are found by name.
void activity_sessions(Service &svc, const Req &req, Res &res) {
    if (!check_server(svc, req, res)) return;
    std::string rows;
    long long now = now_ms();
    for (const auto &r : svc.running.list()) {
        rows += rows.empty() ? "{" : ",{";
        rows += "\"sql\":" + jstr(r.sql) + ",\"spid\":" + std::to_string(r.spid) +
                ",\"origin\":" + jstr(r.origin) + ",\"db\":" + jstr(r.db) +
                ",\"started\":" + jstr(iso_time(r.started_ms)) +
                ",\"elapsed_ms\":" + std::to_string(now - r.started_ms) +
                ",\"query_token\":" + jstr(r.token) + "}";
    }
    reply(
        res, 200,
        R"({"columns":["spid","origin","db","started","elapsed_ms","query_token","sql"],"rows":[)" +
            rows + "]}");
}

void activity_kill(Service &svc, const Req &req, Res &res) {
    JsonDoc doc(req.body);
    auto spid = doc.is_object() ? int_of(doc.get("spid")) : std::nullopt;
    if (!spid) return fail(res, 400, "a JSON body with \"spid\" is required");
    if (*spid <= 0 || *spid > INT32_MAX || !svc.running.cancel_spid(static_cast<int>(*spid)))
        return fail(res, 404, "no running request with spid " + std::to_string(*spid));
    reply(res, 200, "{\"ok\":true,\"killed\":" + std::to_string(*spid) + "}");
}

// Columns as {"name"} objects, rows as arrays.
void storage_files(Service &svc, const Req &req, Res &res) {
    if (!check_server(svc, req, res)) return;
    std::vector<std::string> dbs;
    std::string only = param(req, "db");
    if (!only.empty()) {
        auto db = target_db(svc, "", only, res);
        if (!db) return;
        dbs.push_back(*db);
    } else {
        dbs = list_dbs(svc.opts.data_dir);
    }
    std::string rows;
    for (const std::string &db : dbs) {
        Conn c;
        if (!open_for(svc, db, c, res)) return;
        std::string path = db_path(svc.opts.data_dir, db);
        rows += (rows.empty() ? "[" : ",[") + jstr(db) + "," + jstr(db + ".db") + "," +
                std::to_string(file_size(path)) + "," + std::to_string(file_size(path + "-wal")) +
                "," + std::to_string(pragma_int(c.get(), "PRAGMA page_size")) + "," +
                std::to_string(pragma_int(c.get(), "PRAGMA page_count")) + "," +
                std::to_string(pragma_int(c.get(), "PRAGMA freelist_count")) + "]";
    }
    reply(res, 200,
          R"({"columns":[{"name":"db"},{"name":"file"},{"name":"size_bytes"},{"name":"wal_bytes"},)"
          R"({"name":"page_size"},{"name":"page_count"},{"name":"freelist_count"}],"rows":[)" +
              rows + "]}");
}

// vacuum, checkpoint, integrity_check, analyze, optimize; the body names the db.
void storage_post(Service &svc, const Req &req, Res &res) {
    std::string action = param(req, "action");
    static const char *const kActions[] = {"vacuum", "checkpoint", "integrity_check", "analyze",
                                           "optimize"};
    if (std::find(std::begin(kActions), std::end(kActions), action) == std::end(kActions))
        return fail(res, 400,
                    "unknown storage action \"" + action +
                        "\" (vacuum, checkpoint, integrity_check, analyze, optimize)");
    auto db = body_db(svc, req, res);
    if (!db) return;
    Conn c;
    if (!open_for(svc, *db, c, res)) return;
    std::string path = db_path(svc.opts.data_dir, *db);
    std::string head = "{\"ok\":true,\"action\":" + jstr(action) + ",\"db\":" + jstr(*db);
    std::string err;
    if (action == "integrity_check") {
        std::string rows;
        if (!select_objects(c.get(), "PRAGMA integrity_check", {}, rows, err))
            return fail(res, storage_status(sqlite3_errcode(c.get()), 409), err);
        bool ok = rows == R"({"integrity_check":"ok"})";
        return reply(res, 200,
                     "{\"ok\":" + std::string(ok ? "true" : "false") + ",\"action\":" +
                         jstr(action) + ",\"db\":" + jstr(*db) + ",\"rows\":[" + rows + "]}");
    }
    if (action == "checkpoint") {
        std::string rows;
        if (!select_objects(c.get(), "PRAGMA wal_checkpoint(TRUNCATE)", {}, rows, err))
            return fail(res, storage_status(sqlite3_errcode(c.get()), 409), err);
        return reply(res, 200, head + ",\"result\":[" + rows + "]}");
    }
    long long before = file_size(path);
    const char *sql = action == "vacuum"    ? "VACUUM"
                      : action == "analyze" ? "ANALYZE"
                                            : "PRAGMA optimize";
    // VACUUM attaches a scratch database inside SQLite; this statement is
    // the service's own, so the guard against client ATTACH steps aside.
    c.trust();
    sqlite3_limit(c.get(), SQLITE_LIMIT_ATTACHED, 1);
    if (!c.exec(sql, err))
        return fail(res, storage_status(c.rc(), 409), action + " failed: " + err);
    reply(res, 200,
          head + ",\"size_before\":" + std::to_string(before) +
              ",\"size_after\":" + std::to_string(file_size(path)) + "}");
}

// Administration views are served at their own paths; the client falls back.
void admin(Service &, const Req &req, Res &res) {
    fail(res, 404,
         "no administration view \"" + param(req, "action") +
             "\" here: jobs are at /agent, logins and roles at /security, logs at /logs");
}

// Columns as strings, rows as arrays.
void agent_jobs(Service &svc, const Req &req, Res &res) {
    if (!check_server(svc, req, res)) return;
    std::string rows;
    for (const Job &j : svc.jobs.list()) {
        rows += (rows.empty() ? "[" : ",[") + jstr(j.id) + "," + jstr(j.name) + "," + jstr(j.db) +
                "," + (j.enabled ? "true" : "false") + "," + (j.spid != 0 ? "true" : "false") +
                "," + jstr(j.sql) + "]";
    }
    reply(res, 200,
          R"({"columns":["id","name","db","enabled","running","sql"],"rows":[)" + rows + "]}");
}

// Rows as objects inside batches/results.
void agent_history(Service &svc, const Req &req, Res &res) {
    if (!check_server(svc, req, res)) return;
    std::string job = param(req, "job_id");
    std::string rows;
    for (const JobRun &h : svc.jobs.history(job)) {
        rows += rows.empty() ? "{" : ",{";
        rows += "\"run_id\":" + std::to_string(h.run_id) + ",\"job_id\":" + jstr(h.job_id) +
                ",\"job\":" + jstr(h.job_name) + ",\"started\":" + jstr(iso_time(h.started_ms)) +
                ",\"finished\":" + (h.finished_ms != 0 ? jstr(iso_time(h.finished_ms)) : "null") +
                ",\"status\":" + jstr(h.status) + ",\"message\":" + jstr(h.message) + "}";
    }
    reply(res, 200,
          R"({"batches":[{"results":[{"columns":[{"name":"run_id"},{"name":"job_id"},)"
          R"({"name":"job"},{"name":"started"},{"name":"finished"},{"name":"status"},)"
          R"({"name":"message"}],"rows":[)" +
              rows + "]}]}]}");
}

void agent_verb(Service &svc, const Req &req, Res &res) {
    JsonDoc doc(req.body);
    auto id = doc.is_object() ? doc.str("job_id") : std::nullopt;
    if (!id || id->empty()) return fail(res, 400, "a JSON body with \"job_id\" is required");
    std::string server = doc.str("server").value_or("");
    if (!server.empty() && !svc.profiles.find(server))
        return fail(res, 404, "no server \"" + server + "\" among the saved connections");
    auto [status, body] = svc.jobs.control(*id, param(req, "action"));
    reply(res, status, body);
}

// The credentials the service was started with; none when it is open.
void security(Service &svc, const Req &req, Res &res) {
    if (!check_server(svc, req, res)) return;
    std::string action = param(req, "action");
    std::vector<std::string> logins;
    if (!svc.opts.password.empty()) logins.emplace_back("node-password");
    if (!svc.opts.token.empty()) logins.emplace_back("bearer-token");
    std::string rows;
    auto add = [&rows](const std::string &row) { rows += (rows.empty() ? "" : ",") + row; };
    std::string cols;
    if (action == "logins") {
        cols = R"(["name","type"])";
        for (const std::string &l : logins)
            add(str_row({l, l == "bearer-token" ? "token" : "password"}));
    } else if (action == "server_roles") {
        cols = R"(["role","member"])";
        for (const std::string &l : logins) add(str_row({"admin", l}));
    } else if (action == "db_users" || action == "permissions") {
        cols = action == "db_users" ? R"(["db","user","role"])" : R"(["db","user","permission"])";
        for (const std::string &db : list_dbs(svc.opts.data_dir))
            for (const std::string &l : logins)
                add(str_row({db, l, action == "db_users" ? "owner" : "ALL"}));
    } else {
        return fail(res, 400,
                    "unknown security view \"" + action +
                        "\" (logins, server_roles, db_users, permissions)");
    }
    reply(res, 200, "{\"columns\":" + cols + ",\"rows\":[" + rows + "]}");
}

// errorlog: the request log; agentlog: job runs; querystore: statement
// statistics inside batches.
void logs(Service &svc, const Req &req, Res &res) {
    if (!check_server(svc, req, res)) return;
    std::string action = param(req, "action");
    std::string rows;
    if (action == "errorlog") {
        for (const auto &r : svc.log.requests())
            rows += (rows.empty() ? "[" : ",[") + jstr(iso_time(r.at_ms)) + "," + jstr(r.method) +
                    "," + jstr(r.path) + "," + std::to_string(r.status) + "]";
        return reply(res, 200,
                     R"({"columns":["time","method","path","status"],"rows":[)" + rows + "]}");
    }
    if (action == "agentlog") {
        for (const JobRun &h : svc.jobs.history(""))
            rows +=
                (rows.empty() ? "{" : ",{") + std::string("\"time\":") +
                jstr(iso_time(h.started_ms)) + ",\"message\":" +
                jstr("job " + h.job_id + " (" + h.job_name + ") run " + std::to_string(h.run_id) +
                     ": " + h.status + (h.message.empty() ? "" : ", " + h.message)) +
                "}";
        return reply(res, 200, "{\"rows\":[" + rows + "]}");
    }
    if (action == "querystore") {
        for (const auto &[sql, s] : svc.log.stats())
            rows += (rows.empty() ? "[" : ",[") + jstr(sql) + "," + std::to_string(s.runs) + "," +
                    std::to_string(s.failures) + "," + std::to_string(s.total_ms) + "," +
                    std::to_string(s.max_ms) + "," + std::to_string(s.rows) + "]";
        return reply(res, 200,
                     R"({"batches":[{"results":[{"columns":["sql","runs","failures","total_ms",)"
                     R"("max_ms","rows"],"rows":[)" +
                         rows + "]}]}]}");
    }
    fail(res, 400, "unknown log \"" + action + "\" (errorlog, agentlog, querystore)");
}

}  // namespace demo
