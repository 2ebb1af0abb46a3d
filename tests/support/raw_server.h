// A plain HTTP/1.1 server on 127.0.0.1 that writes back whatever bytes its
// responder picks, malformed or cut-off ones included. It serves one
// connection at a time and builds on POSIX sockets and winsock alike, so
// the native suites and the Windows suites under Wine share it.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace tarn_test {

struct RawRequest {
    std::string method;
    std::string target;
    std::vector<std::string> header_lines;  // as received, without CRLF
    std::string body;                       // Content-Length bytes

    // Value of the first header with this name (case-insensitive).
    std::optional<std::string> header(const std::string &name) const;
};

// What the server does with the connection after a reply.
enum class RawEnd {
    kKeep,    // reads the next request on it
    kClose,   // half-closes and lets the client finish first
    kReset,   // abortive close (RST)
    kSilent,  // holds it open, saying nothing more, until the server stops
};

// The bytes for one request: head, unit repeated count times, then tail;
// streamed, so a huge reply costs no memory.
struct RawReply {
    std::string head;
    std::string unit;
    size_t count = 0;
    std::string tail;
    RawEnd end = RawEnd::kClose;
};

class RawServer {
public:
    // Called on the server's thread for each complete request.
    using Responder = std::function<RawReply(const RawRequest &)>;

    explicit RawServer(Responder responder);
    ~RawServer();  // ends every connection, silent ones included
    RawServer(const RawServer &) = delete;
    RawServer &operator=(const RawServer &) = delete;

    uint16_t port() const { return port_; }
    std::string url() const;  // "http://127.0.0.1:PORT", no trailing "/"
    size_t connections() const { return accepted_; }
    // Closes a kept connection that stays idle this long (0: only when the
    // client goes quiet for the read limit).
    void close_idle_after(int ms) { idle_close_ms_ = ms; }

private:
    void serve();
    void serve_connection(uintptr_t conn);
    bool send_all(uintptr_t conn, const std::string &bytes);

    Responder responder_;
    uintptr_t listener_;
    uint16_t port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<size_t> accepted_{0};
    std::atomic<int> idle_close_ms_{0};
    std::thread thread_;
};

// A loopback port that nothing listens on.
uint16_t unused_port();

}  // namespace tarn_test
