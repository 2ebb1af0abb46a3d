// Status, time limit and trace through the libcurl backend against a real
// loopback service.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>

#include "support/test_server.h"
#include "support/trace_lines.h"
#include "tarn_client.h"

namespace {

using tarn_test::Reply;
using tarn_test::TestServer;
using tarn_test::TraceLines;
using Clock = std::chrono::steady_clock;

// A loopback URL with nothing listening behind it.
std::string refused_url() {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    bind(fd, reinterpret_cast<sockaddr *>(&addr), len);
    getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &len);
    close(fd);
    return "http://127.0.0.1:" + std::to_string(ntohs(addr.sin_port));
}

Reply silent() {
    Reply r;
    r.delay_ms = -1;
    return r;
}

class CurlDiagnostics : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        for (const char *v : {"http_proxy", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"})
            unsetenv(v);
    }
    void SetUp() override { tarn_client_set_io(nullptr); }
    void TearDown() override {
        tarn_client_set_max_time(0);
        tarn_client_cleanup();
        tarn_client_set_host(nullptr);
        tarn_client_set_password(nullptr);
        tarn_client_set_jwt(nullptr);
    }
};

TEST_F(CurlDiagnostics, StatusOfEachOutcome) {
    TestServer server;
    server.route("/ping", Reply{200, "{}"});
    server.route("/gone/ping", Reply{404, "{}"});
    server.route("/moved/ping", tarn_test::redirect("/ping"));
    struct Case {
        std::string host;
        int32_t status;
    } cases[] = {
        {server.url(), 200},
        {server.url() + "/gone", 404},
        {server.url() + "/moved", 200},  // the status after the redirect
        {refused_url(), 0},
    };
    for (const Case &c : cases) {
        tarn_client_set_host(c.host.c_str());
        tarn_client_ping();
        EXPECT_EQ(tarn_client_http_status(), c.status)
            << c.host << ": " << tarn_client_last_error();
    }
}

TEST_F(CurlDiagnostics, TimeLimitEndsASilentServer) {
    TestServer server;
    server.set_default(silent());
    tarn_client_set_host(server.url().c_str());
    ASSERT_EQ(tarn_client_set_max_time(1), 0);
    for (bool post : {false, true}) {
        Clock::time_point start = Clock::now();
        EXPECT_EQ(
            post ? tarn_client_query("s", "d", "select 1", 0, 0, nullptr) : tarn_client_ping(), -1);
        auto took = Clock::now() - start;
        EXPECT_STREQ(tarn_client_last_error(), "timed out after 1 s");
        EXPECT_EQ(tarn_client_http_status(), 0);
        EXPECT_GE(took, std::chrono::milliseconds(900)) << post;
        EXPECT_LT(took, std::chrono::milliseconds(2000)) << post;
    }
    // Both requests of an admin fallback share the one limit.
    server.clear();
    Clock::time_point start = Clock::now();
    EXPECT_EQ(tarn_client_admin("s", "jobs", nullptr, nullptr), -1);
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(2000));
    EXPECT_STREQ(tarn_client_last_error(), "timed out after 1 s");
    EXPECT_EQ(server.count(), 1U);
}

TEST_F(CurlDiagnostics, TraceMasksCredentialsOnTheWire) {
    TestServer server;
    server.route("/ping", tarn_test::redirect("/pong"));
    server.route("/pong", Reply{200, "{\"ok\":1}"});
    tarn_client_set_host(server.url().c_str());
    tarn_client_set_password(tarn_test::kTracePassword);
    tarn_client_set_jwt(tarn_test::kTraceToken);
    TraceLines trace;
    ASSERT_EQ(tarn_client_ping(), 0) << tarn_client_last_error();
    trace.expect_well_formed();
    for (const std::string &line : tarn_test::masked_ping_lines())
        EXPECT_TRUE(trace.has(line)) << line << "\n" << trace.dump();
    EXPECT_TRUE(trace.has("* following redirect 302 to " + server.url() + "/pong")) << trace.dump();
    EXPECT_TRUE(trace.has("< HTTP/1.1 200 OK")) << trace.dump();
    EXPECT_NE(trace.starting("* HTTP 200, 8 bytes in "), "") << trace.dump();
}

TEST_F(CurlDiagnostics, TraceGivesTheReasonOfAFailure) {
    tarn_client_set_host(refused_url().c_str());
    TraceLines trace;
    EXPECT_EQ(tarn_client_ping(), -1);
    std::string reason = trace.starting("* libcurl error 7: ");
    EXPECT_NE(reason.find("Couldn't connect to server"), std::string::npos) << trace.dump();
    EXPECT_NE(trace.starting("* failed after "), "") << trace.dump();
}

TEST_F(CurlDiagnostics, TraceShowsBothRequestsOfAnAdminFallback) {
    TestServer server;
    server.route("/admin", Reply{500, "{}"});
    server.route("/agent", Reply{200, "{}"});
    tarn_client_set_host(server.url().c_str());
    TraceLines trace;
    ASSERT_EQ(tarn_client_admin(nullptr, "jobs", nullptr, nullptr), 0);
    EXPECT_TRUE(trace.has("> GET /admin?action=jobs HTTP/1.1")) << trace.dump();
    EXPECT_TRUE(trace.has("> GET /agent?action=jobs HTTP/1.1")) << trace.dump();
}

TEST_F(CurlDiagnostics, VersionNamesLibcurl) {
    std::string v = tarn_client_version();
    EXPECT_EQ(v.rfind("tarn-client 1.0.0 libcurl/", 0), 0U) << v;
    EXPECT_NE(v.find(" yyjson/"), std::string::npos) << v;
}

}  // namespace
