#include "query_runner.h"

#include <poll.h>

#include <cstdio>
#include <cstring>

#include "db.h"
#include "json.h"

namespace demo {
namespace {

constexpr auto kClientCheckEvery = std::chrono::milliseconds(100);

// True once the client has closed or reset its end of the connection.
bool client_gone(Running &r) {
    auto now = std::chrono::steady_clock::now();
    if (now < r.next_client_check) return false;
    r.next_client_check = now + kClientCheckEvery;
    pollfd p{r.client_fd, POLLRDHUP, 0};
    return poll(&p, 1, 0) > 0 && (p.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0;
}

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
    if (r->client_fd >= 0 && client_gone(*r)) {
        r->client_gone = true;
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
            auto n = static_cast<size_t>(sqlite3_column_bytes(st, c));
            static const char kHex[] = "0123456789abcdef";
            size_t at = out.size();
            out.resize(at + 2 * n + 5);
            char *p = &out[at];
            *p++ = '"';
            *p++ = 'x';
            *p++ = '\'';
            for (size_t i = 0; i < n; ++i) {
                *p++ = kHex[b[i] >> 4];
                *p++ = kHex[b[i] & 15];
            }
            *p++ = '\'';
            *p = '"';
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

// The least a cell adds to a reply, known before it is written.
size_t cell_floor(sqlite3_stmt *st, int c) {
    switch (sqlite3_column_type(st, c)) {
        case SQLITE_BLOB:
            return 2 * static_cast<size_t>(sqlite3_column_bytes(st, c)) + 5;
        case SQLITE_TEXT:
            return static_cast<size_t>(sqlite3_column_bytes(st, c)) + 2;
        default:
            return 1;
    }
}

// Appends the current row unless it would take out past budget bytes; a
// row that does not fit is left out whole.
bool append_row(std::string &out, sqlite3_stmt *st, int ncol, bool first, size_t budget) {
    if (ncol == 0) return true;
    size_t start = out.size();
    out += first ? "[" : ",[";
    for (int c = 0; c < ncol; ++c) {
        if (c > 0) out += ",";
        if (out.size() + cell_floor(st, c) > budget) break;
        append_cell(out, st, c);
        if (out.size() > budget) break;
        if (c + 1 == ncol) {
            out += "]";
            return true;
        }
    }
    out.resize(start);
    return false;
}

// One statement's result: {"columns":[{"name","type"}],"rows":[[...]],...}
// or {"changes":N} for a statement without columns. The result's text stays
// within budget bytes.
StepResult run_one(sqlite3_stmt *st, int limit, size_t budget, RunOutcome &o) {
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
        if (rows == limit || !append_row(out, st, ncol, rows == 0, budget)) {
            truncated = true;
            rc = SQLITE_DONE;
            break;
        }
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
    r->cancelled = stopping_;  // a statement that starts while the service stops ends at once
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
    stopping_ = true;
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
        if (r.refusal != nullptr) r.refusal->clear();
        int rc = sqlite3_prepare_v2(db, tail, -1, &st, &next);
        StepResult res{rc, ""};
        if (rc == SQLITE_OK && st != nullptr) {
            size_t used = batches.size() + 64;
            res = run_one(st, limit, used < kMaxResultBytes ? kMaxResultBytes - used : 0, o);
            if (res.rc == SQLITE_DONE) {
                batches += n++ == 0 ? "{\"statement\":1" : ",{\"statement\":" + std::to_string(n);
                batches += ",\"results\":[" + res.json + "]}";
            }
        }
        if (res.rc != SQLITE_OK && res.rc != SQLITE_DONE) {
            if ((res.rc & 0xff) == SQLITE_INTERRUPT && r.timed_out) {
                o.status = 408;
                o.error = "query timed out after " + std::to_string(timeout_s) + " s";
            } else if ((res.rc & 0xff) == SQLITE_INTERRUPT && r.client_gone) {
                o.status = 409;
                o.error = "query stopped: the client went away";
            } else if ((res.rc & 0xff) == SQLITE_INTERRUPT || r.cancelled) {
                o.status = 409;
                o.error = "query cancelled";
            } else if (r.refusal != nullptr && !r.refusal->empty()) {
                o.status = 403;
                o.error = "not authorized: " + *r.refusal + " is not allowed here";
            } else {
                o.status = storage_status(res.rc, 400);
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
