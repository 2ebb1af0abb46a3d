#include "loopback_server.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <cctype>
#include <cstdlib>
#include <stdexcept>

namespace tarn_win_test {
namespace {

bool same_name(const std::string &a, const std::string &b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (tolower(static_cast<unsigned char>(a[i])) != tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

SOCKET bound_socket(sockaddr_in *addr) {
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) throw std::runtime_error("socket failed");
    *addr = sockaddr_in{};
    addr->sin_family = AF_INET;
    addr->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int len = sizeof *addr;
    if (bind(s, reinterpret_cast<sockaddr *>(addr), len) != 0 ||
        getsockname(s, reinterpret_cast<sockaddr *>(addr), &len) != 0) {
        closesocket(s);
        throw std::runtime_error("bind failed");
    }
    return s;
}

// Winsock stays started for the life of the test program.
void start_winsock() {
    static const bool started = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    if (!started) throw std::runtime_error("WSAStartup failed");
}

bool parse_head(const std::string &head, Request *req) {
    size_t eol = head.find("\r\n");
    std::string first = head.substr(0, eol);
    size_t sp1 = first.find(' ');
    size_t sp2 = first.rfind(' ');
    if (sp1 == std::string::npos || sp2 <= sp1) return false;
    req->method = first.substr(0, sp1);
    req->target = first.substr(sp1 + 1, sp2 - sp1 - 1);
    for (size_t pos = eol + 2; pos < head.size();) {
        size_t next = head.find("\r\n", pos);
        if (next == std::string::npos) next = head.size();
        req->header_lines.push_back(head.substr(pos, next - pos));
        pos = next + 2;
    }
    return true;
}

}  // namespace

std::optional<std::string> Request::header(const std::string &name) const {
    for (const auto &line : header_lines) {
        size_t colon = line.find(':');
        if (colon == std::string::npos || !same_name(line.substr(0, colon), name)) continue;
        size_t start = line.find_first_not_of(' ', colon + 1);
        return start == std::string::npos ? "" : line.substr(start);
    }
    return std::nullopt;
}

std::string reply(int status, const std::string &body, const std::string &extra_headers) {
    return "HTTP/1.1 " + std::to_string(status) +
           " X\r\nContent-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n" +
           extra_headers + "\r\n" + body;
}

LoopbackServer::LoopbackServer(Handler handler) : handler_(std::move(handler)) {
    start_winsock();
    sockaddr_in addr;
    SOCKET s = bound_socket(&addr);
    if (listen(s, SOMAXCONN) != 0) {
        closesocket(s);
        throw std::runtime_error("listen failed");
    }
    listener_ = s;
    port_ = ntohs(addr.sin_port);
    thread_ = std::thread([this] { serve(); });
}

LoopbackServer::~LoopbackServer() {
    stop_ = true;
    thread_.join();
    closesocket(static_cast<SOCKET>(listener_));
}

std::string LoopbackServer::url(const std::string &path_and_query) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path_and_query;
}

void LoopbackServer::keep_connections(int idle_close_ms) {
    idle_close_ms_ = idle_close_ms;
    keep_ = true;
}

std::vector<Request> LoopbackServer::requests() const {
    std::lock_guard<std::mutex> lock(mu_);
    return requests_;
}

void LoopbackServer::serve() {
    auto listener = static_cast<SOCKET>(listener_);
    while (!stop_) {
        // Poll, so the destructor never waits on a blocking accept.
        fd_set ready;
        FD_ZERO(&ready);
        FD_SET(listener, &ready);
        timeval tick{0, 50 * 1000};
        if (select(0, &ready, nullptr, nullptr, &tick) <= 0) continue;
        SOCKET client = accept(listener, nullptr, nullptr);
        if (client == INVALID_SOCKET) continue;
        ++accepted_;
        handle(client);
        closesocket(client);
    }
}

void LoopbackServer::handle(uintptr_t raw) {
    auto client = static_cast<SOCKET>(raw);
    DWORD timeout_ms = 5000;
    setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char *>(&timeout_ms),
               sizeof timeout_ms);

    std::string data;
    char chunk[16384];
    for (bool first = true;; first = false) {
        if (!first) {
            if (!keep_) break;
            fd_set ready;
            FD_ZERO(&ready);
            FD_SET(client, &ready);
            int idle = idle_close_ms_;
            timeval wait{idle / 1000, (idle % 1000) * 1000};
            if (idle > 0 && data.empty() && select(0, &ready, nullptr, nullptr, &wait) <= 0) break;
        }
        size_t head_end;
        while ((head_end = data.find("\r\n\r\n")) == std::string::npos) {
            int n = recv(client, chunk, sizeof chunk, 0);
            if (n <= 0) return;
            data.append(chunk, static_cast<size_t>(n));
        }
        Request req;
        if (!parse_head(data.substr(0, head_end), &req)) return;
        size_t want = 0;
        if (auto len = req.header("Content-Length")) want = std::strtoul(len->c_str(), nullptr, 10);
        req.body = data.substr(head_end + 4);
        while (req.body.size() < want) {
            int n = recv(client, chunk, sizeof chunk, 0);
            if (n <= 0) break;
            req.body.append(chunk, static_cast<size_t>(n));
        }
        // What follows the body is the next request on the connection.
        data = keep_ && req.body.size() > want ? req.body.substr(want) : "";
        if (keep_ && req.body.size() > want) req.body.resize(want);
        {
            std::lock_guard<std::mutex> lock(mu_);
            requests_.push_back(req);
        }

        std::string out = handler_(req);
        if (keep_ && out.empty()) break;
        for (size_t sent = 0; sent < out.size();) {
            int n = send(client, out.data() + sent, static_cast<int>(out.size() - sent), 0);
            if (n <= 0) break;
            sent += static_cast<size_t>(n);
        }
    }
    // Half-close and let the client finish first, so it sees an orderly end
    // rather than a reset.
    shutdown(client, SD_SEND);
    while (recv(client, chunk, sizeof chunk, 0) > 0) {
    }
}

std::unique_ptr<LoopbackServer> serve_routes(std::map<std::string, std::string> routes) {
    return std::make_unique<LoopbackServer>([routes = std::move(routes)](const Request &r) {
        auto it = routes.find(r.target);
        return it != routes.end() ? it->second : reply(404, "no route");
    });
}

uint16_t unused_port() {
    start_winsock();
    sockaddr_in addr;
    SOCKET s = bound_socket(&addr);
    closesocket(s);
    return ntohs(addr.sin_port);
}

}  // namespace tarn_win_test
