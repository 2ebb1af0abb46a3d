// The shared hostile-server cases against the WinHTTP backend under Wine.
// A case whose outcome under Wine differs says so in the table, and is
// held to that outcome here.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "backend_calls.h"
#include "support/hostile_cases.h"
#include "support/hostile_server.h"
#include "transport/backend.h"

namespace {

using tarn_test::HostileCase;

class WinHttpHostile : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override {
        tarn::winhttp_timeouts.receive_ms = tarn_test::kHostileReceiveMs;
        tarn::winhttp_timeouts.response_ms = tarn_test::kHostileReceiveMs;
    }
    void TearDown() override { tarn::winhttp_timeouts = saved_; }

private:
    tarn::WinHttpTimeouts saved_ = tarn::winhttp_timeouts;
};

TEST_P(WinHttpHostile, EndsWithItsDocumentedOutcome) {
    const HostileCase &c = tarn_test::hostile_case(GetParam());
    if (c.wine_not_run != nullptr && tarn_win_test::under_wine())
        GTEST_SKIP() << "not run under Wine: " << c.wine_not_run;
    std::string url;
    std::unique_ptr<tarn_test::HostileServer> server;
    if (c.tls) {
        // scripts/test_windows.sh serves this case's bytes over TLS.
        const char *tls_url = getenv("TARN_WIN_TLS_REDIRECT_URL");
        ASSERT_NE(tls_url, nullptr)
            << "TARN_WIN_TLS_REDIRECT_URL is set by scripts/test_windows.sh";
        url = tls_url;
    } else {
        server = std::make_unique<tarn_test::HostileServer>(c);
        url = server->url() + "/loop";
    }
    const tarn_test::HostileOutcome &want =
        c.wine.has_value() && tarn_win_test::under_wine() ? *c.wine : c.want;

    const tarn_client_io &io = *tarn_client_default_io();
    char *body = nullptr;
    char *error = nullptr;
    int32_t status = -1;
    int32_t rc = io.get(io.user_data, url.c_str(), nullptr, &body, &status, &error);
    if (want.error != nullptr) {
        EXPECT_EQ(rc, -1);
        EXPECT_EQ(status, 0);
        EXPECT_EQ(body, nullptr) << body;
        if (want.error[0] == '\0') {
            EXPECT_EQ(error, nullptr) << error;
        } else {
            EXPECT_STREQ(error, want.error);
        }
    } else {
        EXPECT_EQ(rc, 0) << (error != nullptr ? error : "");
        EXPECT_EQ(status, want.status);
        EXPECT_EQ(error, nullptr);
        ASSERT_NE(body, nullptr);
        if (want.body_is_filler) {
            EXPECT_TRUE(c.is_filler(body, strlen(body))) << strlen(body) << " bytes";
        } else {
            EXPECT_EQ(std::string(body), want.body);
        }
    }
    io.free_buf(io.user_data, body);
    io.free_buf(io.user_data, error);
    if (server != nullptr) {
        EXPECT_GE(server->requests(), 1);
        size_t most = c.wine_max_requests > 0 && tarn_win_test::under_wine() ? c.wine_max_requests
                                                                             : c.max_requests;
        EXPECT_LE(static_cast<size_t>(server->requests()), most);
    }
}

std::vector<std::string> case_names() {
    std::vector<std::string> names;
    for (const HostileCase &c : tarn_test::hostile_cases()) names.emplace_back(c.name);
    return names;
}

INSTANTIATE_TEST_SUITE_P(Cases, WinHttpHostile, ::testing::ValuesIn(case_names()),
                         [](const auto &info) { return info.param; });

}  // namespace
