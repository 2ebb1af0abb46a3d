// Plain HTTP/1.1 over a socket, for driving the demo service the way no
// well-behaved client would: slow heads, floods, kept connections.
#pragma once

#include <string>

namespace tarn_test {

struct RawReply {
    int status = 0;  // 0 when no reply arrived
    std::string body;
};

// A connected socket to the service at url ("http://127.0.0.1:PORT"), or -1.
int raw_connect(const std::string &url);
bool raw_send(int fd, const std::string &bytes);
// Reads one reply (Content-Length framed) within timeout_ms.
RawReply raw_read(int fd, int timeout_ms);
// One request on a fresh connection: method, target and an optional JSON body.
RawReply raw_request(const std::string &url, const std::string &method, const std::string &target,
                     const std::string &body = "", int timeout_ms = 10000);
// The request's bytes, Host and Content-Length included.
std::string raw_message(const std::string &method, const std::string &target,
                        const std::string &body = "", bool keep_alive = false);

}  // namespace tarn_test
