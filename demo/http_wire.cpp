#include "http_wire.h"

#include <strings.h>

#include <cctype>

namespace demo::wire {
namespace {

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

bool has_token(std::string_view list, std::string_view token) {
    while (!list.empty()) {
        size_t comma = list.find(',');
        std::string_view item = trim(list.substr(0, comma));
        if (item.size() == token.size() &&
            strncasecmp(item.data(), token.data(), token.size()) == 0)
            return true;
        if (comma == std::string_view::npos) break;
        list.remove_prefix(comma + 1);
    }
    return false;
}

void parse_query(std::string_view q, std::multimap<std::string, std::string> &out) {
    while (!q.empty()) {
        size_t amp = q.find('&');
        std::string_view pair = q.substr(0, amp);
        if (!pair.empty()) {
            size_t eq = pair.find('=');
            out.emplace(url_decode(pair.substr(0, eq), true),
                        eq == std::string_view::npos ? "" : url_decode(pair.substr(eq + 1), true));
        }
        if (amp == std::string_view::npos) break;
        q.remove_prefix(amp + 1);
    }
}

const char *reason(int status) {
    switch (status) {
        case 100:
            return "Continue";
        case 200:
            return "OK";
        case 400:
            return "Bad Request";
        case 401:
            return "Unauthorized";
        case 403:
            return "Forbidden";
        case 404:
            return "Not Found";
        case 405:
            return "Method Not Allowed";
        case 408:
            return "Request Timeout";
        case 409:
            return "Conflict";
        case 411:
            return "Length Required";
        case 413:
            return "Payload Too Large";
        case 414:
            return "URI Too Long";
        case 422:
            return "Unprocessable Entity";
        case 431:
            return "Request Header Fields Too Large";
        case 500:
            return "Internal Server Error";
        case 501:
            return "Not Implemented";
        case 503:
            return "Service Unavailable";
        default:
            return status < 400 ? "OK" : status < 500 ? "Bad Request" : "Server Error";
    }
}

}  // namespace

int scan_head(HeadScan &s, const std::string &buf, const HttpLimits &limits) {
    while (s.pos < buf.size()) {
        size_t nl = buf.find('\n', s.pos);
        size_t cap = s.lines == 0 ? limits.request_line : limits.header_line;
        if (nl == std::string::npos) {
            s.pos = buf.size();
            if (s.pos - s.line_start > cap) return s.lines == 0 ? 414 : 431;
            break;
        }
        size_t len = nl - s.line_start;
        if (len > 0 && buf[nl - 1] == '\r') --len;
        if (len > cap) return s.lines == 0 ? 414 : 431;
        s.pos = s.line_start = nl + 1;
        if (len == 0) {
            if (s.lines == 0) continue;  // blank lines before a request are allowed
            s.head_len = nl + 1;
            return -1;
        }
        if (++s.lines > limits.header_count + 1) return 431;
    }
    return buf.size() > limits.head_bytes ? 431 : 0;
}

int parse_head(std::string_view head, Request &req, HeadInfo &info, std::string &why) {
    while (!head.empty() && (head.front() == '\r' || head.front() == '\n')) head.remove_prefix(1);
    size_t eol = head.find('\n');
    std::string_view line = trim(head.substr(0, eol));
    size_t sp1 = line.find(' ');
    size_t sp2 = line.rfind(' ');
    if (sp1 == std::string_view::npos || sp2 == sp1) {
        why = "malformed request line";
        return 400;
    }
    req.method = std::string(line.substr(0, sp1));
    req.target = std::string(trim(line.substr(sp1 + 1, sp2 - sp1 - 1)));
    std::string_view version = line.substr(sp2 + 1);
    if (version != "HTTP/1.1" && version != "HTTP/1.0") {
        why = "only HTTP/1.0 and HTTP/1.1 are served";
        return 400;
    }
    size_t q = req.target.find('?');
    req.path = url_decode(std::string_view(req.target).substr(0, q), false);
    if (q != std::string::npos) parse_query(std::string_view(req.target).substr(q + 1), req.params);

    head.remove_prefix(eol == std::string_view::npos ? head.size() : eol + 1);
    while (!head.empty()) {
        eol = head.find('\n');
        line = trim(head.substr(0, eol));
        head.remove_prefix(eol == std::string_view::npos ? head.size() : eol + 1);
        if (line.empty()) break;
        size_t colon = line.find(':');
        if (colon == std::string_view::npos || colon == 0) {
            why = "malformed header line";
            return 400;
        }
        req.headers.emplace(std::string(line.substr(0, colon)),
                            std::string(trim(line.substr(colon + 1))));
    }

    info.keep_alive = version == "HTTP/1.1";
    for (auto [it, end] = req.headers.equal_range("Connection"); it != end; ++it) {
        if (has_token(it->second, "close")) info.keep_alive = false;
        if (has_token(it->second, "keep-alive")) info.keep_alive = true;
    }
    if (req.has_header("Transfer-Encoding")) {
        why = "request bodies are taken with Content-Length only";
        return 411;
    }
    if (req.headers.count("Content-Length") > 1) {
        why = "more than one Content-Length";
        return 400;
    }
    std::string cl = req.get_header_value("Content-Length");
    if (!cl.empty()) {
        if (cl.size() > 18 || cl.find_first_not_of("0123456789") != std::string::npos) {
            why = "Content-Length is not a number";
            return 400;
        }
        info.content_length = std::stoull(cl);
    }
    info.expect_continue = has_token(req.get_header_value("Expect"), "100-continue");
    return 0;
}

std::string url_decode(std::string_view s, bool plus_is_space) {
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size(); ++i) {
        char c = s[i];
        if (c == '%' && i + 2 < s.size() &&
            std::isxdigit(static_cast<unsigned char>(s[i + 1])) != 0 &&
            std::isxdigit(static_cast<unsigned char>(s[i + 2])) != 0) {
            auto hex = [](char h) {
                return std::isdigit(static_cast<unsigned char>(h)) != 0 ? h - '0'
                                                                        : (h | 0x20) - 'a' + 10;
            };
            out.push_back(static_cast<char>(hex(s[i + 1]) * 16 + hex(s[i + 2])));
            i += 2;
        } else if (c == '+' && plus_is_space) {
            out.push_back(' ');
        } else {
            out.push_back(c);
        }
    }
    return out;
}

std::string reply_head(const Response &res, size_t body_len, bool keep_alive) {
    std::string h = "HTTP/1.1 " + std::to_string(res.status) + " " + reason(res.status) + "\r\n";
    if (!res.content_type.empty()) h += "Content-Type: " + res.content_type + "\r\n";
    h += "Content-Length: " + std::to_string(body_len) + "\r\n";
    for (const auto &[name, value] : res.headers)
        h.append(name).append(": ").append(value).append("\r\n");
    if (!keep_alive) h += "Connection: close\r\n";
    return h + "\r\n";
}

std::string redact_target(const std::string &target) {
    size_t q = target.find('?');
    if (q == std::string::npos) return target;
    std::string out = target.substr(0, q + 1);
    std::string_view rest = std::string_view(target).substr(q + 1);
    bool first = true;
    while (true) {
        size_t amp = rest.find('&');
        std::string_view pair = rest.substr(0, amp);
        if (!first) out += "&";
        first = false;
        if (pair.substr(0, pair.find('=')) == "pwd")
            out += "pwd=*";
        else
            out += pair;
        if (amp == std::string_view::npos) break;
        rest.remove_prefix(amp + 1);
    }
    return out;
}

}  // namespace demo::wire
