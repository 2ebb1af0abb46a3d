// The edit grid: a table's rows keyed by rowid, and change sets applied
// in one transaction.
#include <sqlite3.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "db.h"
#include "http_routes.h"

namespace demo {
namespace {

constexpr int kMaxTop = 10000;

// The table's columns, or a reply saying why there are none.
bool table_columns(sqlite3 *db, const std::string &table, std::vector<std::string> &cols,
                   std::vector<std::string> &types, Res &res) {
    sqlite3_stmt *st = nullptr;
    int rc = sqlite3_prepare_v2(db,
                                "SELECT p.name, p.type FROM sqlite_schema s,"
                                " pragma_table_info(s.name) p"
                                " WHERE s.type = 'table' AND s.name = ?1 ORDER BY p.cid",
                                -1, &st, nullptr);
    if (rc == SQLITE_OK) {
        sqlite3_bind_text(st, 1, table.c_str(), -1, SQLITE_TRANSIENT);
        while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
            cols.emplace_back(reinterpret_cast<const char *>(sqlite3_column_text(st, 0)));
            const auto *t = reinterpret_cast<const char *>(sqlite3_column_text(st, 1));
            types.emplace_back(t != nullptr ? t : "");
        }
    }
    sqlite3_finalize(st);
    // A schema that cannot be read is the storage's failure, not a missing table.
    if (rc != SQLITE_DONE) {
        fail(res, storage_status(rc, 500),
             "cannot read the schema: " + std::string(sqlite3_errmsg(db)));
        return false;
    }
    if (!cols.empty()) return true;
    fail(res, 404, "no table \"" + table + "\"");
    return false;
}

bool bind_json(sqlite3_stmt *st, int i, yyjson_val *v) {
    if (yyjson_is_null(v)) return sqlite3_bind_null(st, i) == SQLITE_OK;
    if (yyjson_is_bool(v)) return sqlite3_bind_int(st, i, yyjson_get_bool(v) ? 1 : 0) == SQLITE_OK;
    if (yyjson_is_sint(v)) return sqlite3_bind_int64(st, i, yyjson_get_sint(v)) == SQLITE_OK;
    if (yyjson_is_uint(v) && yyjson_get_uint(v) <= static_cast<uint64_t>(INT64_MAX))
        return sqlite3_bind_int64(st, i, static_cast<sqlite3_int64>(yyjson_get_uint(v))) ==
               SQLITE_OK;
    if (yyjson_is_num(v)) return sqlite3_bind_double(st, i, yyjson_get_num(v)) == SQLITE_OK;
    if (yyjson_is_str(v))
        return sqlite3_bind_text(st, i, yyjson_get_str(v), static_cast<int>(yyjson_get_len(v)),
                                 SQLITE_TRANSIENT) == SQLITE_OK;
    return false;
}

// Applies the change set inside an open transaction. Returns "" or the
// reason to roll back; status is the reply status for that reason.
class Applier {
public:
    Applier(sqlite3 *db, std::string table, std::vector<std::string> cols)
        : db_(db), table_(std::move(table)), cols_(std::move(cols)) {}
    long long updated = 0, inserted = 0, deleted = 0;
    std::string new_rowids;
    int status = 400;

    std::string update(yyjson_val *u) {
        auto rowid = int_of(yyjson_obj_get(u, "rowid"));
        yyjson_val *values = yyjson_obj_get(u, "values");
        if (!rowid || !yyjson_is_obj(values) || yyjson_obj_size(values) == 0)
            return "each update needs \"rowid\" and a non-empty \"values\" object";
        std::string sql = "UPDATE " + ident(table_) + " SET ";
        std::vector<yyjson_val *> vals;
        std::string err = assignments(values, sql, vals, ", ", " = ?");
        if (!err.empty()) return err;
        sql += " WHERE rowid = ?";
        if (!(err = run(sql, vals, *rowid)).empty()) return err;
        if (sqlite3_changes(db_) == 0) return missing(*rowid);
        ++updated;
        return "";
    }

    std::string insert(yyjson_val *values) {
        if (!yyjson_is_obj(values)) return "each insert is an object of column values";
        std::string sql;
        std::vector<yyjson_val *> vals;
        std::string err = assignments(values, sql, vals, ", ", "");
        if (!err.empty()) return err;
        std::string marks;
        for (size_t i = 0; i < vals.size(); ++i) marks += i == 0 ? "?" : ", ?";
        sql = vals.empty()
                  ? "INSERT INTO " + ident(table_) + " DEFAULT VALUES"
                  : "INSERT INTO " + ident(table_) + " (" + sql + ") VALUES (" + marks + ")";
        if (!(err = run(sql, vals, std::nullopt)).empty()) return err;
        new_rowids +=
            (new_rowids.empty() ? "" : ",") + std::to_string(sqlite3_last_insert_rowid(db_));
        ++inserted;
        return "";
    }

    std::string remove(yyjson_val *d) {
        auto rowid = int_of(d);
        if (!rowid) return "each delete is a rowid";
        std::string err = run("DELETE FROM " + ident(table_) + " WHERE rowid = ?", {}, *rowid);
        if (!err.empty()) return err;
        if (sqlite3_changes(db_) == 0) return missing(*rowid);
        ++deleted;
        return "";
    }

private:
    std::string missing(long long rowid) {
        status = 404;
        return "no row with rowid " + std::to_string(rowid) + " in " + table_;
    }

    // "col1<suffix><sep>col2<suffix>" for the members of values, each a
    // known column; their values in order.
    std::string assignments(yyjson_val *values, std::string &sql, std::vector<yyjson_val *> &vals,
                            const char *sep, const char *suffix) {
        yyjson_obj_iter it = yyjson_obj_iter_with(values);
        yyjson_val *key = nullptr;
        while ((key = yyjson_obj_iter_next(&it)) != nullptr) {
            std::string name(yyjson_get_str(key), yyjson_get_len(key));
            if (std::find(cols_.begin(), cols_.end(), name) == cols_.end())
                return "no column \"" + name + "\" in " + table_;
            sql += (vals.empty() ? "" : sep) + ident(name) + suffix;
            vals.push_back(yyjson_obj_iter_get_val(key));
        }
        return "";
    }

    std::string run(const std::string &sql, const std::vector<yyjson_val *> &vals,
                    std::optional<long long> rowid) {
        sqlite3_stmt *st = nullptr;
        if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &st, nullptr) != SQLITE_OK)
            return sqlite3_errmsg(db_);
        int i = 1;
        std::string err;
        for (yyjson_val *v : vals)
            if (!bind_json(st, i++, v))
                err = "column values must be null, true, false, numbers or text";
        if (rowid) sqlite3_bind_int64(st, i, *rowid);
        int rc = err.empty() ? sqlite3_step(st) : SQLITE_DONE;
        if (rc != SQLITE_DONE) {
            status = storage_status(rc, 409);
            err = sqlite3_errmsg(db_);
        }
        sqlite3_finalize(st);
        return err;
    }

    sqlite3 *db_;
    std::string table_;
    std::vector<std::string> cols_;
};

}  // namespace

// Columns as {"name","type"} objects with rowid first; rows as objects
// keyed by column name.
void editgrid_load(Service &svc, const Req &req, Res &res) {
    std::string table = param(req, "table");
    if (table.empty()) return fail(res, 400, "table is required");
    int top = 200;
    if (req.has_param("top")) {
        char *end = nullptr;
        std::string t = param(req, "top");
        long n = strtol(t.c_str(), &end, 10);
        if (t.empty() || *end != '\0' || n < 1 || n > kMaxTop)
            return fail(res, 400, "top must be a number from 1 to " + std::to_string(kMaxTop));
        top = static_cast<int>(n);
    }
    std::string schema = param(req, "schema");
    if (!schema.empty() && schema != "main")
        return fail(res, 404, "no schema \"" + schema + "\" (the only schema is \"main\")");
    auto db = target_db(svc, param(req, "server"), param(req, "db"), res);
    if (!db) return;
    Conn c;
    if (!open_for(svc, *db, c, res)) return;
    std::vector<std::string> cols;
    std::vector<std::string> types;
    if (!table_columns(c.get(), table, cols, types, res)) return;
    std::string out = "{\"db\":" + jstr(*db) + ",\"table\":" + jstr(table) +
                      ",\"key\":\"rowid\",\"top\":" + std::to_string(top) +
                      ",\"columns\":[{\"name\":\"rowid\",\"type\":\"INTEGER\",\"key\":true}";
    std::string select = "SELECT rowid AS \"rowid\"";
    for (size_t i = 0; i < cols.size(); ++i) {
        out += ",{\"name\":" + jstr(cols[i]) + ",\"type\":" + jstr(types[i]) + "}";
        select += ", " + ident(cols[i]);
    }
    select += " FROM " + ident(table) + " ORDER BY rowid LIMIT " + std::to_string(top);
    out += "],\"rows\":[";
    std::string err;
    long long n = 0;
    if (!select_objects(c.get(), select, {}, out, err, &n))
        return fail(res, storage_status(sqlite3_errcode(c.get()), 400),
                    "cannot load " + table + ": " + err);
    reply(res, 200, out + "],\"row_count\":" + std::to_string(n) + "}");
}

// {"db","table","updates":[{"rowid","values"}],"inserts":[{...}],"deletes":[rowid]}
void editgrid_apply(Service &svc, const Req &req, Res &res) {
    JsonDoc doc(req.body);
    if (!doc.is_object()) return fail(res, 400, "the change set must be a JSON object");
    auto table = doc.str("table");
    if (!table || table->empty()) return fail(res, 400, "\"table\" is required");
    std::string schema = doc.str("schema").value_or("");
    if (!schema.empty() && schema != "main")
        return fail(res, 404, "no schema \"" + schema + "\" (the only schema is \"main\")");
    yyjson_val *lists[3] = {doc.get("updates"), doc.get("inserts"), doc.get("deletes")};
    for (yyjson_val *l : lists)
        if (l != nullptr && !yyjson_is_arr(l))
            return fail(res, 400, "\"updates\", \"inserts\" and \"deletes\" must be arrays");
    auto db = target_db(svc, doc.str("server").value_or(""), doc.str("db").value_or(""), res);
    if (!db) return;
    Conn c;
    if (!open_for(svc, *db, c, res)) return;
    std::vector<std::string> cols;
    std::vector<std::string> types;
    if (!table_columns(c.get(), *table, cols, types, res)) return;

    std::string err;
    if (!c.exec("BEGIN IMMEDIATE", err)) return fail(res, storage_status(c.rc(), 409), err);
    Applier a(c.get(), *table, cols);
    size_t i = 0;
    size_t n = 0;
    yyjson_val *v = nullptr;
    yyjson_arr_foreach(lists[0], i, n, v) if (err.empty()) err = a.update(v);
    yyjson_arr_foreach(lists[1], i, n, v) if (err.empty()) err = a.insert(v);
    yyjson_arr_foreach(lists[2], i, n, v) if (err.empty()) err = a.remove(v);
    if (err.empty() && !c.exec("COMMIT", err)) a.status = storage_status(c.rc(), 409);
    if (!err.empty()) {
        std::string ignored;
        c.exec("ROLLBACK", ignored);
        return fail(res, a.status, err + "; nothing was changed");
    }
    reply(res, 200,
          "{\"ok\":true,\"table\":" + jstr(*table) + ",\"updated\":" + std::to_string(a.updated) +
              ",\"inserted\":" + std::to_string(a.inserted) + ",\"deleted\":" +
              std::to_string(a.deleted) + ",\"inserted_rowids\":[" + a.new_rowids + "]}");
}

}  // namespace demo
