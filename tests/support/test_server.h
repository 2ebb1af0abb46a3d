// An HTTP/1.1 service on 127.0.0.1 that lives inside the test process. It
// records every request byte for byte and plays scripted replies, well-formed
// or not, over plain HTTP or TLS with a throwaway certificate issued for
// another host name.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "support/test_certs.h"

namespace tarn_test {

struct Header {
    std::string name;
    std::string value;
};

struct Request {
    std::string method;
    std::string target;  // the request target, byte for byte
    std::string head;    // request line and header lines through the blank line
    // In arrival order. The value is what follows the colon and its leading
    // blanks; nothing else is trimmed, so a stray "\r" stays visible.
    std::vector<Header> headers;
    std::string body;  // Content-Length bytes, or the chunks joined

    std::string path() const;  // target up to "?"
    // First value of a header (name case-insensitive), "" if none.
    std::string header(const std::string &name) const;
    bool has_header(const std::string &name) const;
    size_t header_count(const std::string &name) const;
};

struct Reply {
    Reply() = default;
    Reply(int status_code, std::string body_text, std::vector<Header> extra = {})
        : status(status_code), body(std::move(body_text)), headers(std::move(extra)) {}

    int status = 200;
    std::string body;
    // When set, the body is these bytes instead: a large reply served from
    // one buffer, so answering costs no copy of it.
    std::shared_ptr<const std::string> shared_body;
    // Sent after the status line. Content-Length is added unless one of
    // these sets it or Transfer-Encoding (and never for 1xx, 204, 304).
    std::vector<Header> headers;
    // When set, exactly these bytes go out instead of a formatted reply.
    std::optional<std::string> raw;
    bool close_after_raw = true;
    int delay_ms = 0;  // wait before answering; -1: until the server stops
    int pace_ms = 0;   // send the reply one byte at a time, this far apart
    int stall_ms = 0;  // hold the connection after answering; -1: until stop
    // Answer 200 with a grid echoing the request: one row of its target,
    // password header, authorization header and body.
    bool echo = false;
};

// A reply that echoes each request (see Reply::echo).
Reply echo();

// A redirect to location with an empty body.
Reply redirect(const std::string &location, int status = 302);

class TestServer {
public:
    // https: TLS with a self-signed certificate for "not-this-host.example";
    // expired_cert makes that certificate's validity end yesterday.
    explicit TestServer(bool https = false, bool expired_cert = false);
    // https with the given certificate and key.
    explicit TestServer(const TlsIdentity &identity);
    ~TestServer();
    TestServer(const TestServer &) = delete;
    TestServer &operator=(const TestServer &) = delete;

    int port() const;
    // "http://127.0.0.1:PORT" or "https://127.0.0.1:PORT", no trailing "/".
    std::string url() const;

    // Which reply a request gets: the oldest queued one-shot reply, else
    // the route for its path (target without query), else the default
    // (200 with an empty body until set).
    void set_default(Reply reply);
    void route(const std::string &path, Reply reply);
    void queue(Reply reply);

    std::vector<Request> requests() const;
    size_t count() const;
    size_t connections() const;  // connections accepted so far
    // Closes a connection that stays idle this long after a reply (0: never).
    void close_idle_after(int ms);
    // Stops keeping each request for requests() and last(): a server under
    // load for a benchmark then costs no memory per request.
    void forget_requests();
    Request last() const;  // an empty Request when none arrived
    void clear();          // forgets recorded requests; replies stay
    // Bytes read from clients after any TLS handshake, partial requests
    // included.
    size_t bytes_received() const;
    // Waits, at most timeout_ms, until every connection has ended; false
    // on timeout.
    bool wait_idle(int timeout_ms) const;

    // Ends every connection, stalled ones included. The destructor calls it.
    void stop();

private:
    void listen_and_serve();

    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace tarn_test
