// Shared tail of every service operation.
#pragma once

#include <cstdio>

#include "encode.h"
#include "state.h"

namespace tarn {

// Sends the request and, on success, locates the grid in the reply.
inline int send_and_parse(int32_t method, const char *path, const char *query, const char *body) {
    if (do_request(method, path, query, body) != 0) return -1;
    parse_grid();
    return 0;
}

// Sets "<what>" as the error and returns -1: the argument-check exit.
inline int reject(const char *message) {
    set_error(message);
    return -1;
}

constexpr size_t kMemberCap = 1024;  // one escaped text member
constexpr size_t kSpidBodyCap = 1300;

// {"server":"..","spid":N}: the body of both ways to stop a process.
inline void format_spid_body(char *body, const char *server, int spid) {
    char esc_server[kMemberCap];
    json_escape(server, esc_server, sizeof esc_server);
    snprintf(body, kSpidBodyCap, "{\"server\":\"%s\",\"spid\":%d}", esc_server, spid);
}

}  // namespace tarn
