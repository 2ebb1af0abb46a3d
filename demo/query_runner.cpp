#include "query_runner.h"

#include <cstdio>
#include <cstring>

#include "db.h"
#include "json.h"

namespace demo {
namespace {

// Past this many bytes a result stops taking rows, as if max_rows were hit.
constexpr size_t kMaxResultBytes = 64 * 1024 * 1024;

// Called by SQLite every few thousand VM steps: stops the statement once
// it is cancelled or past its deadline. sqlite3_interrupt alone would miss
// a cancel that lands between two statements.
int on_progress(void *arg) {
    auto *r = static_cast<Running *>(arg);
    if (r->cancelled.load()) return 1;
    if (r->has_deadline && std::chrono::steady_clock::now() >= r->deadline) {
        r->timed_out = true;
        return 1;
    }
    return 0;
}

}  // namespace

void append_cell(std::string &out, sqlite3_stmt *st, int c) {
    switch (sqlite3_column_type(st, c)) {
        case SQLITE_INTEGER:
            out += std::to_string(sqlite3_column_int64(st, c));
            break;
        case SQLITE_FLOAT:
            json_real(out, sqlite3_column_double(st, c));
            break;
        case SQLITE_TEXT: {
            const auto *t = reinterpret_cast<const char *>(sqlite3_column_text(st, c));
            json_str(out, std::string_view(t != nullptr ? t : "",
                                           static_cast<size_t>(sqlite3_column_bytes(st, c))));
            break;
        }
        case SQLITE_BLOB: {
            const auto *b = static_cast<const unsigned char *>(sqlite3_column_blob(st, c));
            int n = sqlite3_column_bytes(st, c);
            std::string hex = "x'";
            char two[3];
            for (int i = 0; i < n; ++i) {
                snprintf(two, sizeof two, "%02x", b[i]);
                hex += two;
            }
            json_str(out, hex + "'");
            break;
        }
        default:
            out += "null";
    }
}

namespace {

struct StepResult {
    int rc;
    std::string json;
};

// One statement's result: {"columns":[{"name","type"}],"rows":[[...]],...}
// or {"changes":N} for a statement without columns.
StepResult run_one(sqlite3_stmt *st, int limit, RunOutcome &o) {
    int ncol = sqlite3_column_count(st);
    std::string out = "{";
    if (ncol > 0) {
        out += "\"columns\":[";
        for (int c = 0; c < ncol; ++c) {
            const char *type = sqlite3_column_decltype(st, c);
            out += c == 0 ? "{\"name\":" : ",{\"name\":";
            json_str(out, sqlite3_column_name(st, c));
            out += ",\"type\":";
            json_str(out, type != nullptr ? type : "");
            out += "}";
        }
        out += "],\"rows\":[";
    }
    long long rows = 0;
    bool truncated = false;
    int rc = 0;
    while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
        if (rows == limit || out.size() > kMaxResultBytes) {
            truncated = true;
            rc = SQLITE_DONE;
            break;
        }
        out += rows == 0 ? "[" : ",[";
        for (int c = 0; c < ncol; ++c) {
            if (c > 0) out += ",";
            append_cell(out, st, c);
        }
        out += "]";
        ++rows;
    }
    if (rc != SQLITE_DONE) return {rc, ""};
    sqlite3 *db = sqlite3_db_handle(st);
    if (ncol > 0) {
        out += "],\"row_count\":" + std::to_string(rows);
        out += truncated ? ",\"truncated\":true" : ",\"truncated\":false";
        o.rows += rows;
    } else {
        long long ch = sqlite3_changes64(db);
        out += "\"changes\":" + std::to_string(ch);
        o.changes += ch;
    }
    out += "}";
    return {rc, out};
}

}  // namespace

bool select_objects(sqlite3 *db, const std::string &sql, const std::vector<std::string> &params,
                    std::string &out, std::string &err, long long *count) {
    sqlite3_stmt *st = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) {
        err = sqlite3_errmsg(db);
        return false;
    }
    for (size_t i = 0; i < params.size(); ++i)
        sqlite3_bind_text(st, static_cast<int>(i + 1), params[i].c_str(), -1, SQLITE_TRANSIENT);
    int ncol = sqlite3_column_count(st);
    long long n = 0;
    int rc = 0;
    while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
        if (!out.empty() && out.back() != '[') out += ",";
        out += "{";
        ++n;
        for (int c = 0; c < ncol; ++c) {
            if (c > 0) out += ",";
            json_str(out, sqlite3_column_name(st, c));
            out += ":";
            append_cell(out, st, c);
        }
        out += "}";
    }
    if (rc != SQLITE_DONE) err = sqlite3_errmsg(db);
    sqlite3_finalize(st);
    if (count != nullptr) *count = n;
    return rc == SQLITE_DONE;
}

std::shared_ptr<Running> Registry::add(sqlite3 *conn, const std::string &db, const std::string &sql,
                                       const std::string &token, const std::string &origin) {
    std::lock_guard<std::mutex> lock(mu_);
    if (!token.empty())
        for (const auto &[spid, r] : map_)
            if (r->token == token) return nullptr;
    auto r = std::make_shared<Running>();
    r->spid = next_spid_++;
    r->conn = conn;
    r->db = db;
    r->sql = sql;
    r->token = token;
    r->origin = origin;
    r->started_ms = now_ms();
    map_[r->spid] = r;
    return r;
}

void Registry::remove(int spid) {
    std::lock_guard<std::mutex> lock(mu_);
    map_.erase(spid);
}

// The record leaves the map before its connection closes, and cancelling
// holds the lock, so sqlite3_interrupt never meets a closed connection.
bool Registry::cancel_spid(int spid) {
    std::lock_guard<std::mutex> lock(mu_);
    auto it = map_.find(spid);
    if (it == map_.end()) return false;
    it->second->cancelled = true;
    sqlite3_interrupt(it->second->conn);
    return true;
}

bool Registry::cancel_token(const std::string &token) {
    std::lock_guard<std::mutex> lock(mu_);
    for (auto &[spid, r] : map_) {
        if (r->token != token) continue;
        r->cancelled = true;
        sqlite3_interrupt(r->conn);
        return true;
    }
    return false;
}

void Registry::cancel_all() {
    std::lock_guard<std::mutex> lock(mu_);
    for (auto &[spid, r] : map_) {
        r->cancelled = true;
        sqlite3_interrupt(r->conn);
    }
}

std::vector<Registry::Info> Registry::list() {
    std::lock_guard<std::mutex> lock(mu_);
    std::vector<Info> out;
    for (const auto &[spid, r] : map_)
        out.push_back({spid, r->token, r->db, r->sql, r->origin, r->started_ms});
    return out;
}

RunOutcome run_sql(Running &r, const std::string &sql, int max_rows, int timeout_s) {
    RunOutcome o;
    sqlite3 *db = r.conn;
    if (timeout_s > 0) {
        r.has_deadline = true;
        r.deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeout_s);
    }
    sqlite3_progress_handler(db, 1000, on_progress, &r);
    int limit = max_rows > 0 ? max_rows : kDefaultRowCap;
    std::string batches;
    const char *tail = sql.c_str();
    int n = 0;
    while (*tail != '\0' && o.error.empty()) {
        std::string refused = refused_statement(tail);
        if (!refused.empty()) {
            o.status = 403;
            o.error = refused;
            break;
        }
        sqlite3_stmt *st = nullptr;
        const char *next = nullptr;
        int rc = sqlite3_prepare_v2(db, tail, -1, &st, &next);
        StepResult res{rc, ""};
        if (rc == SQLITE_OK && st != nullptr) {
            res = run_one(st, limit, o);
            if (res.rc == SQLITE_DONE) {
                batches += n++ == 0 ? "{\"statement\":1" : ",{\"statement\":" + std::to_string(n);
                batches += ",\"results\":[" + res.json + "]}";
            }
        }
        if (res.rc != SQLITE_OK && res.rc != SQLITE_DONE) {
            if ((res.rc & 0xff) == SQLITE_INTERRUPT && r.timed_out) {
                o.status = 408;
                o.error = "query timed out after " + std::to_string(timeout_s) + " s";
            } else if ((res.rc & 0xff) == SQLITE_INTERRUPT || r.cancelled) {
                o.status = 409;
                o.error = "query cancelled";
            } else {
                o.status = 400;
                o.error = sqlite3_errmsg(db);
            }
        }
        sqlite3_finalize(st);
        tail = next != nullptr ? next : tail + strlen(tail);
    }
    sqlite3_progress_handler(db, 0, nullptr, nullptr);
    if (o.error.empty())
        o.body = "{\"spid\":" + std::to_string(r.spid) + ",\"db\":" + jstr(r.db) +
                 ",\"batches\":[" + batches + "]}";
    else
        o.body = error_body(o.error);
    return o;
}

}  // namespace demo
