// The libcurl backend against a real loopback service: what goes out on the
// wire, what comes back, and which message each kind of failure gives.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "client/state.h"
#include "support/test_server.h"
#include "tarn_client.h"
#include "transport/backend.h"

namespace {

using tarn_test::Header;
using tarn_test::Reply;
using tarn_test::Request;
using tarn_test::TestServer;

const tarn_client_io &io = *tarn_client_default_io();

struct Outcome {
    int32_t rc = -99;
    int32_t status = -99;
    bool has_body = false;
    std::string body;
    bool has_error = false;
    std::string error;
};

// One call through the table. Out parameters start as garbage, so a slot
// that forgets to set them is caught; every buffer goes back through free.
Outcome call(const std::string &method, const std::string &url, const char *body = nullptr,
             const char *headers = nullptr) {
    static char garbage[] = "garbage";
    char *out_body = garbage;
    char *out_error = garbage;
    int32_t status = -7;
    Outcome o;
    if (method == "GET")
        o.rc = io.get(io.user_data, url.c_str(), headers, &out_body, &status, &out_error);
    else if (method == "POST")
        o.rc = io.post(io.user_data, url.c_str(), body, headers, &out_body, &status, &out_error);
    else if (method == "PUT")
        o.rc = io.put(io.user_data, url.c_str(), body, headers, &out_body, &status, &out_error);
    else
        o.rc = io.del(io.user_data, url.c_str(), &out_body, &status, &out_error);
    o.status = status;
    o.has_body = out_body != nullptr;
    o.has_error = out_error != nullptr;
    if (o.has_body && out_body != garbage) {
        o.body = out_body;
        io.free_buf(io.user_data, out_body);
    }
    if (o.has_error && out_error != garbage) {
        o.error = out_error;
        io.free_buf(io.user_data, out_error);
    }
    return o;
}

void expect_success(const Outcome &o, int status, const std::string &body, const char *what = "") {
    EXPECT_EQ(o.rc, 0) << what << ": " << o.error;
    EXPECT_EQ(o.status, status) << what;
    EXPECT_TRUE(o.has_body) << what;
    EXPECT_FALSE(o.has_error) << what;
    EXPECT_TRUE(o.body == body) << what << ": body of " << o.body.size() << " bytes, want "
                                << body.size();
}

void expect_failure(const Outcome &o, const std::string &message, const char *what = "") {
    EXPECT_EQ(o.rc, -1) << what;
    EXPECT_EQ(o.status, 0) << what;
    EXPECT_FALSE(o.has_body) << what;
    EXPECT_EQ(o.error, message) << what;
}

// Text without NUL bytes: a body is handed out as a terminated text.
std::string pattern(size_t n) {
    std::string s(n, ' ');
    for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>(1 + (i * 7 + i / 251) % 255);
    return s;
}

Reply raw(std::string bytes, int stall_ms = 0) {
    Reply r;
    r.raw = std::move(bytes);
    r.stall_ms = stall_ms;
    return r;
}

// The headers a caller's block produced: everything but what libcurl
// always sends.
std::vector<std::string> caller_headers(const Request &req) {
    std::vector<std::string> out;
    for (const Header &h : req.headers) {
        if (h.name == "Host" || h.name == "User-Agent" || h.name == "Content-Length") continue;
        out.push_back(h.name + ": " + h.value);
    }
    return out;
}

// A socket bound to a free loopback port, or -1.
int bind_loopback(int *port) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr *>(&addr), len) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &len) != 0) {
        if (fd >= 0) close(fd);
        return -1;
    }
    *port = ntohs(addr.sin_port);
    return fd;
}

// A loopback port with nothing listening on it.
int closed_port() {
    int port = 0;
    int fd = bind_loopback(&port);
    if (fd >= 0) close(fd);
    return port;
}

class Transport : public ::testing::Test {
protected:
    // libcurl honours the proxy variables, which must not catch loopback.
    static void SetUpTestSuite() {
        for (const char *v : {"http_proxy", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"})
            unsetenv(v);
    }
    void TearDown() override {
        tarn::curl_timeouts = saved_;
        tarn::mem_realloc = realloc;
    }

private:
    tarn::CurlTimeouts saved_ = tarn::curl_timeouts;
};

TEST_F(Transport, ResponsesArriveWholeWithTheirStatus) {
    TestServer server;
    const std::string k64 = pattern(65536);
    const std::string mb = pattern(5 * 1024 * 1024 + 17);
    struct Case {
        const char *name;
        Reply reply;
        int status;
        std::string body;
    };
    const Case cases[] = {
        {"200", Reply{200, "{\"ok\":true}"}, 200, "{\"ok\":true}"},
        {"204 gives an empty text", Reply{204, ""}, 204, ""},
        {"empty 200", Reply{200, ""}, 200, ""},
        {"404 body", Reply{404, "{\"error\":\"no such thing\"}"}, 404,
         "{\"error\":\"no such thing\"}"},
        {"500 body", Reply{500, "boom"}, 500, "boom"},
        {"exactly 64 KiB", Reply{200, k64}, 200, k64},
        {"several MB", Reply{200, mb}, 200, mb},
        {"chunked",
         raw("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
             "5\r\nhello\r\n7\r\n, world\r\n0\r\n\r\n"),
         200, "hello, world"},
        {"close-delimited", raw("HTTP/1.1 200 OK\r\nConnection: close\r\n\r\nuntil the end"), 200,
         "until the end"},
        {"HTTP/1.0", raw("HTTP/1.0 201 Created\r\n\r\nold"), 201, "old"},
        {"interim 100 first",
         raw("HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\n"
             "Content-Length: 2\r\n\r\nok"),
         200, "ok"},
    };
    for (const Case &c : cases) {
        server.queue(c.reply);
        expect_success(call("GET", server.url() + "/r"), c.status, c.body, c.name);
    }
}

TEST_F(Transport, HeaderBlockBecomesHeaderLinesInOrder) {
    TestServer server;
    // The longest line: "Authorization: Bearer " and an 8191-byte token.
    const std::string line1023 = "X-Long: " + std::string(8213 - 8, 'v');
    const std::string line1024 = "X-Long: " + std::string(8214 - 8, 'v');
    struct Case {
        const char *name;
        std::string block;
        std::vector<std::string> want;
    };
    const Case cases[] = {
        {"CRLF, LF and empty line, no end",
         "A-One: 1\r\nB-Two: 2\n\nC-Three: 3",
         {"A-One: 1", "B-Two: 2", "C-Three: 3"}},
        {"trailing line feed", "A-One: 1\n", {"A-One: 1"}},
        {"8213 bytes sent", line1023 + "\nZ: 1", {line1023, "Z: 1"}},
        {"8214 bytes left out", line1024 + "\nZ: 1", {"Z: 1"}},
        {"8213 bytes plus CR left out", line1023 + "\r\nZ: 1", {"Z: 1"}},
        // libcurl sends the value with the remaining CR before its own CRLF.
        {"two trailing CRs keep one", "X-Two: v\r\r", {"X-Two: v\r"}},
        {"a later line of the same name replaces", "X-A: 1\nX-B: b\nx-a: 2", {"X-B: b", "x-a: 2"}},
        {"the caller's Accept wins", "Accept: application/json", {"Accept: application/json"}},
        {"the caller's content type wins",
         "Content-Type: application/json",
         {"Content-Type: application/json"}},
    };
    for (const Case &c : cases) {
        ASSERT_EQ(call("GET", server.url() + "/h", nullptr, c.block.c_str()).rc, 0) << c.name;
        Request req = server.last();
        EXPECT_EQ(caller_headers(req), c.want) << c.name;
        EXPECT_EQ(req.header("User-Agent"), "drumvale-tarn-client/1.0") << c.name;
    }
}

TEST_F(Transport, SendsNothingUnasked) {
    TestServer server;
    const std::string big = pattern(2 * 1024 * 1024);
    struct Case {
        const char *method;
        const char *body;
        const char *headers;
    };
    const Case cases[] = {
        {"GET", nullptr, nullptr},    {"GET", nullptr, ""},          {"POST", "{}", nullptr},
        {"POST", "", nullptr},        {"POST", big.c_str(), "A: 1"}, {"PUT", "x", nullptr},
        {"DELETE", nullptr, nullptr},
    };
    for (const Case &c : cases) {
        ASSERT_EQ(call(c.method, server.url() + "/n", c.body, c.headers).rc, 0) << c.method;
        Request req = server.last();
        std::vector<std::string> want;
        if (c.headers != nullptr && *c.headers != '\0') want.push_back(c.headers);
        EXPECT_EQ(caller_headers(req), want) << c.method << " " << req.head;
        EXPECT_EQ(req.header("User-Agent"), "drumvale-tarn-client/1.0");
        EXPECT_EQ(req.header("Host"), "127.0.0.1:" + std::to_string(server.port()));
        EXPECT_EQ(req.header_count("User-Agent"), 1u);
    }
}

TEST_F(Transport, VerbsAndBodiesGoOutExactly) {
    TestServer server;
    // Text bodies only: the body's length is where its first NUL stands.
    std::string text_big(6 * 1024 * 1024, 'j');
    for (size_t i = 0; i < text_big.size(); i += 97) text_big[i] = static_cast<char>('!' + i % 90);
    struct Case {
        const char *method;
        const char *body;
        const char *want_body;
    };
    const Case cases[] = {
        {"GET", nullptr, ""},
        {"POST", "{\"a\":\"\xC3\xA9\"}", "{\"a\":\"\xC3\xA9\"}"},
        {"POST", "", ""},
        {"POST", nullptr, ""},
        {"PUT", "put body", "put body"},
        {"DELETE", nullptr, ""},
        {"POST", text_big.c_str(), text_big.c_str()},
    };
    for (const Case &c : cases) {
        ASSERT_EQ(call(c.method, server.url() + "/v", c.body, "X-Sent: yes").rc, 0) << c.method;
        Request req = server.last();
        std::string method = c.method;
        EXPECT_EQ(req.method, method);
        EXPECT_TRUE(req.body == c.want_body) << method << ": " << req.body.size() << " bytes";
        // A POST or PUT without body bytes still says so.
        bool has_body = method == "POST" || method == "PUT";
        EXPECT_EQ(req.header("Content-Length"),
                  has_body ? std::to_string(strlen(c.want_body)) : std::string())
            << method;
        // DELETE has no header argument, so none of the caller's lines.
        EXPECT_EQ(req.has_header("X-Sent"), method != "DELETE") << method;
    }
}

TEST_F(Transport, RequestTargetTravelsUnchanged) {
    TestServer server;
    const char *targets[] = {
        "/ping",
        "/tree?server=a%20b&node=db%2Fx&pwd=p%26w%3Dd%25",
        "/p%2e%2e/../x/./y?q=%E2%82%AC&e=~&empty=",
        "/?",
    };
    for (const char *t : targets) {
        ASSERT_EQ(call("GET", server.url() + t).rc, 0) << t;
        EXPECT_EQ(server.last().target, t);
    }
}

TEST_F(Transport, HttpsAcceptsCertificatesItCannotTrust) {
    for (bool expired : {false, true}) {
        TestServer server(true, expired);
        server.set_default(Reply{200, "secure"});
        expect_success(call("POST", server.url() + "/q?a=1", "{}", "A: 1"), 200, "secure",
                       expired ? "expired" : "other host");
        EXPECT_EQ(server.last().target, "/q?a=1");
        EXPECT_EQ(server.last().body, "{}");
    }
}

TEST_F(Transport, FollowsRedirectsButNeverFromHttpsToHttp) {
    TestServer plain;
    TestServer other;
    TestServer secure(true);
    plain.route("/end", Reply{200, "arrived"});
    other.route("/end", Reply{200, "elsewhere"});
    secure.route("/end", Reply{200, "secure end"});
    plain.route("/to-self", tarn_test::redirect("/end"));
    plain.route("/to-other", tarn_test::redirect(other.url() + "/end", 301));
    plain.route("/to-https", tarn_test::redirect(secure.url() + "/end"));
    plain.route("/to-ftp", tarn_test::redirect("ftp://127.0.0.1/end"));
    secure.route("/down", Reply{302, "not taken", {{"Location", plain.url() + "/end"}}});

    expect_success(call("GET", plain.url() + "/to-self"), 200, "arrived", "same server");
    EXPECT_EQ(plain.last().target, "/end");
    expect_success(call("GET", plain.url() + "/to-https"), 200, "secure end", "up to https");
    expect_success(call("GET", plain.url() + "/to-ftp"), 302, "", "other scheme");

    plain.clear();
    expect_success(call("GET", secure.url() + "/down"), 302, "not taken", "https to http");
    EXPECT_EQ(plain.count(), 0u);

    // Credentials meant for the service stay with its origin.
    expect_success(call("GET", plain.url() + "/to-self", nullptr, "X-Bot-Password: s"), 200,
                   "arrived");
    EXPECT_EQ(plain.last().header("X-Bot-Password"), "s");
    expect_success(call("GET", plain.url() + "/to-other", nullptr, "X-Bot-Password: s"), 200,
                   "elsewhere");
    EXPECT_FALSE(other.last().has_header("X-Bot-Password"));
}

TEST_F(Transport, RedirectedPostKeepsOrDropsItsBodyByStatus) {
    TestServer server;
    server.route("/end", Reply{200, "done"});
    struct Case {
        int status;
        const char *method;
        const char *body;
    };
    const Case cases[] = {
        {301, "GET", ""},    {302, "GET", ""},    {303, "GET", ""},
        {307, "POST", "{}"}, {308, "POST", "{}"},
    };
    for (const Case &c : cases) {
        server.queue(tarn_test::redirect("/end", c.status));
        expect_success(call("POST", server.url() + "/start", "{}"), 200, "done");
        EXPECT_EQ(server.last().method, c.method) << c.status;
        EXPECT_EQ(server.last().body, c.body) << c.status;
    }
}

// Credentials stay behind on a move to another origin; the content type of
// a body that is sent again goes along with it.
TEST_F(Transport, CrossOriginRedirectKeepsOnlyTheBodysContentType) {
    TestServer server;
    TestServer other;
    other.route("/end", Reply{200, "moved"});
    const char *block =
        "Content-Type: application/json\nX-Bot-Password: s\nAuthorization: Bearer t";
    for (int status : {301, 303, 307, 308}) {
        server.queue(tarn_test::redirect(other.url() + "/end", status));
        expect_success(call("POST", server.url() + "/start", "{}", block), 200, "moved");
        Request req = other.last();
        bool body_again = status == 307 || status == 308;
        EXPECT_EQ(req.method, body_again ? "POST" : "GET") << status;
        std::vector<std::string> want;
        if (body_again) want.push_back("Content-Type: application/json");
        EXPECT_EQ(caller_headers(req), want) << status;
    }
}

TEST_F(Transport, StopsAfterTenRedirects) {
    TestServer server;
    server.route("/loop", tarn_test::redirect("/loop"));
    expect_failure(call("GET", server.url() + "/loop"), "WinHttpReceiveResponse failed");
    EXPECT_EQ(server.count(), 11u);

    server.clear();
    for (int i = 0; i < 10; ++i) server.queue(tarn_test::redirect("/hop"));
    server.queue(Reply{200, "after ten"});
    expect_success(call("GET", server.url() + "/hop"), 200, "after ten");
}

TEST_F(Transport, EachFailureHasItsMessage) {
    TestServer server;
    const std::string refused = "http://127.0.0.1:" + std::to_string(closed_port()) + "/ping";
    struct Case {
        const char *name;
        std::optional<Reply> reply;
        std::string url;  // the server's when none
        const char *message;
    };
    const Case cases[] = {
        {"nothing listening", {}, refused, "WinHttpSendRequest failed"},
        {"closed before answering", raw(""), {}, "WinHttpReceiveResponse failed"},
        {"garbage instead of a status line",
         raw("SPLAT\r\n\r\nhello"),
         {},
         "WinHttpReceiveResponse failed"},
        {"headers cut off",
         raw("HTTP/1.1 200 OK\r\nContent-Le"),
         {},
         "WinHttpReceiveResponse failed"},
        {"no blank line after the status",
         raw("HTTP/1.1 200 OK\r\n"),
         {},
         "WinHttpReceiveResponse failed"},
        {"declared length not reached",
         raw("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nonly ten.."),
         {},
         "WinHttpReadData failed"},
        {"chunked body cut off",
         raw("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhel"),
         {},
         "WinHttpReadData failed"},
        {"error status cut off",
         raw("HTTP/1.1 500 Oops\r\nContent-Length: 50\r\n\r\nshort"),
         {},
         "WinHttpReadData failed"},
        {"malformed", {}, "http://[::1/x", "invalid url"},
        {"blank in host", {}, "http://exa mple/x", "invalid url"},
        {"no scheme", {}, "127.0.0.1:8180/ping", "invalid url"},
        {"empty", {}, "", "invalid url"},
        {"ftp", {}, "ftp://127.0.0.1/x", "unsupported url scheme"},
        {"unknown scheme", {}, "gopherish://127.0.0.1/x", "unsupported url scheme"},
        {"4096 units",
         {},
         "http://127.0.0.1/" + std::string(4096 - 17, 'a'),
         "url conversion failed"},
        {"path over its buffer", {}, "http://127.0.0.1/" + std::string(3074, 'a'), "invalid url"},
    };
    for (const Case &c : cases) {
        std::string url = c.url;
        if (c.reply.has_value()) {
            server.queue(*c.reply);
            url = server.url() + "/f";
        }
        expect_failure(call("GET", url), c.message, c.name);
    }
    // Just inside both limits.
    std::string longest = "/" + std::string(3073, 'p');
    expect_success(call("GET", server.url() + longest), 200, "", "longest path");
    EXPECT_EQ(server.last().target, longest);
}

TEST_F(Transport, BodyThatCannotGrowFailsTheCall) {
    TestServer server;
    server.set_default(Reply{200, pattern(300000)});
    tarn::mem_realloc = [](void *p, size_t n) { return n > 65536 ? nullptr : realloc(p, n); };
    expect_failure(call("GET", server.url() + "/big"), "out of memory");
    tarn::mem_realloc = realloc;
    expect_success(call("GET", server.url() + "/big"), 200, pattern(300000));
}

TEST_F(Transport, StalledExchangesEndSlowOnesDoNot) {
    tarn::curl_timeouts.send_ms = 400;
    tarn::curl_timeouts.receive_ms = 1000;
    TestServer server;

    Reply silent;
    silent.delay_ms = -1;
    server.queue(silent);
    expect_failure(call("GET", server.url() + "/s"), "WinHttpReceiveResponse failed", "no reply");

    server.queue(raw("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nhalf", -1));
    expect_failure(call("GET", server.url() + "/s"), "WinHttpReadData failed", "body stalls");

    // Over 2 s in all, but never a header line or body byte more than
    // 0.5 s apart. Progress is seen per header line, not per byte.
    const std::string slow_body(60, 's');
    Reply slow;
    slow.raw = "HTTP/1.1 200 OK\r\nContent-Length: 60\r\n\r\n" + slow_body;
    slow.pace_ms = 25;
    server.queue(slow);
    expect_success(call("GET", server.url() + "/s"), 200, slow_body, "trickle");

    // A listener that never accepts: the kernel takes a few MB, then the
    // request can no longer go out.
    int port = 0;
    int fd = bind_loopback(&port);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(listen(fd, 1), 0);
    std::string huge(64 * 1024 * 1024, 'h');
    std::string url = "http://127.0.0.1:" + std::to_string(port) + "/up";
    expect_failure(call("POST", url, huge.c_str()), "WinHttpSendRequest failed", "send stalls");
    close(fd);
}

// The default backend, reached through the public interface with no table
// installed.
class DefaultBackend : public Transport {
protected:
    void SetUp() override {
        tarn_client_init();
        tarn_client_set_io(nullptr);
    }
    void TearDown() override {
        tarn_client_cleanup();
        tarn_client_set_host(nullptr);
        tarn_client_set_password(nullptr);
        tarn_client_set_jwt(nullptr);
        Transport::TearDown();
    }
};

TEST_F(DefaultBackend, PingReachesTheService) {
    for (bool https : {false, true}) {
        TestServer server(https);
        server.route("/ping", Reply{200, "{\"ok\":true}"});
        tarn_client_set_host((server.url() + "/").c_str());
        ASSERT_EQ(tarn_client_ping(), 0) << tarn_client_last_error();
        EXPECT_STREQ(tarn_client_result(), "{\"ok\":true}");
        Request req = server.last();
        EXPECT_EQ(req.method, "GET");
        EXPECT_EQ(req.target, "/ping");
        EXPECT_EQ(req.header("User-Agent"), "drumvale-tarn-client/1.0");
        EXPECT_FALSE(req.has_header("Accept"));
        EXPECT_EQ(tarn_client_row_count(), -1);
    }
}

TEST_F(DefaultBackend, CredentialsAndBodyArrive) {
    TestServer server;
    server.set_default(Reply{200, "{\"rows\":[[1]]}"});
    tarn_client_set_host(server.url().c_str());
    tarn_client_set_password("p w&d");
    tarn_client_set_jwt("tok");
    ASSERT_EQ(tarn_client_query("srv", "db", "select 1", 0, 0, nullptr), 0)
        << tarn_client_last_error();
    Request req = server.last();
    EXPECT_EQ(req.method, "POST");
    EXPECT_EQ(req.target, "/query?pwd=p%20w%26d");
    EXPECT_EQ(caller_headers(req),
              (std::vector<std::string>{"Content-Type: application/json", "X-Bot-Password: p w&d",
                                        "Authorization: Bearer tok"}));
    EXPECT_NE(req.body.find("\"sql\":\"select 1\""), std::string::npos) << req.body;
    EXPECT_EQ(tarn_client_row_count(), 1);
}

// The longest token the setter keeps arrives whole beside the longest
// password and the content type.
TEST_F(DefaultBackend, LongestCredentialsArriveWhole) {
    TestServer server;
    tarn_client_set_host(server.url().c_str());
    const std::string pwd(511, 'p');
    std::string jwt(8191, 'j');
    jwt[8190] = 'Z';
    tarn_client_set_password(pwd.c_str());
    tarn_client_set_jwt(jwt.c_str());
    ASSERT_EQ(tarn_client_save_connection("{}"), 0) << tarn_client_last_error();
    EXPECT_EQ(caller_headers(server.last()),
              (std::vector<std::string>{"Content-Type: application/json", "X-Bot-Password: " + pwd,
                                        "Authorization: Bearer " + jwt}));
}

TEST_F(DefaultBackend, FailuresReachTheLastError) {
    TestServer server;
    server.queue(Reply{404, "{\"error\":\"no such node\"}"});
    server.queue(raw("HTTP/1.1 200 OK\r\nContent-Length: 9\r\n\r\ncut"));
    tarn_client_set_host(server.url().c_str());
    EXPECT_EQ(tarn_client_ping(), -1);
    EXPECT_STREQ(tarn_client_last_error(), "HTTP 404: no such node");
    EXPECT_EQ(tarn_client_ping(), -1);
    EXPECT_STREQ(tarn_client_last_error(), "WinHttpReadData failed");
    EXPECT_STREQ(tarn_client_result(), "");

    tarn_client_set_host(("http://127.0.0.1:" + std::to_string(closed_port())).c_str());
    EXPECT_EQ(tarn_client_ping(), -1);
    EXPECT_STREQ(tarn_client_last_error(), "WinHttpSendRequest failed");
}

}  // namespace
