// The shared hostile-server cases against the libcurl backend.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "support/hostile_cases.h"
#include "support/hostile_server.h"
#include "support/test_server.h"
#include "transport/backend.h"

namespace {

using tarn_test::HostileCase;

class Hostile : public ::testing::TestWithParam<std::string> {
protected:
    static void SetUpTestSuite() {
        for (const char *v : {"http_proxy", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"})
            unsetenv(v);
    }
    void SetUp() override { tarn::curl_timeouts.receive_ms = tarn_test::kHostileReceiveMs; }
    void TearDown() override { tarn::curl_timeouts = saved_; }

private:
    tarn::CurlTimeouts saved_ = tarn::curl_timeouts;
};

TEST_P(Hostile, EndsWithItsDocumentedOutcome) {
    const HostileCase &c = tarn_test::hostile_case(GetParam());
    std::unique_ptr<tarn_test::TestServer> tls;
    std::unique_ptr<tarn_test::HostileServer> plain;
    std::string url;
    if (c.tls) {
        tls = std::make_unique<tarn_test::TestServer>(true);
        tarn_test::Reply r;
        r.raw = c.head + c.tail;
        tls->set_default(r);
        url = tls->url();
    } else {
        plain = std::make_unique<tarn_test::HostileServer>(c);
        url = plain->url();
    }
    url += "/loop";

    const tarn_client_io &io = *tarn_client_default_io();
    char *body = nullptr;
    char *error = nullptr;
    int32_t status = -1;
    int32_t rc = io.get(io.user_data, url.c_str(), nullptr, &body, &status, &error);
    const tarn_test::HostileOutcome &want = c.want;
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
    size_t requests = c.tls ? tls->count() : static_cast<size_t>(plain->requests());
    EXPECT_GE(requests, 1U);
    EXPECT_LE(requests, c.max_requests);
}

std::vector<std::string> case_names() {
    std::vector<std::string> names;
    for (const HostileCase &c : tarn_test::hostile_cases()) names.emplace_back(c.name);
    return names;
}

INSTANTIATE_TEST_SUITE_P(Cases, Hostile, ::testing::ValuesIn(case_names()),
                         [](const auto &info) { return info.param; });

}  // namespace
