// What the WinHTTP backend hands back for the responses a server may send.
#include <gtest/gtest.h>

#include <array>
#include <map>
#include <string>
#include <vector>

#include "backend_calls.h"
#include "client/state.h"
#include "loopback_server.h"

namespace {

using tarn_win_test::expect_failure;
using tarn_win_test::http_get;
using tarn_win_test::Outcome;
using tarn_win_test::reply;
using tarn_win_test::serve_routes;

// Bytes that repeat with a period prime to every power of two, without NULs.
std::string pattern(size_t n) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>(1 + (i * 7) % 251);
    return s;
}

TEST(WinHttpResponse, StatusAndBodyComeBackWhole) {
    struct Case {
        const char *name;
        std::string response;
        int32_t status;
        std::string body;
    } cases[] = {
        {"ok", reply(200, "hello"), 200, "hello"},
        {"empty", reply(200, ""), 200, ""},
        {"http-1.0", "HTTP/1.0 201 Created\r\n\r\nold", 201, "old"},
        {"no-content", "HTTP/1.1 204 No Content\r\nConnection: close\r\n\r\n", 204, ""},
        {"not-found", reply(404, R"({"error":"no such server"})"), 404,
         R"({"error":"no such server"})"},
        {"server-error", reply(500, "boom\nat line 2"), 500, "boom\nat line 2"},
        {"one-read", reply(200, pattern(65536)), 200, pattern(65536)},
        {"many-reads", reply(200, pattern(5 * 1024 * 1024 + 3)), 200, pattern(5 * 1024 * 1024 + 3)},
        {"close-delimited", "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\nuntil the end", 200,
         "until the end"},
        {"chunked",
         "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nConnection: close\r\n\r\n"
         "5\r\nhello\r\n6\r\n world\r\n0\r\n\r\n",
         200, "hello world"},
    };
    std::map<std::string, std::string> routes;
    for (const auto &c : cases) routes[std::string("/") + c.name] = c.response;
    auto server = serve_routes(routes);

    for (const auto &c : cases) {
        Outcome o = http_get(server->url(std::string("/") + c.name));
        EXPECT_EQ(o.rc, 0) << c.name;
        EXPECT_EQ(o.status, c.status) << c.name;
        ASSERT_TRUE(o.body.has_value()) << c.name;
        EXPECT_EQ(o.body->size(), c.body.size()) << c.name;
        EXPECT_TRUE(*o.body == c.body) << c.name;
        EXPECT_FALSE(o.error.has_value()) << c.name << ": " << *o.error;
    }
}

void expect_failures(const std::vector<std::array<std::string, 3>> &cases) {
    std::map<std::string, std::string> routes;
    for (const auto &c : cases) routes["/" + c[0]] = c[1];
    auto server = serve_routes(routes);
    for (const auto &c : cases) expect_failure(http_get(server->url("/" + c[0])), c[2], c[0]);
}

TEST(WinHttpResponse, BodyShortOfItsLengthFails) {
    expect_failures({
        {"small", "HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\npartial",
         "WinHttpReadData failed"},
        {"after-many-reads", "HTTP/1.1 200 OK\r\nContent-Length: 300000\r\n\r\n" + pattern(200000),
         "WinHttpReadData failed"},
        {"error-status", "HTTP/1.1 500 X\r\nContent-Length: 50\r\n\r\nhalf",
         "WinHttpReadData failed"},
    });
}

// Makes the library's heap hooks fail while in scope.
class HeapFailure {
public:
    HeapFailure(bool malloc_fails, bool realloc_fails) {
        if (malloc_fails) tarn::mem_malloc = [](size_t) -> void * { return nullptr; };
        if (realloc_fails) tarn::mem_realloc = [](void *, size_t) -> void * { return nullptr; };
    }
    ~HeapFailure() {
        tarn::mem_malloc = saved_malloc_;
        tarn::mem_realloc = saved_realloc_;
    }
    HeapFailure(const HeapFailure &) = delete;
    HeapFailure &operator=(const HeapFailure &) = delete;

private:
    void *(*saved_malloc_)(size_t) = tarn::mem_malloc;
    void *(*saved_realloc_)(void *, size_t) = tarn::mem_realloc;
};

TEST(WinHttpResponse, AllocationFailures) {
    auto server = serve_routes({{"/body", reply(200, "some bytes")},
                                {"/empty", "HTTP/1.1 204 X\r\nConnection: close\r\n\r\n"}});
    {
        HeapFailure no_growth(false, true);
        expect_failure(http_get(server->url("/body")), "out of memory", "body cannot grow");
    }
    {
        // Not even the message can be copied: the core then reports its own.
        HeapFailure nothing(true, true);
        Outcome o = http_get(server->url("/body"));
        EXPECT_EQ(o.rc, -1);
        EXPECT_EQ(o.status, 0);
        EXPECT_FALSE(o.body.has_value());
        EXPECT_FALSE(o.error.has_value());
    }
    {
        // A response without body bytes still counts as received.
        HeapFailure no_byte(true, false);
        Outcome o = http_get(server->url("/empty"));
        EXPECT_EQ(o.rc, 0);
        EXPECT_EQ(o.status, 204);
        EXPECT_FALSE(o.body.has_value());
    }
    EXPECT_EQ(server->requests().size(), 3U);
}

TEST(WinHttpResponse, MalformedResponsesFail) {
    expect_failures({
        {"closed-before-answering", "", "WinHttpReceiveResponse failed"},
        {"garbage-status", "SPLAT\r\n\r\nhello", "WinHttpReceiveResponse failed"},
    });
}

TEST(WinHttpResponse, ResponsesCutOffWithoutALengthFail) {
    if (tarn_win_test::under_wine())
        GTEST_SKIP() << "Wine's WinHTTP ends cut-off headers or chunked bodies without an error";
    expect_failures({
        {"headers-cut-off", "HTTP/1.1 200 OK\r\nContent-Le", "WinHttpReceiveResponse failed"},
        {"no-blank-line", "HTTP/1.1 200 OK\r\n", "WinHttpReceiveResponse failed"},
        {"chunked-cut-off", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhel",
         "WinHttpReadData failed"},
    });
}

TEST(WinHttpResponse, RedirectIsFollowed) {
    auto server = serve_routes(
        {{"/old", reply(302, "", "Location: /new?x=1\r\n")}, {"/new?x=1", reply(200, "arrived")}});
    Outcome o = http_get(server->url("/old"));
    EXPECT_EQ(o.rc, 0);
    EXPECT_EQ(o.status, 200);
    EXPECT_EQ(o.body.value_or("(null)"), "arrived");
    auto seen = server->requests();
    ASSERT_EQ(seen.size(), 2U);
    EXPECT_EQ(seen[1].target, "/new?x=1");
}

// A redirect status with nowhere to go is an ordinary response for the
// core to classify.
TEST(WinHttpResponse, RedirectWithoutLocationIsHandedBack) {
    if (tarn_win_test::under_wine())
        GTEST_SKIP() << "Wine's WinHTTP fails WinHttpReceiveResponse on a 3xx without Location";
    auto server = serve_routes({{"/moved", reply(302, "moved")}});
    Outcome o = http_get(server->url("/moved"));
    EXPECT_EQ(o.rc, 0);
    EXPECT_EQ(o.status, 302);
    EXPECT_EQ(o.body.value_or("(null)"), "moved");
}

}  // namespace
