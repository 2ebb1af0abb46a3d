// The library on Windows: with no transport installed, requests go through
// the WinHTTP backend.
#include <gtest/gtest.h>

#include <string>

#include "loopback_server.h"
#include "tarn_client.h"

namespace {

using tarn_win_test::LoopbackServer;
using tarn_win_test::reply;
using tarn_win_test::Request;

class DefaultBackend : public ::testing::Test {
protected:
    void SetUp() override {
        tarn_client_init();
        tarn_client_set_io(nullptr);
        tarn_client_set_host(server.url("/").c_str());
    }
    void TearDown() override {
        tarn_client_set_password(nullptr);
        tarn_client_set_host(nullptr);
        tarn_client_cleanup();
    }

    LoopbackServer server{[](const Request &r) {
        if (r.target.rfind("/query", 0) == 0) return reply(500, R"({"error":"login failed"})");
        return reply(200, R"({"rows":[["a",1]]})");
    }};
};

TEST_F(DefaultBackend, GetCarriesPasswordInQueryAndHeader) {
    tarn_client_set_password("p&w d");
    ASSERT_EQ(tarn_client_ping(), 0) << tarn_client_last_error();
    EXPECT_STREQ(tarn_client_result(), R"({"rows":[["a",1]]})");
    EXPECT_EQ(tarn_client_row_count(), 1);
    EXPECT_STREQ(tarn_client_cell(0, 0), "a");

    Request r = server.requests().at(0);
    EXPECT_EQ(r.method, "GET");
    EXPECT_EQ(r.target, "/ping?pwd=p%26w%20d");
    EXPECT_EQ(r.header("X-Bot-Password").value_or("(none)"), "p&w d");
    EXPECT_FALSE(r.header("Content-Type").has_value());
    EXPECT_EQ(r.header("User-Agent").value_or("(none)"), "drumvale-tarn-client/1.0");
}

TEST_F(DefaultBackend, PostFailureCarriesTheServiceError) {
    EXPECT_EQ(tarn_client_query("s", "d", "select 1", 0, 0, nullptr), -1);
    EXPECT_STREQ(tarn_client_last_error(), "HTTP 500: login failed");
    EXPECT_STREQ(tarn_client_result(), "");

    Request r = server.requests().at(0);
    EXPECT_EQ(r.method, "POST");
    EXPECT_EQ(r.target, "/query");
    EXPECT_EQ(r.header("Content-Type").value_or("(none)"), "application/json");
    EXPECT_NE(r.body.find(R"("sql":"select 1")"), std::string::npos) << r.body;
}

TEST_F(DefaultBackend, TransportFailureMessageReachesTheCaller) {
    tarn_client_set_host(
        ("http://127.0.0.1:" + std::to_string(tarn_win_test::unused_port())).c_str());
    EXPECT_EQ(tarn_client_ping(), -1);
    EXPECT_STREQ(tarn_client_last_error(), "WinHttpSendRequest failed");
}

}  // namespace
