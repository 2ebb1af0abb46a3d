// Keep-alive through the WinHTTP backend: one session serves a run of
// calls over one connection, and a connection the server closed is
// replaced without sending a request twice, except when a kept connection
// closed before any reply byte.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <string>

#include "backend_calls.h"
#include "loopback_server.h"
#include "tarn_client.h"
#include "transport/backend.h"

namespace {

using tarn_win_test::LoopbackServer;
using tarn_win_test::Request;

// A reply that leaves the connection open.
std::string kept_reply(const std::string &body) {
    return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

class WinKeepAlive : public ::testing::Test {
protected:
    void SetUp() override {
        tarn_client_set_io(nullptr);
        tarn_client_set_keepalive(1);
    }
    void TearDown() override {
        tarn_client_set_keepalive(0);
        tarn_client_cleanup();
        tarn_client_set_host(nullptr);
        tarn::backend::idle_seconds = 30;
    }
};

TEST_F(WinKeepAlive, CallsShareOneConnectionUntilCleanedUp) {
    LoopbackServer server{[](const Request &) { return kept_reply(R"({"rows":[[1]]})"); }};
    server.keep_connections();
    tarn_client_set_host(server.url("").c_str());
    for (int i = 0; i < 5; ++i) ASSERT_EQ(tarn_client_ping(), 0) << tarn_client_last_error();
    EXPECT_EQ(server.requests().size(), 5U);
    EXPECT_EQ(server.connections(), 1U);
    tarn_client_cleanup();
    ASSERT_EQ(tarn_client_ping(), 0) << tarn_client_last_error();
    // Wine pools connections for the whole process, not per session.
    if (!tarn_win_test::under_wine()) {
        EXPECT_EQ(server.connections(), 2U);
    }
    tarn_client_cleanup();
}

TEST_F(WinKeepAlive, ClosedOrIdleConnectionsAreReplaced) {
    struct Case {
        const char *what;
        int idle_close_ms;   // the server closes idle connections
        long idle_seconds;   // the client's idle limit
        int pause_ms;        // between the two calls
        const char *second;  // the second request's answer; "" closes unanswered
        int rc;              // of the second call
        size_t requests;     // the server saw in all
        size_t connections;  // 0: not checked under Wine, whose pool outlives sessions
    } cases[] = {
        {"server closed it while idle", 100, 30, 400, nullptr, 0, 2, 2},
        {"idle past the client's limit", 0, 1, 1500, nullptr, 0, 2, 0},
        {"closed before any reply byte", 0, 30, 0, "", 0, 3, 2},
        {"closed inside the status line", 0, 30, 0, "HTTP/1.1 2", -1, 2, 1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        if (c.rc == 0 && c.requests == 3 && tarn_win_test::under_wine()) {
            // Wine reports a connection closed before any reply byte and one
            // cut inside the status line with the same error, so the backend
            // cannot tell that resending is safe.
            printf("not checked under Wine: %s\n", c.what);
            continue;
        }
        std::atomic<int> seen{0};
        LoopbackServer server{[&](const Request &) {
            return ++seen == 2 && c.second != nullptr ? std::string(c.second) : kept_reply("{}");
        }};
        server.keep_connections(c.idle_close_ms);
        tarn_client_set_host(server.url("").c_str());
        tarn::backend::idle_seconds = c.idle_seconds;
        ASSERT_EQ(tarn_client_ping(), 0) << tarn_client_last_error();
        Sleep(static_cast<DWORD>(c.pause_ms));
        EXPECT_EQ(tarn_client_ping(), c.rc) << tarn_client_last_error();
        EXPECT_EQ(server.requests().size(), c.requests);
        if (c.connections != 0 || !tarn_win_test::under_wine()) {
            EXPECT_EQ(server.connections(), c.connections != 0 ? c.connections : 2U);
        }
        tarn_client_cleanup();
    }
}

}  // namespace
