#include "hostile_server.h"

#include <chrono>
#include <cstdlib>
#include <stdexcept>

#if defined(_WIN32)
#include <winsock2.h>
#include <ws2tcpip.h>
using Socket = SOCKET;
using SockLen = int;
constexpr int kSendFlags = 0;
constexpr int kShutSend = SD_SEND;
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>
using Socket = int;
using SockLen = socklen_t;
constexpr Socket INVALID_SOCKET = -1;
constexpr int kSendFlags = MSG_NOSIGNAL;
constexpr int kShutSend = SHUT_WR;
inline int closesocket(Socket s) {
    return close(s);
}
#endif

namespace tarn_test {
namespace {

void start_sockets() {
#if defined(_WIN32)
    static const bool started = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    if (!started) throw std::runtime_error("WSAStartup failed");
#endif
}

// Waits up to ms for s to become readable.
bool readable(Socket s, int ms) {
    fd_set ready;
    FD_ZERO(&ready);
    FD_SET(s, &ready);
    timeval tick{ms / 1000, (ms % 1000) * 1000};
    return select(static_cast<int>(s) + 1, &ready, nullptr, nullptr, &tick) > 0;
}

// Reads one request: its head and as many body bytes as it declares.
bool read_request(Socket s) {
    std::string data;
    char chunk[16384];
    size_t end;
    while ((end = data.find("\r\n\r\n")) == std::string::npos) {
        if (data.size() > 1024 * 1024 || !readable(s, 5000)) return false;
        int n = static_cast<int>(recv(s, chunk, sizeof chunk, 0));
        if (n <= 0) return false;
        data.append(chunk, static_cast<size_t>(n));
    }
    size_t want = 0;
    size_t at = data.find("\r\nContent-Length:");
    if (at != std::string::npos && at < end) want = strtoul(data.c_str() + at + 17, nullptr, 10);
    size_t have = data.size() - end - 4;
    while (have < want) {
        if (!readable(s, 5000)) return false;
        int n = static_cast<int>(recv(s, chunk, sizeof chunk, 0));
        if (n <= 0) return false;
        have += static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

HostileServer::HostileServer(const HostileCase &c) : case_(c) {
    start_sockets();
    Socket s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    SockLen len = sizeof addr;
    if (s == INVALID_SOCKET || bind(s, reinterpret_cast<sockaddr *>(&addr), len) != 0 ||
        listen(s, 16) != 0 || getsockname(s, reinterpret_cast<sockaddr *>(&addr), &len) != 0) {
        if (s != INVALID_SOCKET) closesocket(s);
        throw std::runtime_error("hostile server: cannot listen on 127.0.0.1");
    }
    listener_ = static_cast<uintptr_t>(s);
    port_ = ntohs(addr.sin_port);
    thread_ = std::thread([this] { serve(); });
}

HostileServer::~HostileServer() {
    stop_ = true;
    thread_.join();
    closesocket(static_cast<Socket>(listener_));
}

std::string HostileServer::url() const {
    return "http://127.0.0.1:" + std::to_string(port_);
}

void HostileServer::serve() {
    auto listener = static_cast<Socket>(listener_);
    while (!stop_) {
        // Polled, so the destructor never waits on a blocking accept.
        if (!readable(listener, 50)) continue;
        Socket conn = accept(listener, nullptr, nullptr);
        if (conn == INVALID_SOCKET) continue;
        answer(static_cast<uintptr_t>(conn));
    }
}

bool HostileServer::send_all(uintptr_t conn, const char *p, size_t n) {
    auto s = static_cast<Socket>(conn);
    while (n > 0 && !stop_) {
        int sent = static_cast<int>(send(s, p, static_cast<int>(n), kSendFlags));
        if (sent <= 0) return false;
        p += sent;
        n -= static_cast<size_t>(sent);
    }
    return n == 0;
}

void HostileServer::answer(uintptr_t conn) {
    auto s = static_cast<Socket>(conn);
    // One request per connection: each reply ends its connection.
    if (read_request(s)) {
        ++requests_;
        const HostileCase &c = case_;
        bool sent = send_all(conn, c.head.data(), c.head.size());
        for (size_t i = 0; sent && i < c.count; ++i)
            sent = send_all(conn, c.unit.data(), c.unit.size());
        if (sent) send_all(conn, c.tail.data(), c.tail.size());

        if (c.end == HostileEnd::kSilent) {
            while (!stop_) readable(s, 50);
        } else if (c.end == HostileEnd::kReset) {
            linger abort{1, 0};
            setsockopt(s, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char *>(&abort),
                       sizeof abort);
            closesocket(s);
            return;
        }
    }
    // Half-close and let the client finish first, so it sees an orderly end
    // rather than a reset.
    shutdown(s, kShutSend);
    char chunk[16384];
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!stop_ && std::chrono::steady_clock::now() < until && readable(s, 50) &&
           recv(s, chunk, sizeof chunk, 0) > 0) {
    }
    closesocket(s);
}

}  // namespace tarn_test
