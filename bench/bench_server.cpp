// The loopback service the benchmarks run against. Prints three ports on
// one line: HTTP and HTTPS services answering /ping (kept-alive
// connections allowed), and a plain HTTP service answering every request
// with the large reply, sent straight from one buffer so that serving it
// costs no copies. Serves until it is killed.
//
// usage: tarn_bench_server [ROWS]   (rows of the large reply, 1000000)
#include <arpa/inet.h>
#include <netinet/in.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "big_reply.h"
#include "support/test_server.h"

namespace {

std::string g_head;
std::string g_body;

bool send_all(int fd, const char *p, size_t n) {
    while (n > 0) {
        ssize_t sent = send(fd, p, n, MSG_NOSIGNAL);
        if (sent <= 0) return false;
        p += sent;
        n -= static_cast<size_t>(sent);
    }
    return true;
}

// Answers each request on the connection until the client closes it.
void serve(int fd) {
    std::string buf;
    char chunk[65536];
    for (;;) {
        size_t end;
        while ((end = buf.find("\r\n\r\n")) == std::string::npos) {
            ssize_t n = recv(fd, chunk, sizeof chunk, 0);
            if (n <= 0) {
                close(fd);
                return;
            }
            buf.append(chunk, static_cast<size_t>(n));
        }
        size_t want = 0;
        for (size_t p = 0; (p = buf.find("\r\n", p)) < end; p += 2)
            if (strncasecmp(buf.c_str() + p + 2, "Content-Length:", 15) == 0)
                want = strtoul(buf.c_str() + p + 17, nullptr, 10);
        while (buf.size() < end + 4 + want) {
            ssize_t n = recv(fd, chunk, sizeof chunk, 0);
            if (n <= 0) {
                close(fd);
                return;
            }
            buf.append(chunk, static_cast<size_t>(n));
        }
        buf.erase(0, end + 4 + want);
        if (!send_all(fd, g_head.data(), g_head.size()) ||
            !send_all(fd, g_body.data(), g_body.size())) {
            close(fd);
            return;
        }
    }
}

int listen_loopback(int *port) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr *>(&addr), len) != 0 || listen(fd, 64) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &len) != 0) {
        perror("bench server");
        exit(2);
    }
    *port = ntohs(addr.sin_port);
    return fd;
}

}  // namespace

int main(int argc, char **argv) {
    long rows = argc > 1 ? atol(argv[1]) : 1000000;
    g_body = tarn_bench::big_reply(rows);
    g_head = "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: " +
             std::to_string(g_body.size()) + "\r\n\r\n";
    signal(SIGPIPE, SIG_IGN);

    const tarn_test::Reply pong{200, "{\"ok\":true}", {{"Content-Type", "application/json"}}};
    tarn_test::TestServer http;
    tarn_test::TestServer https(true);
    http.route("/ping", pong);
    https.route("/ping", pong);
    int big_port = 0;
    int big = listen_loopback(&big_port);
    printf("%d %d %d\n", http.port(), https.port(), big_port);
    fflush(stdout);
    for (;;) {
        int fd = accept(big, nullptr, nullptr);
        if (fd >= 0) std::thread(serve, fd).detach();
    }
}
