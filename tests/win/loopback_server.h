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
#include <string>
#include <utility>
#include <vector>

#include "support/raw_server.h"

namespace tarn_win_test {

using Request = tarn_test::RawRequest;
using tarn_test::unused_port;

// A complete response with Content-Length and Connection: close.
inline std::string reply(int status, const std::string &body,
                         const std::string &extra_headers = "") {
    return "HTTP/1.1 " + std::to_string(status) +
           " X\r\nContent-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n" +
           extra_headers + "\r\n" + body;
}

class LoopbackServer {
public:
    // Returns the exact bytes to write back; the server then closes the
    // connection, so a response may be cut off or close-delimited.
    using Handler = std::function<std::string(const Request &)>;

    explicit LoopbackServer(Handler handler)
        : handler_(std::move(handler)), core_([this](const Request &r) { return answer(r); }) {}

    uint16_t port() const { return core_.port(); }
    // "http://127.0.0.1:<port>" followed by path_and_query.
    std::string url(const std::string &path_and_query) const {
        return core_.url() + path_and_query;
    }
    std::vector<Request> requests() const {
        std::lock_guard<std::mutex> lock(mu_);
        return requests_;
    }

    // Serves further requests on a connection until the client closes it
    // or, with idle_close_ms > 0, it stays idle that long; an empty
    // response then closes the connection without a reply.
    void keep_connections(int idle_close_ms = 0) {
        core_.close_idle_after(idle_close_ms);
        keep_ = true;
    }
    size_t connections() const { return core_.connections(); }

private:
    tarn_test::RawReply answer(const Request &r) {
        {
            std::lock_guard<std::mutex> lock(mu_);
            requests_.push_back(r);
        }
        tarn_test::RawReply out;
        out.head = handler_(r);
        bool keep = keep_ && !out.head.empty();
        out.end = keep ? tarn_test::RawEnd::kKeep : tarn_test::RawEnd::kClose;
        return out;
    }

    Handler handler_;
    std::atomic<bool> keep_{false};
    mutable std::mutex mu_;
    std::vector<Request> requests_;
    tarn_test::RawServer core_;  // last, so its thread ends before the rest goes
};

// A server that answers each request target from a fixed table of raw
// responses, and 404 for any other.
inline std::unique_ptr<LoopbackServer> serve_routes(std::map<std::string, std::string> routes) {
    return std::make_unique<LoopbackServer>([routes = std::move(routes)](const Request &r) {
        auto it = routes.find(r.target);
        return it != routes.end() ? it->second : reply(404, "no route");
    });
}

}  // namespace tarn_win_test
