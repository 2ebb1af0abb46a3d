// What the WinHTTP backend puts on the wire, and the fixed messages of the
// requests it cannot make.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <string>
#include <vector>

#include "backend_calls.h"
#include "loopback_server.h"

namespace {

using tarn_win_test::expect_failure;
using tarn_win_test::http_delete;
using tarn_win_test::http_get;
using tarn_win_test::http_post;
using tarn_win_test::http_put;
using tarn_win_test::LoopbackServer;
using tarn_win_test::Outcome;
using tarn_win_test::reply;
using tarn_win_test::Request;

constexpr const char *kUserAgent = "drumvale-tarn-client/1.0";

LoopbackServer echo_server() {
    return LoopbackServer([](const Request &) { return reply(200, "ok"); });
}

// The caller's headers as they arrived: every line whose name starts "X-".
std::vector<std::string> caller_headers(const Request &r) {
    std::vector<std::string> out;
    for (const auto &line : r.header_lines)
        if (line.size() > 2 && toupper(static_cast<unsigned char>(line[0])) == 'X' &&
            line[1] == '-')
            out.push_back(line);
    return out;
}

TEST(WinHttpRequest, EachSlotSendsItsVerbBodyAndHeaders) {
    auto server = echo_server();
    const char *headers = "X-Slot: on";
    struct Case {
        const char *verb;
        Outcome (*call)(const std::string &url, const char *headers);
        std::string body;
        bool headers_sent;
    } cases[] = {
        {"GET", [](const std::string &u, const char *h) { return http_get(u, h); }, "", true},
        {"POST", [](const std::string &u, const char *h) { return http_post(u, R"({"a":1})", h); },
         R"({"a":1})", true},
        {"PUT", [](const std::string &u, const char *h) { return http_put(u, "put body", h); },
         "put body", true},
        // The delete slot has no header argument at all.
        {"DELETE", [](const std::string &u, const char *) { return http_delete(u); }, "", false},
    };
    for (const auto &c : cases) {
        Outcome o = c.call(server.url("/slot"), headers);
        EXPECT_EQ(o.rc, 0) << c.verb;
        EXPECT_EQ(o.status, 200) << c.verb;
        EXPECT_EQ(o.body.value_or("(null)"), "ok") << c.verb;
        ASSERT_FALSE(server.requests().empty());
        Request r = server.requests().back();
        EXPECT_EQ(r.method, c.verb);
        EXPECT_EQ(r.target, "/slot") << c.verb;
        EXPECT_EQ(r.body, c.body) << c.verb;
        EXPECT_EQ(r.header("User-Agent").value_or("(none)"), kUserAgent) << c.verb;
        EXPECT_EQ(r.header("X-Slot").has_value(), c.headers_sent) << c.verb;
    }
}

TEST(WinHttpRequest, EmptyPostBodySendsNoBytes) {
    auto server = echo_server();
    EXPECT_EQ(http_post(server.url("/p"), "").rc, 0);
    EXPECT_EQ(http_post(server.url("/p"), nullptr).rc, 0);
    for (const auto &r : server.requests()) {
        EXPECT_EQ(r.method, "POST");
        EXPECT_EQ(r.body, "");
        EXPECT_EQ(r.header("Content-Length").value_or("0"), "0");
    }
}

TEST(WinHttpRequest, TargetAndPortTravelAsWritten) {
    auto server = echo_server();
    const std::string target = "/tree?server=HOST%5CINST&node=a%20b&pwd=p%26w%3D";
    ASSERT_EQ(http_get(server.url(target)).rc, 0);
    Request r = server.requests().at(0);
    EXPECT_EQ(r.target, target);
    EXPECT_EQ(r.header("Host").value_or("(none)"), "127.0.0.1:" + std::to_string(server.port()));
}

TEST(WinHttpRequest, HeaderBlockLines) {
    // "X-Pad: " plus this is 8213 bytes, as long as the longest token line.
    const std::string pad(8213 - 7, 'v');
    struct Case {
        const char *name;
        const char *block;  // null for no block
        std::vector<std::string> want;
    } cases[] = {
        {"mixed line ends", "X-A: 1\r\nX-B: 2\n\nX-C: 3", {"X-A: 1", "X-B: 2", "X-C: 3"}},
        {"longest line", nullptr, {"X-Pad: " + pad}},
        {"one byte too long", nullptr, {"X-After: 1"}},
        {"too long before its CR", nullptr, {"X-After: 1"}},
        {"trailing line feed", "X-F: 6\n", {"X-F: 6"}},
        {"empty lines only", "\n\r\n\n", {}},
        {"empty block", "", {}},
        {"no block", nullptr, {}},
    };
    const std::string longest = "X-Pad: " + pad;
    const std::string too_long = "X-Pad: " + pad + "v\nX-After: 1";
    const std::string too_long_cr = "X-Pad: " + pad + "\r\nX-After: 1";
    cases[1].block = longest.c_str();
    cases[2].block = too_long.c_str();
    cases[3].block = too_long_cr.c_str();

    auto server = echo_server();
    for (const auto &c : cases) {
        ASSERT_EQ(http_get(server.url("/h"), c.block).rc, 0) << c.name;
        Request r = server.requests().back();
        EXPECT_EQ(caller_headers(r), c.want) << c.name;
        EXPECT_EQ(r.header("User-Agent").value_or("(none)"), kUserAgent) << c.name;
        for (const auto &line : r.header_lines)
            EXPECT_EQ(line.find('\r'), std::string::npos) << c.name << ": " << line;
    }
}

// Only one of two carriage returns is removed; WinHTTP itself then trims
// the other, and the lines after it still go out.
TEST(WinHttpRequest, LineWithTwoCarriageReturns) {
    auto server = echo_server();
    ASSERT_EQ(http_get(server.url("/h"), "X-D: 4\r\r\nX-E: 5").rc, 0);
    Request r = server.requests().back();
    EXPECT_EQ(r.header("X-D").value_or("(none)"), "4");
    EXPECT_EQ(r.header("X-E").value_or("(none)"), "5");
}

// The URL is converted into 4096 UTF-16 units with the terminator; the
// user name is not asked of the URL cracker, so it pads the URL freely.
std::string url_of_units(const LoopbackServer &server, size_t units) {
    std::string tail = "@127.0.0.1:" + std::to_string(server.port()) + "/long";
    std::string head = "http://" + std::string(1000, 'u');
    return head + tail + std::string(units - head.size() - tail.size(), 'p');
}

TEST(WinHttpRequest, UrlConversionBound) {
    auto server = echo_server();
    std::string longest = url_of_units(server, 4095);
    Outcome fits = http_get(longest);
    EXPECT_EQ(fits.rc, 0) << fits.error.value_or("");
    ASSERT_EQ(server.requests().size(), 1U);
    EXPECT_EQ(server.requests()[0].target, longest.substr(longest.find("/long")));

    expect_failure(http_get(url_of_units(server, 4096)), "url conversion failed", "4096 units");
    // Units, not bytes: 4095 two-byte characters still fit.
    std::string wide = url_of_units(server, 4095 - 2000);
    for (int i = 0; i < 2000; ++i) wide += "\xC3\xA9";
    Outcome o = http_get(wide);
    EXPECT_EQ(o.rc, 0) << o.error.value_or("");
}

TEST(WinHttpRequest, FixedFailureMessages) {
    auto server = echo_server();
    const std::string base = "http://127.0.0.1:" + std::to_string(server.port());
    struct Case {
        const char *name;
        std::string url;
        const char *message;
    } cases[] = {
        {"not a url", "not a url", "invalid url"},
        {"empty", "", "invalid url"},
        {"path over its buffer", base + "/" + std::string(3074, 'p'), "invalid url"},
        {"host over its buffer", "http://" + std::string(1023, 'h') + "/", "invalid url"},
        {"refused", "http://127.0.0.1:" + std::to_string(tarn_win_test::unused_port()) + "/ping",
         "WinHttpSendRequest failed"},
    };
    for (const auto &c : cases) expect_failure(http_get(c.url), c.message, c.name);
    EXPECT_TRUE(server.requests().empty());

    // Just inside the path buffer, terminator included.
    std::string longest = "/" + std::string(3073, 'p');
    EXPECT_EQ(http_get(base + longest).rc, 0);
    ASSERT_EQ(server.requests().size(), 1U);
    EXPECT_EQ(server.requests()[0].target, longest);
}

// WinHTTP's URL cracker knows only http and https and refuses other schemes
// itself; either message names the fault.
TEST(WinHttpRequest, OtherSchemesAreRefused) {
    for (const char *url : {"ftp://127.0.0.1/file", "file:///c:/x", "ws://127.0.0.1/"}) {
        Outcome o = http_get(url);
        EXPECT_EQ(o.rc, -1) << url;
        EXPECT_EQ(o.status, 0) << url;
        EXPECT_FALSE(o.body.has_value()) << url;
        std::string msg = o.error.value_or("(null)");
        EXPECT_TRUE(msg == "invalid url" || msg == "unsupported url scheme") << url << ": " << msg;
    }
}

// The script starts a native TLS server whose self-signed certificate names
// another host, and passes its URL and the body it serves.
TEST(WinHttpRequest, HttpsAcceptsSelfSignedCertForAnotherHost) {
    const char *url = getenv("TARN_WIN_TLS_URL");
    const char *body = getenv("TARN_WIN_TLS_BODY");
    if (url == nullptr || body == nullptr)
        GTEST_SKIP() << "TARN_WIN_TLS_URL is set by scripts/test_windows.sh";
    Outcome o = http_get(url, "X-Over: tls");
    EXPECT_EQ(o.rc, 0) << o.error.value_or("");
    EXPECT_EQ(o.status, 200);
    EXPECT_EQ(o.body.value_or("(null)"), body);
}

}  // namespace
