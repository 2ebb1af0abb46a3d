// The TLS policy through the library's own calls on the libcurl backend:
// a refused setting keeps the policy in force, and tls_pin's result.
#include <gtest/gtest.h>

#include <string>

#include "support/test_certs.h"
#include "support/test_server.h"
#include "tarn_client.h"

namespace {

using tarn_test::CertKind;
using tarn_test::TestServer;

TEST(TlsLibrary, ARefusedSettingKeepsThePolicyInForce) {
    TestServer server(tarn_test::test_identity(CertKind::kSelfSignedOtherName));
    tarn_client_set_host(server.url().c_str());
    std::string other = "pin:" + tarn_test::pin_of(tarn_test::test_ca());
    ASSERT_EQ(tarn_client_set_tls(other.c_str()), 0);
    EXPECT_EQ(tarn_client_set_tls("pin:nonsense"), -1);
    EXPECT_EQ(tarn_client_ping(), -1);
    EXPECT_STREQ(tarn_client_last_error(), "server certificate rejected");
    EXPECT_EQ(server.count(), 0U);

    // NULL restores "any".
    ASSERT_EQ(tarn_client_set_tls(nullptr), 0);
    EXPECT_EQ(tarn_client_ping(), 0);
    EXPECT_EQ(server.count(), 1U);

    ASSERT_EQ(tarn_client_tls_pin(), 0);
    EXPECT_EQ(tarn_client_result(),
              tarn_test::pin_of(tarn_test::test_identity(CertKind::kSelfSignedOtherName)));
    EXPECT_EQ(server.count(), 1U);
    tarn_client_cleanup();
    tarn_client_set_host(nullptr);
}

TEST(TlsLibrary, TlsPinFailsClearlyWithoutAServer) {
    tarn_client_set_host("https://127.0.0.1:1");
    EXPECT_EQ(tarn_client_tls_pin(), -1);
    EXPECT_STREQ(tarn_client_last_error(), "WinHttpSendRequest failed");
    EXPECT_STREQ(tarn_client_result(), "");
    tarn_client_cleanup();
    tarn_client_set_host(nullptr);
}

}  // namespace
