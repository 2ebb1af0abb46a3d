// The CONNECT relay behind the WinHTTP certificate checks (tls_gate.h).
#include "transport/winhttp/tls_gate.h"

#include <ws2tcpip.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace tarn::tls {
namespace {

constexpr int kTickMs = 50;        // how often a waiting loop looks at the stop flag
constexpr size_t kMaxHead = 4096;  // the CONNECT request WinHTTP sends is short
constexpr char kEstablished[] = "HTTP/1.1 200 Connection established\r\n\r\n";
constexpr char kBadGateway[] = "HTTP/1.1 502 Bad Gateway\r\nContent-Length: 0\r\n\r\n";

// Waits until s is readable; false on timeout, error or when stopping.
bool readable(SOCKET s, const std::atomic<bool> &stopping) {
    while (!stopping) {
        fd_set set;
        FD_ZERO(&set);
        FD_SET(s, &set);
        timeval tv{0, kTickMs * 1000};
        int n = select(0, &set, nullptr, nullptr, &tv);
        if (n < 0) return false;
        if (n > 0) return true;
    }
    return false;
}

bool send_all(SOCKET s, const char *p, int n) {
    while (n > 0) {
        int sent = send(s, p, n, 0);
        if (sent <= 0) return false;
        p += sent;
        n -= sent;
    }
    return true;
}

// "CONNECT host:port HTTP/1.1": the host and port, brackets of an IPv6
// literal removed.
bool parse_connect(const std::string &head, std::string *host, std::string *port) {
    if (head.compare(0, 8, "CONNECT ") != 0) return false;
    size_t end = head.find(' ', 8);
    if (end == std::string::npos) return false;
    std::string target = head.substr(8, end - 8);
    size_t colon = target.rfind(':');
    if (colon == std::string::npos || colon + 1 == target.size()) return false;
    *host = target.substr(0, colon);
    *port = target.substr(colon + 1);
    if (host->size() >= 2 && host->front() == '[' && host->back() == ']')
        *host = host->substr(1, host->size() - 2);
    return !host->empty();
}

SOCKET dial(const std::string &host, const std::string &port) {
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *found = nullptr;
    if (getaddrinfo(host.c_str(), port.c_str(), &hints, &found) != 0) return INVALID_SOCKET;
    SOCKET s = INVALID_SOCKET;
    for (addrinfo *a = found; a != nullptr && s == INVALID_SOCKET; a = a->ai_next) {
        s = socket(a->ai_family, a->ai_socktype, a->ai_protocol);
        if (s != INVALID_SOCKET && connect(s, a->ai_addr, static_cast<int>(a->ai_addrlen)) != 0) {
            closesocket(s);
            s = INVALID_SOCKET;
        }
    }
    freeaddrinfo(found);
    return s;
}

// Reads the CONNECT request and opens its target. INVALID_SOCKET when
// either fails; WinHTTP then got its answer already.
SOCKET open_tunnel(SOCKET client, const std::atomic<bool> &stopping) {
    std::string head;
    char buf[512];
    while (head.find("\r\n\r\n") == std::string::npos) {
        if (head.size() > kMaxHead || !readable(client, stopping)) return INVALID_SOCKET;
        int n = recv(client, buf, sizeof buf, 0);
        if (n <= 0) return INVALID_SOCKET;
        head.append(buf, static_cast<size_t>(n));
    }
    std::string host;
    std::string port;
    SOCKET upstream = parse_connect(head, &host, &port) ? dial(host, port) : INVALID_SOCKET;
    if (upstream == INVALID_SOCKET) {
        send_all(client, kBadGateway, static_cast<int>(strlen(kBadGateway)));
        return INVALID_SOCKET;
    }
    if (!send_all(client, kEstablished, static_cast<int>(strlen(kEstablished)))) {
        closesocket(upstream);
        return INVALID_SOCKET;
    }
    return upstream;
}

}  // namespace

Gate::~Gate() {
    stopping_ = true;
    if (acceptor_.joinable()) acceptor_.join();
    for (std::thread &t : workers_) t.join();
    if (listener_ != INVALID_SOCKET) closesocket(listener_);
    if (wsa_) WSACleanup();
}

bool Gate::start(const char *address) {
    WSADATA data;
    wsa_ = WSAStartup(MAKEWORD(2, 2), &data) == 0;
    if (!wsa_) return false;
    listener_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (listener_ == INVALID_SOCKET) return false;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    int len = sizeof addr;
    if (inet_pton(AF_INET, address, &addr.sin_addr) != 1 ||
        bind(listener_, reinterpret_cast<sockaddr *>(&addr), len) != 0 ||
        listen(listener_, 8) != 0 ||
        getsockname(listener_, reinterpret_cast<sockaddr *>(&addr), &len) != 0)
        return false;
    swprintf(proxy_, sizeof proxy_ / sizeof proxy_[0], L"%hs:%u", address,
             static_cast<unsigned>(ntohs(addr.sin_port)));
    acceptor_ = std::thread(&Gate::accept_loop, this);
    return true;
}

void Gate::decide(bool pass) {
    std::lock_guard<std::mutex> lock(mu_);
    for (auto &link : links_) {
        int undecided = kUndecided;
        link->state.compare_exchange_strong(undecided, pass ? kOpen : kShut);
    }
}

void Gate::accept_loop() {
    while (readable(listener_, stopping_)) {
        SOCKET client = accept(listener_, nullptr, nullptr);
        if (client == INVALID_SOCKET) continue;
        std::lock_guard<std::mutex> lock(mu_);
        links_.push_back(std::make_unique<Link>());
        Link *link = links_.back().get();
        link->client = client;
        workers_.emplace_back(&Gate::relay, this, link);
    }
}

void Gate::relay(Link *link) {
    SOCKET client = link->client;
    SOCKET upstream = open_tunnel(client, stopping_);
    char buf[16384];
    while (upstream != INVALID_SOCKET && !stopping_ && link->state != kShut) {
        fd_set set;
        FD_ZERO(&set);
        FD_SET(client, &set);
        FD_SET(upstream, &set);
        timeval tv{0, kTickMs * 1000};
        int ready = select(0, &set, nullptr, nullptr, &tv);
        if (ready < 0) break;
        if (ready == 0) continue;
        if (FD_ISSET(client, &set)) {
            int n = recv(client, buf, sizeof buf, 0);
            // Bytes that arrive after a refusal are the request: dropped.
            if (n <= 0 || link->state == kShut || !send_all(upstream, buf, n)) break;
        }
        if (FD_ISSET(upstream, &set)) {
            int n = recv(upstream, buf, sizeof buf, 0);
            if (n <= 0 || !send_all(client, buf, n)) break;
        }
    }
    if (upstream != INVALID_SOCKET) closesocket(upstream);
    closesocket(client);
}

}  // namespace tarn::tls
