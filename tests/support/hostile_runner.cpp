// The shared hostile-server cases against the platform's built-in backend:
// libcurl natively, WinHTTP under Wine. A case whose outcome under Wine
// differs says so in the table, and is held to that outcome there.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "support/hostile_cases.h"
#include "support/hostile_server.h"
#include "transport/backend.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include "support/test_server.h"
#endif

namespace {

using tarn_test::HostileCase;

#if defined(_WIN32)
bool under_wine() {
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}
#else
bool under_wine() {
    return false;
}
#endif

class Hostile : public ::testing::TestWithParam<std::string> {
protected:
#if defined(_WIN32)
    void SetUp() override {
        tarn::winhttp_timeouts.receive_ms = tarn_test::kHostileReceiveMs;
        tarn::winhttp_timeouts.response_ms = tarn_test::kHostileReceiveMs;
    }
    void TearDown() override {
        tarn::winhttp_timeouts = saved_;
    }

private:
    tarn::WinHttpTimeouts saved_ = tarn::winhttp_timeouts;
#else
    static void SetUpTestSuite() {
        for (const char *v : {"http_proxy", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"})
            unsetenv(v);
    }
    void SetUp() override {
        tarn::curl_timeouts.receive_ms = tarn_test::kHostileReceiveMs;
    }
    void TearDown() override {
        tarn::curl_timeouts = saved_;
    }

private:
    tarn::CurlTimeouts saved_ = tarn::curl_timeouts;
#endif
};

// A server for the case: its URL and how many requests it has seen.
struct Served {
    std::string url;
    std::unique_ptr<tarn_test::HostileServer> plain;
#if !defined(_WIN32)
    std::unique_ptr<tarn_test::TestServer> tls;
#endif
    // -1 where the server is not ours to count.
    int requests() const {
#if !defined(_WIN32)
        if (tls) return static_cast<int>(tls->count());
#endif
        return plain ? plain->requests() : -1;
    }
};

bool serve(const HostileCase &c, Served *s) {
    if (!c.tls) {
        s->plain = std::make_unique<tarn_test::HostileServer>(c);
        s->url = s->plain->url() + "/loop";
        return true;
    }
#if defined(_WIN32)
    // scripts/test_windows.sh serves this case's bytes over TLS.
    const char *tls_url = getenv("TARN_WIN_TLS_REDIRECT_URL");
    if (tls_url == nullptr) return false;
    s->url = tls_url;
#else
    s->tls = std::make_unique<tarn_test::TestServer>(true);
    tarn_test::Reply r;
    r.raw = c.head + c.tail;
    s->tls->set_default(r);
    s->url = s->tls->url() + "/loop";
#endif
    return true;
}

TEST_P(Hostile, EndsWithItsDocumentedOutcome) {
    const HostileCase &c = tarn_test::hostile_case(GetParam());
    bool wine = under_wine();
    if (c.wine_not_run != nullptr && wine) GTEST_SKIP() << "not run under Wine: " << c.wine_not_run;
    Served served;
    ASSERT_TRUE(serve(c, &served)) << "TARN_WIN_TLS_REDIRECT_URL is set by scripts/test_windows.sh";
    const tarn_test::HostileOutcome &want = c.wine.has_value() && wine ? *c.wine : c.want;

    const tarn_client_io &io = *tarn_client_default_io();
    char *body = nullptr;
    char *error = nullptr;
    int32_t status = -1;
    int32_t rc = io.get(io.user_data, served.url.c_str(), nullptr, &body, &status, &error);
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
    int requests = served.requests();
    if (requests >= 0) {
        size_t most = c.wine_max_requests > 0 && wine ? c.wine_max_requests : c.max_requests;
        EXPECT_GE(requests, 1);
        EXPECT_LE(static_cast<size_t>(requests), most);
    }
}

std::vector<std::string> case_names() {
    std::vector<std::string> names;
    for (const HostileCase &c : tarn_test::hostile_cases()) names.emplace_back(c.name);
    return names;
}

INSTANTIATE_TEST_SUITE_P(Cases, Hostile, ::testing::ValuesIn(case_names()),
                         [](const auto &info) { return info.param; });

}  // namespace
