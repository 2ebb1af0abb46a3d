#include "cancel.h"

#include <cstdio>
#include <cstring>
#include <random>

#include "tarn_client.h"

namespace tarn_cli {

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
    return false;
}

bool cancel_on_service(const StatementTarget &) {
    return false;
}

bool abort_exchange(const StatementTarget &) {
    return false;
}

void cancel_if_timed_out(const StatementTarget &target) {
    // The query runs on after the client stops waiting for it.
    if (strncmp(tarn_client_last_error(), "timed out after ", 16) == 0 && can_cancel_on_service())
        cancel_on_service(target);
}

int run_query_once(const StatementTarget &target, const std::string &sql, int max_rows,
                   int timeout_s) {
    // Ctrl-C during the one-shot query: install_interrupt_handler() and a
    // StatementWatch around this call, once cancel_on_service can send.
    int rc = tarn_client_query(target.server.c_str(), target.db.c_str(), sql.c_str(), max_rows,
                               timeout_s, target.token.c_str());
    if (rc != 0) cancel_if_timed_out(target);
    return rc;
}

}  // namespace tarn_cli
