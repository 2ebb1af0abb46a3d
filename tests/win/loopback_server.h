// A small HTTP/1.1 server on 127.0.0.1 that lives inside the Windows test
// program, so the tests need nothing outside Wine. It serves one connection
// at a time, records each request and answers with raw bytes chosen by the
// test, which lets it send malformed or cut-off responses too.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace tarn_win_test {

struct Request {
    std::string method;
    std::string target;
    std::vector<std::string> header_lines;  // as received, without CRLF
    std::string body;

    // Value of the first header with this name (case-insensitive).
    std::optional<std::string> header(const std::string &name) const;
};

// A complete response with Content-Length and Connection: close.
std::string reply(int status, const std::string &body, const std::string &extra_headers = "");

class LoopbackServer {
public:
    // Returns the exact bytes to write back; the server then closes the
    // connection, so a response may be cut off or close-delimited.
    using Handler = std::function<std::string(const Request &)>;

    explicit LoopbackServer(Handler handler);
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer &) = delete;
    LoopbackServer &operator=(const LoopbackServer &) = delete;

    uint16_t port() const { return port_; }
    // "http://127.0.0.1:<port>" followed by path_and_query.
    std::string url(const std::string &path_and_query) const;
    std::vector<Request> requests() const;

    // Serves further requests on a connection until the client closes it
    // or, with idle_close_ms > 0, it stays idle that long; an empty
    // response then closes the connection without a reply.
    void keep_connections(int idle_close_ms = 0);
    size_t connections() const { return accepted_; }

private:
    void serve();
    void handle(uintptr_t client);

    Handler handler_;
    uintptr_t listener_;
    uint16_t port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<bool> keep_{false};
    std::atomic<int> idle_close_ms_{0};
    std::atomic<size_t> accepted_{0};
    mutable std::mutex mu_;
    std::vector<Request> requests_;
    std::thread thread_;
};

// A server that answers each request target from a fixed table of raw
// responses, and 404 for any other.
std::unique_ptr<LoopbackServer> serve_routes(std::map<std::string, std::string> routes);

// A loopback port that nothing listens on.
uint16_t unused_port();

}  // namespace tarn_win_test
