// --max-time, --verbose and --version, which reach the library's time
// limit, trace and version.
#include <chrono>
#include <cstdlib>
#include <string>

#include "cli_fixture.h"

namespace tarn_test {
namespace {

TEST_F(CliWords, MaxTimeEndsASilentServersExchange) {
    Reply silent;
    silent.delay_ms = -1;  // never answers
    server.set_default(silent);
    auto start = std::chrono::steady_clock::now();
    RunResult r = run({"--max-time", "2", "-v", "ping"});
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("\nERROR: timed out after 2 s\n"), std::string::npos) << r.err;
    // The exchange, as the library timed it, ends within the limit plus one
    // second; the process as a whole also pays Wine's start-up under Wine.
    size_t at = r.err.find("* failed after ");
    ASSERT_NE(at, std::string::npos) << r.err;
    long ms = strtol(r.err.c_str() + at + 15, nullptr, 10);
    EXPECT_GE(ms, 1900) << r.err;
    EXPECT_LT(ms, 3000) << r.err;
    EXPECT_LT(seconds, under_launcher() ? 20.0 : 3.0);
    server.stop();
}

TEST_F(CliWords, VerboseTracesWithCredentialsMasked) {
    RunResult r = run({"ping", "-v"}, {{"TARN_NODE_PWD", "s3cret"}, {"TARN_NODE_JWT", "tok9"}});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "{\"ok\":true}\n");
    EXPECT_EQ(r.err.find("s3cret"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("tok9"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("pwd=***"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("\n< "), std::string::npos) << r.err;
    size_t start = 0;
    while (start < r.err.size()) {
        std::string prefix = r.err.substr(start, 2);
        EXPECT_TRUE(prefix == "* " || prefix == "> " || prefix == "< ") << r.err.substr(start);
        start = r.err.find('\n', start) + 1;
        if (start == 0) break;
    }

    r = run_tarn({"--version"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.rfind("tarn ", 0), 0U) << r.out;
    EXPECT_NE(r.out.find("\ntarn-client "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(" yyjson/"), std::string::npos) << r.out;
}

}  // namespace
}  // namespace tarn_test
