// A running query: the token it is sent with, and what stops it on the
// service. Every use of a second connection goes through here, so that
// per-connection sessions can take over in this one file.
#pragma once

#include <string>

namespace tarn_cli {

struct StatementTarget {
    std::string server;
    std::string db;
    std::string token;  // sent as query_token, so the statement can be cancelled
};

// "tarn-" and 16 lower-case hex digits from a random source.
std::string new_query_token();

// Whether a cancel can be sent while a statement runs: false while the
// client has only its one process-wide connection, which the running
// statement holds; then Ctrl-C waits for the statement to end.
bool can_cancel_on_service();
// Sends the cancel for target's token from a second connection, so the
// running statement's own answer (its error) comes back.
bool cancel_on_service(const StatementTarget &target);
// Drops the running exchange at once (the second Ctrl-C). False while the
// client offers no way to abort from another thread.
bool abort_exchange(const StatementTarget &target);

// After a failed query: when the operation's time limit (--max-time) ended
// it, sends the cancel, once can_cancel_on_service().
void cancel_if_timed_out(const StatementTarget &target);

// tarn query's one request: the query with target's token. When the
// operation's time limit (--max-time) expires, the cancel goes out too,
// once can_cancel_on_service(). Returns the operation's status; the reply
// or error stays in the library.
int run_query_once(const StatementTarget &target, const std::string &sql, int max_rows,
                   int timeout_s);

}  // namespace tarn_cli
