// A small HTTP/1.1 server sized for the demo service: requests are read by
// one event loop with hard limits and deadlines, so slow, idle or oversized
// clients never hold a worker; complete requests run on one of two worker
// pools, so control requests get through while every query worker is busy.
#pragma once

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <string>

namespace demo {

// Header names compare without regard to case.
struct NoCase {
    bool operator()(const std::string &a, const std::string &b) const;
};

struct Request {
    std::string method;
    std::string target;  // as sent: path and query
    std::string path;    // percent-decoded, without the query
    std::string body;
    std::multimap<std::string, std::string> params;
    std::multimap<std::string, std::string, NoCase> headers;
    int fd = -1;  // the client's socket, to notice a client that has gone

    bool has_param(const char *name) const { return params.count(name) != 0; }
    // The first value, or "".
    std::string get_param_value(const char *name) const;
    bool has_header(const char *name) const { return headers.count(name) != 0; }
    std::string get_header_value(const char *name) const;
};

struct Response {
    int status = 200;
    std::string body;
    std::string content_type = "application/json";
    std::multimap<std::string, std::string> headers;

    void set_content(std::string text, const char *type) {
        body = std::move(text);
        content_type = type;
    }
    void set_header(const char *name, const std::string &value) { headers.emplace(name, value); }
};

// What one request or connection may take. Defaults are the service's.
struct HttpLimits {
    size_t request_line = 8 * 1024;       // 414 past it
    size_t header_line = 8 * 1024;        // 431 past it
    size_t header_count = 100;            // 431 past it
    size_t head_bytes = 64 * 1024;        // 431 past it, request line included
    size_t body_bytes = 8 * 1024 * 1024;  // 413 past it, from Content-Length
    int head_deadline_ms = 10 * 1000;     // from the request's first byte
    int body_deadline_ms = 30 * 1000;     // from the end of the head
    int idle_ms = 30 * 1000;              // a kept-alive connection waiting
    int write_stall_ms = 30 * 1000;       // a reply that makes no progress
    size_t connections = 256;             // past it the longest-waiting goes
    int query_workers = 8;
    int control_workers = 2;
};

struct HttpHandlers {
    // Runs a complete request; on a worker thread.
    std::function<void(const Request &, Response &)> handle;
    // Checked once the head is in, before the body is read: true when it
    // filled a refusal (such as a 401) to send instead of running it.
    std::function<bool(const Request &, Response &)> gate;
    // True for requests served by the control workers.
    std::function<bool(const Request &)> is_control;
    // Told of every reply: the request (body not always read), the
    // response, and the milliseconds from the head's arrival.
    std::function<void(const Request &, const Response &, long long ms)> done;
};

class HttpServer {
public:
    HttpServer(HttpLimits limits, HttpHandlers handlers);
    ~HttpServer();
    HttpServer(const HttpServer &) = delete;
    HttpServer &operator=(const HttpServer &) = delete;

    // Binds host:port (0 picks a free port); the port, or -1 with errno set.
    int bind(const std::string &host, int port);
    // Serves until stop(); false when the loop could not start.
    bool run();
    // From any thread: stops accepting, closes connections, lets the
    // requests already running finish, and makes run() return.
    void stop();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace demo
