// Routes over the data: ping, connection profiles, the object tree,
// queries and their cancellation, scripting.
#include <sqlite3.h>
#include <sys/stat.h>

#include "db.h"
#include "http_routes.h"

namespace demo {
namespace {

// The request body as a JSON object, or a 400 reply.
bool body_object(const Req &req, Res &res, JsonDoc &doc) {
    if (doc.is_object()) return true;
    fail(res, 400,
         req.body.empty() ? "a JSON object body is required" : "the body is not a JSON object");
    return false;
}

// "main" is the only schema of a database; an empty word means it too.
bool check_schema(const std::string &schema, Res &res) {
    if (schema.empty() || schema == "main") return true;
    fail(res, 404, "no schema \"" + schema + "\" (the only schema is \"main\")");
    return false;
}

// Optional integer member: absent is fine, another kind is a 400.
bool int_member(const JsonDoc &doc, const char *key, int &out, Res &res) {
    yyjson_val *v = doc.get(key);
    if (v == nullptr) return true;
    auto n = int_of(v);
    if (!n || *n < 0 || *n > 1000000000) {
        fail(res, 400, std::string("\"") + key + "\" must be a whole number from 0");
        return false;
    }
    out = static_cast<int>(*n);
    return true;
}

}  // namespace

void ping(Service &, const Req &, Res &res) {
    reply(
        res, 200,
        R"({"ok":true,"service":"tarn-demo-service","sqlite":)" + jstr(sqlite3_libversion()) + "}");
}

// Columns as strings, rows as arrays.
void conn_list(Service &svc, const Req &, Res &res) {
    std::string out = R"({"columns":["id","name","db"],"rows":[)";
    bool first = true;
    for (const Profile &p : svc.profiles.all()) {
        out += first ? "[" : ",[";
        out += jstr(p.id) + "," + jstr(p.name) + "," + jstr(p.db) + "]";
        first = false;
    }
    reply(res, 200, out + "]}");
}

void conn_save(Service &svc, const Req &req, Res &res) {
    std::string err;
    int status = 400;
    auto id = svc.profiles.save(req.body, err, status);
    if (!id) return fail(res, status, err);
    reply(res, 200, "{\"ok\":true,\"id\":" + jstr(*id) + "}");
}

void conn_delete(Service &svc, const Req &req, Res &res) {
    JsonDoc doc(req.body);
    if (!body_object(req, res, doc)) return;
    auto id = doc.str("id");
    if (!id || id->empty()) return fail(res, 400, "\"id\" is required");
    std::string err;
    int status = 404;
    if (!svc.profiles.remove(*id, err, status)) return fail(res, status, err);
    reply(res, 200, "{\"ok\":true,\"deleted\":" + jstr(*id) + "}");
}

// Opens the database a profile names and reads its schema.
void conn_test(Service &svc, const Req &req, Res &res) {
    Profile p;
    std::string err;
    if (!parse_profile(req.body, p, err)) return fail(res, 400, err);
    if (p.db.empty()) return fail(res, 400, "the profile names no \"db\"");
    if (!db_exists(svc.opts.data_dir, p.db))
        return fail(res, 422, "cannot open database \"" + p.db + "\": no such database");
    Conn c;
    if (!c.open(db_path(svc.opts.data_dir, p.db), err))
        return fail(res, 422, "cannot open database \"" + p.db + "\": " + err);
    std::string rows;
    if (!select_objects(c.get(), "SELECT count(*) AS objects FROM sqlite_schema", {}, rows, err))
        return fail(res, 422, "database \"" + p.db + "\": " + err);
    reply(res, 200, "{\"ok\":true,\"db\":" + jstr(p.db) + ",\"schema\":" + rows + "}");
}

// Rows as objects, no columns: the grid reader counts the first row's members.
void tree(Service &svc, const Req &req, Res &res) {
    std::string node = param(req, "node");
    std::string server = param(req, "server");
    std::string rows;
    std::string err;
    if (node == "databases") {
        if (!server.empty() && !svc.profiles.find(server))
            return fail(res, 404, "no server \"" + server + "\" among the saved connections");
        for (const std::string &db : list_dbs(svc.opts.data_dir)) {
            struct stat st {};
            stat(db_path(svc.opts.data_dir, db).c_str(), &st);
            rows += (rows.empty() ? "" : ",") + std::string("{\"name\":") + jstr(db) +
                    ",\"file\":" + jstr(db + ".db") +
                    ",\"size_bytes\":" + std::to_string(st.st_size) + "}";
        }
        return reply(res, 200, "{\"node\":\"databases\",\"rows\":[" + rows + "]}");
    }
    static const char *const kKinds[] = {"schemas", "tables", "views", "columns", "indexes"};
    if (std::find(std::begin(kKinds), std::end(kKinds), node) == std::end(kKinds))
        return fail(res, 400,
                    "unknown node kind \"" + node +
                        "\" (databases, schemas, tables, views, columns, indexes)");
    auto db = target_db(svc, server, param(req, "db"), res);
    if (!db || !check_schema(param(req, "schema"), res)) return;
    Conn c;
    if (!open_for(svc, *db, c, res)) return;
    std::string obj = param(req, "obj");
    bool ok = true;
    if (node == "schemas") {
        rows = R"({"name":"main"})";
    } else if (node == "tables" || node == "views") {
        ok =
            select_objects(c.get(),
                           "SELECT 'main' AS schema, name, type FROM sqlite_schema WHERE type = ?1"
                           " AND name NOT LIKE 'sqlite_%' AND (?2 = '' OR name = ?2) ORDER BY name",
                           {node == "tables" ? "table" : "view", obj}, rows, err);
    } else if (node == "columns") {
        if (obj.empty()) return fail(res, 400, "obj (a table or view) is required for columns");
        long long n = 0;
        ok = select_objects(c.get(),
                            "SELECT cid AS position, name, type, \"notnull\" AS not_null,"
                            " dflt_value AS default_value, pk FROM pragma_table_xinfo(?1)",
                            {obj}, rows, err, &n);
        if (ok && n == 0) return fail(res, 404, "no table or view \"" + obj + "\"");
    } else {
        ok = select_objects(c.get(),
                            "SELECT name, tbl_name AS \"table\", sql IS NULL AS automatic, sql"
                            " FROM sqlite_schema WHERE type = 'index'"
                            " AND (?1 = '' OR tbl_name = ?1) ORDER BY name",
                            {obj}, rows, err);
    }
    if (!ok) return fail(res, storage_status(sqlite3_errcode(c.get()), 500), err);
    reply(res, 200,
          "{\"node\":" + jstr(node) + ",\"db\":" + jstr(*db) + ",\"rows\":[" + rows + "]}");
}

// Several statements give several batches, each with one result whose
// columns are {"name","type"} objects and whose rows are arrays.
void query_run(Service &svc, const Req &req, Res &res) {
    JsonDoc doc(req.body);
    if (!body_object(req, res, doc)) return;
    auto sql = doc.str("sql");
    if (!sql || sql->empty()) return fail(res, 400, "\"sql\" is required");
    int max_rows = 0;
    int timeout_s = 0;
    if (!int_member(doc, "max_rows", max_rows, res) ||
        !int_member(doc, "timeout_s", timeout_s, res))
        return;
    auto db = target_db(svc, doc.str("server").value_or(""), doc.str("db").value_or(""), res);
    if (!db) return;
    Conn c;
    if (!open_for(svc, *db, c, res)) return;
    std::string token = doc.str("query_token").value_or("");
    auto r = svc.running.add(c.get(), *db, *sql, token, "query");
    if (!r) return fail(res, 409, "query token \"" + token + "\" is already in use");
    r->refusal = &c.refusal();
    r->client_fd = req.fd;
    if (timeout_s == 0) timeout_s = svc.opts.statement_timeout_s;
    // Leaves the registry before the connection closes, however this ends.
    struct Unregister {
        Registry &reg;
        int spid;
        ~Unregister() { reg.remove(spid); }
    } unregister{svc.running, r->spid};
    long long t0 = now_ms();
    RunOutcome o = run_sql(*r, *sql, max_rows, timeout_s);
    svc.log.query(*sql, now_ms() - t0, o.rows, o.error.empty());
    reply(res, o.status, o.body);
}

void query_cancel(Service &svc, const Req &req, Res &res) {
    JsonDoc doc(req.body);
    if (!body_object(req, res, doc)) return;
    if (auto token = doc.str("query_token")) {
        if (!svc.running.cancel_token(*token))
            return fail(res, 404, "no running query with token \"" + *token + "\"");
        return reply(res, 200, "{\"ok\":true,\"cancelled\":" + jstr(*token) + "}");
    }
    auto spid = int_of(doc.get("spid"));
    if (!spid) return fail(res, 400, "\"query_token\" or \"spid\" is required");
    if (*spid <= 0 || *spid > INT32_MAX || !svc.running.cancel_spid(static_cast<int>(*spid)))
        return fail(res, 404, "no running request with spid " + std::to_string(*spid));
    reply(res, 200, "{\"ok\":true,\"cancelled\":" + std::to_string(*spid) + "}");
}

// create: the object's CREATE statement; select: a SELECT of its columns.
void script(Service &svc, const Req &req, Res &res) {
    std::string action = param(req, "action");
    std::string kind = param(req, "kind");
    std::string obj = param(req, "obj");
    if (action != "create" && action != "select")
        return fail(res, 400, "unknown script action \"" + action + "\" (create, select)");
    if (kind != "table" && kind != "view" && kind != "index")
        return fail(res, 400, "unknown object kind \"" + kind + "\" (table, view, index)");
    if (obj.empty()) return fail(res, 400, "obj is required");
    if (action == "select" && kind == "index")
        return fail(res, 400, "an index has no SELECT script");
    auto db = target_db(svc, param(req, "server"), param(req, "db"), res);
    if (!db || !check_schema(param(req, "schema"), res)) return;
    Conn c;
    if (!open_for(svc, *db, c, res)) return;
    sqlite3_stmt *st = nullptr;
    std::string text;
    if (action == "create") {
        sqlite3_prepare_v2(c.get(), "SELECT sql FROM sqlite_schema WHERE type = ?1 AND name = ?2",
                           -1, &st, nullptr);
        sqlite3_bind_text(st, 1, kind.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(st, 2, obj.c_str(), -1, SQLITE_TRANSIENT);
        if (sqlite3_step(st) == SQLITE_ROW && sqlite3_column_text(st, 0) != nullptr)
            text = reinterpret_cast<const char *>(sqlite3_column_text(st, 0)) + std::string(";");
    } else {
        sqlite3_prepare_v2(c.get(), "SELECT name FROM pragma_table_info(?1)", -1, &st, nullptr);
        sqlite3_bind_text(st, 1, obj.c_str(), -1, SQLITE_TRANSIENT);
        std::string cols;
        while (sqlite3_step(st) == SQLITE_ROW)
            cols += (cols.empty() ? "" : ", ") +
                    ident(reinterpret_cast<const char *>(sqlite3_column_text(st, 0)));
        if (!cols.empty()) text = "SELECT " + cols + "\nFROM " + ident(obj) + "\nLIMIT 100;";
    }
    sqlite3_finalize(st);
    if (text.empty()) return fail(res, 404, "no " + kind + " \"" + obj + "\" in " + *db);
    reply(res, 200,
          "{\"kind\":" + jstr(kind) + ",\"name\":" + jstr(obj) + ",\"action\":" + jstr(action) +
              ",\"script\":" + jstr(text) + "}");
}

}  // namespace demo
