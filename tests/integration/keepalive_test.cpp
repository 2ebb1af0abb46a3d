// Keep-alive through the default libcurl backend and the whole client: one
// connection serves a run of calls, and a connection the server closed is
// replaced without sending a request twice, except for the one case the
// header allows (a kept connection closed before any reply byte).
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "support/test_server.h"
#include "tarn_client.h"
#include "transport/backend.h"

namespace {

using tarn_test::Reply;
using tarn_test::TestServer;

class KeepAlive : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        tarn_client_set_io(nullptr);
        tarn_client_set_host(server.url().c_str());
        tarn_client_set_keepalive(1);
    }
    void TearDown() override {
        tarn_client_set_keepalive(0);
        tarn_client_cleanup();
        tarn_client_set_host(nullptr);
        tarn::backend::idle_seconds = 30;
    }
    static int query() { return tarn_client_query("s", "d", "select 1", 0, 0, nullptr); }

    TestServer server{GetParam()};
};

TEST_P(KeepAlive, CallsShareOneConnectionUntilTurnedOffOrCleanedUp) {
    for (int i = 0; i < 5; ++i) ASSERT_EQ(i % 2 ? query() : tarn_client_ping(), 0) << i;
    EXPECT_EQ(server.count(), 5U);
    EXPECT_EQ(server.connections(), 1U);

    tarn_client_cleanup();  // closes the kept connection
    ASSERT_EQ(tarn_client_ping(), 0);
    EXPECT_EQ(server.connections(), 2U);

    tarn_client_set_keepalive(0);  // each call on its own connection again
    ASSERT_EQ(tarn_client_ping(), 0);
    ASSERT_EQ(tarn_client_ping(), 0);
    EXPECT_EQ(server.connections(), 4U);
    EXPECT_EQ(server.count(), 8U);
}

TEST_P(KeepAlive, ClosedOrIdleConnectionsAreReplaced) {
    const Reply dropped = [] {
        Reply r;
        r.raw = "";  // the request is read, then the connection closed
        return r;
    }();
    const Reply cut = [] {
        Reply r;
        r.raw = "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nab";
        return r;
    }();
    struct Case {
        const char *what;
        int idle_close_ms;    // the server closes idle connections
        long idle_seconds;    // the client's idle limit
        int pause_ms;         // between the two calls
        const Reply *second;  // the second request's first answer
        int rc;               // of the second call
        size_t requests;      // the server saw in all
        size_t connections;
    } cases[] = {
        {"server closed it while idle", 100, 30, 400, nullptr, 0, 2, 2},
        {"idle past the client's limit", 0, 1, 2200, nullptr, 0, 2, 2},
        {"closed before any reply byte", 0, 30, 0, &dropped, 0, 3, 2},
        {"closed inside the reply", 0, 30, 0, &cut, -1, 2, 1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        tarn_client_cleanup();
        server.clear();
        TestServer fresh{GetParam()};
        fresh.close_idle_after(c.idle_close_ms);
        tarn_client_set_host(fresh.url().c_str());
        tarn::backend::idle_seconds = c.idle_seconds;
        ASSERT_EQ(tarn_client_ping(), 0) << tarn_client_last_error();
        std::this_thread::sleep_for(std::chrono::milliseconds(c.pause_ms));
        if (c.second != nullptr) fresh.queue(*c.second);
        EXPECT_EQ(tarn_client_ping(), c.rc) << tarn_client_last_error();
        EXPECT_EQ(fresh.count(), c.requests);
        EXPECT_EQ(fresh.connections(), c.connections);
        tarn_client_cleanup();
    }
}

TEST_P(KeepAlive, AFreshConnectionClosedUnansweredIsNotRetried) {
    Reply dropped;
    dropped.raw = "";
    server.queue(dropped);
    EXPECT_EQ(query(), -1);
    EXPECT_EQ(server.count(), 1U);
}

INSTANTIATE_TEST_SUITE_P(HttpAndHttps, KeepAlive, ::testing::Values(false, true),
                         [](const auto &info) { return info.param ? "https" : "http"; });

}  // namespace
