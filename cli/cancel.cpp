#include "cancel.h"

#include <cstdio>
#include <cstring>
#include <random>

#include "interrupt.h"
#include "stream_output.h"
#include "tarn_client.h"

namespace tarn_cli {
namespace {

// What the program set on the default session; the program's own state.
struct Connection {
    const char *host = nullptr;
    const char *pwd = nullptr;
    const char *jwt = nullptr;
    const char *tls = nullptr;
};
Connection g_connection;

// How long the cancel itself may take.
constexpr int kCancelSeconds = 10;

}  // namespace

void remember_connection(const char *host, const char *pwd, const char *jwt, const char *tls) {
    g_connection = Connection{host, pwd, jwt, tls};
}

std::string new_query_token() {
#ifdef _WIN32
    std::random_device source;
#else
    // Read from the kernel, not through an instruction some CPUs and
    // emulators lack.
    std::random_device source("/dev/urandom");
#endif
    char text[32];
    snprintf(text, sizeof text, "tarn-%08x%08x", source(), source());
    return text;
}

bool can_cancel_on_service() {
    return true;
}

bool cancel_on_service(const StatementTarget &target) {
    tarn_session *s = tarn_session_new();
    if (s == nullptr) return false;
    tarn_session_set_host(s, g_connection.host);
    tarn_session_set_password(s, g_connection.pwd);
    tarn_session_set_jwt(s, g_connection.jwt);
    bool ok = tarn_session_set_tls(s, g_connection.tls) == 0 &&
              tarn_session_set_max_time(s, kCancelSeconds) == 0 &&
              tarn_session_cancel(s, target.server.c_str(), target.token.c_str()) == 0;
    tarn_session_free(s);
    return ok;
}

bool abort_exchange(const StatementTarget &) {
    tarn_client_abort();
    return true;
}

void cancel_if_timed_out(const StatementTarget &target) {
    // The query runs on after the client stops waiting for it.
    if (strncmp(tarn_client_last_error(), "timed out after ", 16) == 0 && can_cancel_on_service())
        cancel_on_service(target);
}

int run_query_once(const StatementTarget &target, const std::string &sql, int max_rows,
                   int timeout_s, StreamPrinter *rows) {
    int rc;
    {
        StatementWatch watch(target);
        if (rows == nullptr)
            rc = tarn_client_query(target.server.c_str(), target.db.c_str(), sql.c_str(), max_rows,
                                   timeout_s, target.token.c_str());
        else
            rc = tarn_client_query_rows(target.server.c_str(), target.db.c_str(), sql.c_str(),
                                        max_rows, timeout_s, target.token.c_str(),
                                        rows->callbacks(), rows) < 0
                     ? -1
                     : 0;
    }
    if (rc != 0) cancel_if_timed_out(target);
    return rc;
}

}  // namespace tarn_cli
