#include "raw_http.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>

namespace tarn_test {

int raw_connect(const std::string &url) {
    size_t colon = url.rfind(':');
    if (colon == std::string::npos) return -1;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(atoi(url.c_str() + colon + 1)));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    if (connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

bool raw_send(int fd, const std::string &bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

RawReply raw_read(int fd, int timeout_ms) {
    RawReply r;
    std::string in;
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    size_t want = std::string::npos;
    size_t head = std::string::npos;
    while (want == std::string::npos || in.size() < want) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            until - std::chrono::steady_clock::now());
        pollfd p{fd, POLLIN, 0};
        if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0) return {};
        char buf[65536];
        ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n <= 0) return {};
        in.append(buf, static_cast<size_t>(n));
        if (head == std::string::npos && (head = in.find("\r\n\r\n")) != std::string::npos) {
            size_t cl = in.find("Content-Length: ");
            want = head + 4 + (cl < head ? strtoul(in.c_str() + cl + 16, nullptr, 10) : 0);
        }
    }
    r.status = atoi(in.c_str() + 9);
    r.body = in.substr(head + 4, want - head - 4);
    return r;
}

std::string raw_message(const std::string &method, const std::string &target,
                        const std::string &body, bool keep_alive) {
    std::string m = method + " " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n";
    if (!body.empty())
        m += "Content-Type: application/json\r\nContent-Length: " + std::to_string(body.size()) +
             "\r\n";
    if (!keep_alive) m += "Connection: close\r\n";
    return m + "\r\n" + body;
}

RawReply raw_request(const std::string &url, const std::string &method, const std::string &target,
                     const std::string &body, int timeout_ms) {
    int fd = raw_connect(url);
    if (fd < 0) return {};
    RawReply r;
    if (raw_send(fd, raw_message(method, target, body))) r = raw_read(fd, timeout_ms);
    close(fd);
    return r;
}

}  // namespace tarn_test
