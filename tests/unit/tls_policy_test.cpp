// Which TLS policy texts are taken, and that a refused one changes nothing.
#include <gtest/gtest.h>

#include <string>

#include "support/client_test.h"

namespace tarn_test {
namespace {

class TlsSetting : public ClientTest {
protected:
    void TearDown() override {
        tarn_client_set_tls(nullptr);
        ClientTest::TearDown();
    }
};

TEST_F(TlsSetting, AcceptsTheFourPoliciesAndNothingElse) {
    const std::string pin = "sha256//" + std::string(43, 'A') + "=";
    const std::string readable = "ca:" + std::string(__FILE__);
    struct Case {
        std::string policy;
        bool ok;
    } cases[] = {
        {"", true},
        {"any", true},
        {"system", true},
        {readable, true},
        {"pin:" + pin, true},
        {"ANY", false},
        {"system ", false},
        {"ca:", false},
        {"ca:/nonexistent/bundle.pem", false},
        {"pin:", false},
        {"pin:" + pin.substr(0, pin.size() - 1), false},  // no padding
        {"pin:" + pin + ";" + pin, false},                // one pin only
        {"pin:sha1//" + std::string(43, 'A') + "=", false},
        {"pin:sha256//" + std::string(42, 'A') + "!=", false},
        {pin, false},  // without "pin:"
    };
    for (const Case &c : cases) {
        EXPECT_EQ(tarn_client_set_tls(c.policy.c_str()), c.ok ? 0 : -1) << c.policy;
        EXPECT_STREQ(tarn_client_last_error(), c.ok ? "" : "invalid tls policy") << c.policy;
    }
    EXPECT_EQ(tarn_client_set_tls(nullptr), 0);
}

TEST_F(TlsSetting, AnInstalledTransportIgnoresThePolicy) {
    ASSERT_EQ(tarn_client_set_tls(("pin:sha256//" + std::string(43, 'B') + "=").c_str()), 0);
    io_.push(reply(200, "{}"));
    tarn_client_set_host("https://h");
    EXPECT_EQ(tarn_client_ping(), 0);
    EXPECT_EQ(io_.calls().size(), 1U);
}

}  // namespace
}  // namespace tarn_test
