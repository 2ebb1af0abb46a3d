// The bytes of HTTP/1.1 for the demo server: finding the end of a request
// head within limits, reading it, and writing a reply's head.
#pragma once

#include <string>
#include <string_view>

#include "http_server.h"

namespace demo::wire {

// Where a scan of a growing head stands; kept between reads so each byte
// is looked at once.
struct HeadScan {
    size_t pos = 0;         // next byte to look at
    size_t line_start = 0;  // of the line being read
    size_t lines = 0;       // complete lines, request line included
    size_t head_len = 0;    // set once the blank line is found
};

// Scans the new bytes of buf: 0 while the head is incomplete, -1 once it is
// complete (s.head_len set), else the status refusing it (414, 431).
int scan_head(HeadScan &s, const std::string &buf, const HttpLimits &limits);

// What the head says about the body and the connection.
struct HeadInfo {
    size_t content_length = 0;
    bool keep_alive = true;
    bool expect_continue = false;
};

// Reads a complete head (the first head_len bytes of buf) into req: 0, or
// the status refusing it with the reason in why.
int parse_head(std::string_view head, Request &req, HeadInfo &info, std::string &why);

std::string url_decode(std::string_view s, bool plus_is_space);

// "HTTP/1.1 200 OK\r\n...\r\n\r\n" for res with a body of body_len bytes.
std::string reply_head(const Response &res, size_t body_len, bool keep_alive);

// The target with the value of any pwd parameter replaced by "*", for logs.
std::string redact_target(const std::string &target);

}  // namespace demo::wire
