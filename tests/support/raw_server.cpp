#include "raw_server.h"

#include <cctype>
#include <chrono>
#include <cstdlib>
#include <stdexcept>
#include <thread>

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

constexpr size_t kMaxHead = 1 << 20;
// A client that sends nothing for this long has given up.
constexpr int kReadLimitMs = 5000;
// Blocking calls wait in ticks this long, so stopping never waits on a client.
constexpr int kTickMs = 50;

using Clock = std::chrono::steady_clock;

void start_sockets() {
#if defined(_WIN32)
    // Winsock stays started for the life of the test program.
    static const bool started = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    if (!started) throw std::runtime_error("WSAStartup failed");
#endif
}

// Waits up to ms for s to become readable (or writable).
bool ready(Socket s, int ms, bool write = false) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(s, &set);
    timeval tick{ms / 1000, (ms % 1000) * 1000};
    return select(static_cast<int>(s) + 1, write ? nullptr : &set, write ? &set : nullptr, nullptr,
                  &tick) > 0;
}

Socket bound_socket(sockaddr_in *addr) {
    start_sockets();
    Socket s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    *addr = sockaddr_in{};
    addr->sin_family = AF_INET;
    addr->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    SockLen len = sizeof *addr;
    if (s == INVALID_SOCKET || bind(s, reinterpret_cast<sockaddr *>(addr), len) != 0 ||
        getsockname(s, reinterpret_cast<sockaddr *>(addr), &len) != 0) {
        if (s != INVALID_SOCKET) closesocket(s);
        throw std::runtime_error("loopback server: cannot bind 127.0.0.1");
    }
    return s;
}

bool same_name(const std::string &a, const std::string &b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (tolower(static_cast<unsigned char>(a[i])) != tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

bool parse_head(const std::string &head, RawRequest *req) {
    size_t eol = head.find("\r\n");
    std::string first = head.substr(0, eol);
    size_t sp1 = first.find(' ');
    size_t sp2 = first.rfind(' ');
    if (sp1 == std::string::npos || sp2 <= sp1) return false;
    req->method = first.substr(0, sp1);
    req->target = first.substr(sp1 + 1, sp2 - sp1 - 1);
    for (size_t pos = eol == std::string::npos ? head.size() : eol + 2; pos < head.size();) {
        size_t next = head.find("\r\n", pos);
        if (next == std::string::npos) next = head.size();
        req->header_lines.push_back(head.substr(pos, next - pos));
        pos = next + 2;
    }
    return true;
}

// Appends what arrives within the read limit; false at end of stream, on
// error, on timeout or once stop is set.
bool receive(Socket s, std::string *buf, const std::atomic<bool> &stop) {
    auto until = Clock::now() + std::chrono::milliseconds(kReadLimitMs);
    while (!ready(s, kTickMs))
        if (stop || Clock::now() >= until) return false;
    char chunk[16384];
    int n = static_cast<int>(recv(s, chunk, sizeof chunk, 0));
    if (n <= 0) return false;
    buf->append(chunk, static_cast<size_t>(n));
    return true;
}

// Reads one request, its head and the body it declares, from *buf and the
// socket; what follows it stays in *buf.
bool read_request(Socket s, std::string *buf, RawRequest *req, const std::atomic<bool> &stop) {
    size_t end;
    while ((end = buf->find("\r\n\r\n")) == std::string::npos)
        if (buf->size() > kMaxHead || !receive(s, buf, stop)) return false;
    if (!parse_head(buf->substr(0, end), req)) return false;
    size_t want = 0;
    if (auto len = req->header("Content-Length")) want = strtoul(len->c_str(), nullptr, 10);
    while (buf->size() - end - 4 < want)
        if (!receive(s, buf, stop)) return false;
    req->body = buf->substr(end + 4, want);
    buf->erase(0, end + 4 + want);
    return true;
}

}  // namespace

std::optional<std::string> RawRequest::header(const std::string &name) const {
    for (const auto &line : header_lines) {
        size_t colon = line.find(':');
        if (colon == std::string::npos || !same_name(line.substr(0, colon), name)) continue;
        size_t start = line.find_first_not_of(' ', colon + 1);
        return start == std::string::npos ? "" : line.substr(start);
    }
    return std::nullopt;
}

RawServer::RawServer(Responder responder) : responder_(std::move(responder)) {
    sockaddr_in addr;
    Socket s = bound_socket(&addr);
    if (listen(s, 64) != 0) {
        closesocket(s);
        throw std::runtime_error("loopback server: cannot listen on 127.0.0.1");
    }
    listener_ = static_cast<uintptr_t>(s);
    port_ = ntohs(addr.sin_port);
    thread_ = std::thread([this] { serve(); });
}

RawServer::~RawServer() {
    stop_ = true;
    thread_.join();
    closesocket(static_cast<Socket>(listener_));
}

std::string RawServer::url() const {
    return "http://127.0.0.1:" + std::to_string(port_);
}

void RawServer::serve() {
    auto listener = static_cast<Socket>(listener_);
    while (!stop_) {
        if (!ready(listener, kTickMs)) continue;
        Socket conn = accept(listener, nullptr, nullptr);
        if (conn == INVALID_SOCKET) continue;
        ++accepted_;
        serve_connection(static_cast<uintptr_t>(conn));
    }
}

bool RawServer::send_all(uintptr_t conn, const std::string &bytes) {
    auto s = static_cast<Socket>(conn);
    const char *p = bytes.data();
    size_t n = bytes.size();
    while (n > 0) {
        if (stop_) return false;
        if (!ready(s, kTickMs, true)) continue;
        int sent = static_cast<int>(send(s, p, static_cast<int>(n), kSendFlags));
        if (sent <= 0) return false;
        p += sent;
        n -= static_cast<size_t>(sent);
    }
    return true;
}

void RawServer::serve_connection(uintptr_t conn) {
    auto s = static_cast<Socket>(conn);
    std::string buf;
    for (bool first = true;; first = false) {
        int idle = idle_close_ms_;
        if (!first && idle > 0 && buf.empty() && !ready(s, idle)) break;
        RawRequest req;
        if (!read_request(s, &buf, &req, stop_)) break;
        RawReply r = responder_(req);
        bool sent = send_all(conn, r.head);
        for (size_t i = 0; sent && i < r.count; ++i) sent = send_all(conn, r.unit);
        if (sent) sent = send_all(conn, r.tail);

        if (r.end == RawEnd::kKeep && sent) continue;
        if (r.end == RawEnd::kSilent) {
            while (!stop_) std::this_thread::sleep_for(std::chrono::milliseconds(kTickMs));
        } else if (r.end == RawEnd::kReset) {
            linger abort{1, 0};
            setsockopt(s, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char *>(&abort),
                       sizeof abort);
            closesocket(s);
            return;
        }
        break;
    }
    // Half-close and let the client finish first, so it sees an orderly end
    // rather than a reset.
    shutdown(s, kShutSend);
    char chunk[16384];
    auto until = Clock::now() + std::chrono::milliseconds(kReadLimitMs);
    while (!stop_ && Clock::now() < until && ready(s, kTickMs) &&
           recv(s, chunk, sizeof chunk, 0) > 0) {
    }
    closesocket(s);
}

uint16_t unused_port() {
    sockaddr_in addr;
    Socket s = bound_socket(&addr);
    closesocket(s);
    return ntohs(addr.sin_port);
}

}  // namespace tarn_test
