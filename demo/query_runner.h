// Statements in flight: who runs what, and how another request stops it.
#pragma once

#include <sqlite3.h>

#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace demo {

struct Running {
    int spid = 0;
    std::string token;
    std::string db;
    std::string sql;
    std::string origin;  // "query" or "job N"
    long long started_ms = 0;
    sqlite3 *conn = nullptr;
    std::atomic<bool> cancelled{false};
    // Set by the thread that runs the statement, before it runs.
    std::string *refusal = nullptr;  // the connection's (Conn::refusal)
    int client_fd = -1;              // the client's socket, watched while it runs
    // Read only by the thread running the statement.
    std::chrono::steady_clock::time_point deadline{};
    std::chrono::steady_clock::time_point next_client_check{};
    bool has_deadline = false;
    bool timed_out = false;
    bool client_gone = false;
};

class Registry {
public:
    // Registers a statement about to run on conn; nullptr when another
    // running statement already holds the token.
    std::shared_ptr<Running> add(sqlite3 *conn, const std::string &db, const std::string &sql,
                                 const std::string &token, const std::string &origin);
    void remove(int spid);
    bool cancel_spid(int spid);
    bool cancel_token(const std::string &token);
    // Cancels every statement, and those registered from now on.
    void cancel_all();
    // Copies of the records, by spid.
    struct Info {
        int spid;
        std::string token, db, sql, origin;
        long long started_ms;
    };
    std::vector<Info> list();

private:
    std::mutex mu_;
    std::map<int, std::shared_ptr<Running>> map_;
    int next_spid_ = 51;
    bool stopping_ = false;
};

struct RunOutcome {
    int status = 200;   // HTTP status of the reply
    std::string body;   // the reply: one batch per statement
    std::string error;  // set when status is not 200
    long long rows = 0;
    long long changes = 0;
};

// Rows a result holds when the request sets no max_rows.
constexpr int kDefaultRowCap = 100000;
// Bytes a reply's results may take; rows past it are left out (truncated),
// so no reply grows past it.
constexpr size_t kMaxResultBytes = 64 * 1024 * 1024;

// Runs each statement of sql in turn on r's connection, stopping at the
// first error. max_rows and timeout_s count when greater than 0. A
// statement stops when cancelled, past its time, or once its client has
// gone.
RunOutcome run_sql(Running &r, const std::string &sql, int max_rows, int timeout_s);

}  // namespace demo

namespace demo {

// Appends column c of the current row of st as a JSON value.
void append_cell(std::string &out, sqlite3_stmt *st, int c);

// Runs one statement of the service's own (text parameters bound in order)
// and appends its rows as JSON objects keyed by column name, comma
// separated, to out. False with err on failure.
bool select_objects(sqlite3 *db, const std::string &sql, const std::vector<std::string> &params,
                    std::string &out, std::string &err, long long *count = nullptr);

}  // namespace demo
