// The TLS policy end to end, on whichever backend the program under test
// has: which certificates each policy lets through, that a refused server
// never receives a request byte, and tls-pin.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "run_program.h"
#include "support/test_certs.h"
#include "support/test_server.h"

namespace tarn_test {
namespace {

constexpr CertKind kKinds[] = {CertKind::kSelfSignedOtherName, CertKind::kCaSigned,
                               CertKind::kCaSignedExpired, CertKind::kCaSignedOtherName};
constexpr int kSettleMs = 5000;

class TlsPolicy : public ::testing::Test {
protected:
    // The test CA as a PEM bundle on disk, for "ca:PATH".
    static void SetUpTestSuite() {
        char path[] = "/tmp/tarn-ca-XXXXXX";
        int fd = mkstemp(path);
        ASSERT_GE(fd, 0);
        const std::string &pem = test_ca().cert_pem;
        ASSERT_EQ(write(fd, pem.data(), pem.size()), static_cast<ssize_t>(pem.size()));
        close(fd);
        bundle_ = path;
    }
    static void TearDownTestSuite() { unlink(bundle_.c_str()); }

    static std::string bundle_;
};

std::string TlsPolicy::bundle_;

TEST_F(TlsPolicy, EachPolicyLetsThroughExactlyItsCertificates) {
    enum class Pin { kNone, kOwn, kOther };
    struct Row {
        std::string policy;
        Pin pin;
        bool pass[4];  // in kKinds order
    } rows[] = {
        {"any", Pin::kNone, {true, true, true, true}},
        // The test CA is in no platform trust store.
        {"system", Pin::kNone, {false, false, false, false}},
        {"ca:" + bundle_, Pin::kNone, {false, true, false, false}},
        // Chain, dates and name are not checked: only the key.
        {"pin (own key)", Pin::kOwn, {true, true, true, true}},
        {"pin (another key)", Pin::kOther, {false, false, false, false}},
    };
    for (const Row &row : rows) {
        for (int i = 0; i < 4; ++i) {
            const TlsIdentity &id = test_identity(kKinds[i]);
            std::string policy = row.pin == Pin::kOwn     ? "pin:" + pin_of(id)
                                 : row.pin == Pin::kOther ? "pin:" + pin_of(test_ca())
                                                          : row.policy;
            std::string label = row.policy + " / " + cert_kind_name(kKinds[i]);
            TestServer server(id);
            server.set_default(Reply(200, R"({"ok":true})"));
            RunResult r = run_tarn({"--host", server.url(), "ping"},
                                   {{"TARN_TLS", policy}, {"TARN_NODE_PWD", "s3cret"}});
            ASSERT_TRUE(server.wait_idle(kSettleMs)) << label;
            if (row.pass[i]) {
                EXPECT_EQ(r.status, 0) << label << ": " << r.err;
                EXPECT_EQ(server.count(), 1U) << label;
            } else {
                EXPECT_EQ(r.status, 1) << label;
                EXPECT_EQ(r.err, "ERROR: server certificate rejected\n") << label;
                EXPECT_EQ(r.out, "") << label;
                // Not even part of a request line got through.
                EXPECT_EQ(server.bytes_received(), 0U) << label;
            }
        }
    }
}

TEST_F(TlsPolicy, TlsPinPrintsTheKeyPinAndSendsNothing) {
    for (CertKind kind : kKinds) {
        const TlsIdentity &id = test_identity(kind);
        TestServer server(id);
        // The policy in force does not stop the pin from being read.
        RunResult r = run_tarn({"--host", server.url(), "tls-pin"},
                               {{"TARN_TLS", "pin:" + pin_of(test_ca())}});
        ASSERT_TRUE(server.wait_idle(kSettleMs));
        EXPECT_EQ(r.status, 0) << cert_kind_name(kind) << ": " << r.err;
        EXPECT_EQ(r.out, pin_of(id) + "\n") << cert_kind_name(kind);
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(server.bytes_received(), 0U) << cert_kind_name(kind);
    }
}

TEST_F(TlsPolicy, RefusedSettingsAndPlainHttp) {
    TestServer http;
    http.set_default(Reply(200, R"({"ok":true})"));
    std::string pin = "pin:" + pin_of(test_ca());
    // Files that can be opened but hold no certificate.
    char empty[] = "/tmp/tarn-empty-XXXXXX";
    char noise[] = "/tmp/tarn-noise-XXXXXX";
    int fd = mkstemp(empty);
    ASSERT_GE(fd, 0);
    close(fd);
    fd = mkstemp(noise);
    ASSERT_GE(fd, 0);
    std::string bytes;
    for (int i = 0; i < 3000; ++i) bytes += static_cast<char>((i * 131 + 7) % 256);
    ASSERT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    close(fd);
    struct Case {
        std::string command;
        std::string policy;
        int status;
        std::string err;
        size_t requests;
    } cases[] = {
        {"ping", "pin:sha256//tooshort=", 2, "ERROR: invalid tls policy\n", 0},
        {"ping", "ca:/nonexistent/bundle.pem", 2, "ERROR: invalid tls policy\n", 0},
        {"ping", "ca:/etc", 2, "ERROR: invalid tls policy\n", 0},
        {"ping", std::string("ca:") + empty, 2, "ERROR: invalid tls policy\n", 0},
        {"ping", std::string("ca:") + noise, 2, "ERROR: invalid tls policy\n", 0},
        {"ping", "ca:" + bundle_, 0, "", 1},
        {"ping", "System", 2, "ERROR: invalid tls policy\n", 0},
        // Plain http has no certificate to check.
        {"ping", pin, 0, "", 1},
        {"ping", "", 0, "", 1},
        {"tls-pin", "", 1, "ERROR: tls-pin needs an https base URL\n", 0},
    };
    for (const Case &c : cases) {
        http.clear();
        RunResult r = run_tarn({"--host", http.url(), c.command}, {{"TARN_TLS", c.policy}});
        EXPECT_EQ(r.status, c.status) << c.policy;
        EXPECT_EQ(r.err, c.err) << c.policy;
        EXPECT_EQ(http.count(), c.requests) << c.policy;
    }
    unlink(empty);
    unlink(noise);
}

}  // namespace
}  // namespace tarn_test
