// Status, time limit and trace through the WinHTTP backend.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "backend_calls.h"
#include "loopback_server.h"
#include "support/trace_lines.h"
#include "tarn_client.h"

namespace {

using tarn_test::TraceLines;
using tarn_win_test::LoopbackServer;
using tarn_win_test::reply;
using tarn_win_test::Request;
using Clock = std::chrono::steady_clock;

std::string refused_url() {
    return "http://127.0.0.1:" + std::to_string(tarn_win_test::unused_port());
}

class WinDiagnostics : public ::testing::Test {
protected:
    void SetUp() override { tarn_client_set_io(nullptr); }
    void TearDown() override {
        tarn_client_set_max_time(0);
        tarn_client_cleanup();
        tarn_client_set_host(nullptr);
        tarn_client_set_password(nullptr);
        tarn_client_set_jwt(nullptr);
    }

    // Targets under /silent get no answer for 2.5 s; /moved redirects.
    LoopbackServer server{[](const Request &r) {
        if (r.target.rfind("/silent", 0) == 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2500));
            return std::string();
        }
        if (r.target.rfind("/gone", 0) == 0) return reply(404, "{}");
        if (r.target.rfind("/admin", 0) == 0) return reply(500, "{}");
        if (r.target.rfind("/ping", 0) == 0) return reply(302, "", "Location: /pong\r\n");
        return reply(200, R"({"ok":1})");
    }};
};

TEST_F(WinDiagnostics, StatusOfEachOutcome) {
    struct Case {
        std::string host;
        int32_t status;
    } cases[] = {
        {server.url("/ok"), 200},
        {server.url("/gone"), 404},
        {refused_url(), 0},
    };
    for (const Case &c : cases) {
        tarn_client_set_host(c.host.c_str());
        tarn_client_ping();
        EXPECT_EQ(tarn_client_http_status(), c.status)
            << c.host << ": " << tarn_client_last_error();
    }
}

TEST_F(WinDiagnostics, TimeLimitEndsASilentServer) {
    tarn_client_set_host(server.url("/silent").c_str());
    ASSERT_EQ(tarn_client_set_max_time(1), 0);
    Clock::time_point start = Clock::now();
    EXPECT_EQ(tarn_client_ping(), -1);
    auto took = Clock::now() - start;
    EXPECT_STREQ(tarn_client_last_error(), "timed out after 1 s");
    EXPECT_EQ(tarn_client_http_status(), 0);
    EXPECT_GE(took, std::chrono::milliseconds(900));
    EXPECT_LT(took, std::chrono::milliseconds(2000));
}

TEST_F(WinDiagnostics, TraceMasksCredentialsAndFollowsRedirects) {
    tarn_client_set_host(server.url("").c_str());
    tarn_client_set_password(tarn_test::kTracePassword);
    tarn_client_set_jwt(tarn_test::kTraceToken);
    TraceLines trace;
    ASSERT_EQ(tarn_client_ping(), 0) << tarn_client_last_error();
    trace.expect_well_formed();
    for (const std::string &line : tarn_test::masked_ping_lines())
        EXPECT_TRUE(trace.has(line)) << line << "\n" << trace.dump();
    // Wine reports the Location as sent; Windows may give the URL it leads to.
    std::string redirect = trace.starting("* following redirect ");
    EXPECT_TRUE(redirect.ends_with(" to /pong") || redirect.ends_with(server.url("/pong")))
        << trace.dump();
    EXPECT_NE(trace.starting("< HTTP/1.1 200"), "") << trace.dump();
    EXPECT_NE(trace.starting("* HTTP 200, 8 bytes in "), "") << trace.dump();
}

TEST_F(WinDiagnostics, TraceGivesTheReasonOfAFailure) {
    tarn_client_set_host(refused_url().c_str());
    TraceLines trace;
    EXPECT_EQ(tarn_client_ping(), -1);
    const std::string prefix = "* WinHttpSendRequest failed: WinHTTP error 12029: ";
    std::string reason = trace.starting(prefix);
    ASSERT_GT(reason.size(), prefix.size()) << trace.dump();
    // Wine has no text for WinHTTP's codes; the code's name stands in.
    if (tarn_win_test::under_wine()) {
        EXPECT_EQ(reason.substr(prefix.size()), "ERROR_WINHTTP_CANNOT_CONNECT");
    }
}

TEST_F(WinDiagnostics, TraceShowsBothRequestsOfAnAdminFallback) {
    tarn_client_set_host(server.url("").c_str());
    TraceLines trace;
    ASSERT_EQ(tarn_client_admin(nullptr, "jobs", nullptr, nullptr), 0);
    EXPECT_TRUE(trace.has("> GET /admin?action=jobs HTTP/1.1")) << trace.dump();
    EXPECT_TRUE(trace.has("> GET /agent?action=jobs HTTP/1.1")) << trace.dump();
}

TEST_F(WinDiagnostics, VersionNamesWinHttp) {
    std::string v = tarn_client_version();
    EXPECT_EQ(v.rfind("tarn-client 1.0.0 WinHTTP yyjson/", 0), 0U) << v;
}

}  // namespace
