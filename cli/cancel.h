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

// The settings the program gave the library, for the second session a
// cancel goes out on. The texts must outlive the program's run.
void remember_connection(const char *host, const char *pwd, const char *jwt, const char *tls);

// Whether a cancel can be sent while a statement runs.
bool can_cancel_on_service();
// Sends the cancel for target's token from a second session, so the
// running statement's own answer (its error) comes back.
bool cancel_on_service(const StatementTarget &target);
// Drops the running exchange at once (the second Ctrl-C).
bool abort_exchange(const StatementTarget &target);

// After a failed query: when the operation's time limit (--max-time) ended
// it, sends the cancel.
void cancel_if_timed_out(const StatementTarget &target);

class StreamPrinter;

// tarn query's one request: the query with target's token, watched for
// Ctrl-C. When the operation's time limit (--max-time) expires, the cancel
// goes out too. With rows, every result set goes to it as the reply
// arrives. Returns 0 or -1; the reply (without rows, or without a grid)
// or error stays in the library.
int run_query_once(const StatementTarget &target, const std::string &sql, int max_rows,
                   int timeout_s, StreamPrinter *rows = nullptr);

}  // namespace tarn_cli
