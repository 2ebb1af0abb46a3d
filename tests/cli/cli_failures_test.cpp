// Failures reported as failures: output that cannot be written, input words
// too large or holding a NUL byte, and credentials kept out of the trace.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "cli_fixture.h"

namespace tarn_test {
namespace {

constexpr long long kLimit = 256LL << 20;

std::string grid_reply(int rows) {
    std::string body = R"({"columns":["id","name"],"rows":[)";
    for (int i = 0; i < rows; ++i)
        body += (i != 0 ? ",[" : "[") + std::to_string(i) + R"(,"row number )" + std::to_string(i) +
                R"("])";
    return body + "]}";
}

TEST_F(CliWords, OutputThatCannotBeWrittenIsAFailure) {
    if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
    const std::string want = std::string("ERROR: cannot write output: ") + strerror(ENOSPC) + "\n";
    // Small output reaches the device only at the final flush; large output
    // fails while it is written.
    for (int rows : {1, 5000}) {
        server.set_default(json_body(grid_reply(rows)));
        std::vector<std::vector<std::string>> runs = {{"ping"}};
        for (const char *format : {"raw", "table", "csv", "tsv", "json"})
            runs.push_back({"--format", format, "query", "s", "d", "select"});
        for (const auto &words : runs) {
            RunResult r = run_tarn_to_file(with_host(words), "/dev/full");
            SCOPED_TRACE(words[words.size() > 1 ? 1 : 0] + " with " + std::to_string(rows) +
                         " rows");
            EXPECT_EQ(r.status, 1);
            if (under_launcher())
                EXPECT_EQ(r.err.rfind("ERROR: cannot write output: ", 0), 0U) << r.err;
            else
                EXPECT_EQ(r.err, want);
        }
    }
    RunResult r = run_tarn_to_file({"--version"}, "/dev/full");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.rfind("ERROR: cannot write output: ", 0), 0U) << r.err;

    // A failed run keeps its own status and message.
    server.set_default(json_body(R"({"error":"no"})", 500));
    r = run_tarn_to_file(with_host({"ping"}), "/dev/full");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "ERROR: HTTP 500: no\n");
}

// A file of `size` bytes that takes no disk space: every byte is NUL.
class SparseFile {
public:
    explicit SparseFile(long long size) {
        char name[] = "/tmp/tarn-sparse-XXXXXX";
        int fd = mkstemp(name);
        if (fd < 0) return;
        path_ = name;
        if (ftruncate(fd, size) != 0) path_.clear();
        close(fd);
    }
    ~SparseFile() {
        if (!path_.empty()) unlink(path_.c_str());
    }
    SparseFile(const SparseFile &) = delete;
    SparseFile &operator=(const SparseFile &) = delete;
    const std::string &path() const { return path_; }

private:
    std::string path_;
};

TEST_F(CliWords, OversizedOrNulInputWordsAreRefused) {
    SparseFile over(kLimit + 1);
    SparseFile at_limit(kLimit);
    ASSERT_FALSE(over.path().empty());
    ASSERT_FALSE(at_limit.path().empty());
    struct Case {
        std::string word;
        std::string err;
    };
    std::vector<Case> cases = {
        // Refused by its size before a byte is read.
        {"@" + over.path(), "cannot read " + over.path() + ": larger than 256 MiB\n"},
        // Within the size limit: refused by its first NUL byte.
        {"@" + at_limit.path(), "cannot read " + at_limit.path() + ": holds a NUL byte\n"},
    };
    // Endless: refused by its first block (a device Windows lacks).
    if (!under_launcher())
        cases.push_back({"@/dev/zero", "cannot read /dev/zero: holds a NUL byte\n"});
    for (const Case &c : cases) {
        RunResult r = run({"query", "s", "d", c.word});
        EXPECT_EQ(r.status, 2) << c.word;
        EXPECT_EQ(r.err, c.err);
        EXPECT_EQ(r.out, "");
    }
    EXPECT_EQ(server.count(), 0U);
}

TEST_F(CliWords, EndlessStandardInputIsRefusedAtTheLimit) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    // The writer stops when the program closes its end: no SIGPIPE for us.
    signal(SIGPIPE, SIG_IGN);
    long long written = 0;
    std::thread writer([&] {
        std::string block(65536, 'y');
        for (size_t i = 1; i < block.size(); i += 2) block[i] = '\n';
        ssize_t n = 0;
        while ((n = write(fds[1], block.data(), block.size())) > 0) written += n;
        close(fds[1]);
    });
    RunResult r = run_tarn_from_fd(with_host({"query", "s", "d", "-"}), fds[0]);
    close(fds[0]);
    writer.join();
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "cannot read -: larger than 256 MiB\n");
    EXPECT_GT(written, kLimit);
    EXPECT_EQ(server.count(), 0U);
}

TEST_F(CliWords, VerboseMasksUrlAndProxyPasswords) {
    std::string host = server.url();
    host.insert(host.find("://") + 3, "alice:hostpw@");
    RunResult r = run_tarn({"--host", host, "-v", "ping"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err.find("hostpw"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("alice:***@"), std::string::npos) << r.err;

    // The loopback server stands in for the proxy; the request goes to a
    // host only the proxy would reach. WinHTTP reads no proxy variable.
    if (under_launcher()) return;
    std::string proxy = server.url();
    proxy.insert(proxy.find("://") + 3, "bob:proxypw@");
    r = run_tarn({"--host", "http://tarn-proxied.invalid", "-v", "ping"},
                 {{"http_proxy", proxy}, {"no_proxy", std::nullopt}, {"NO_PROXY", std::nullopt}});
    EXPECT_EQ(r.err.find("proxypw"), std::string::npos) << r.err;
    EXPECT_GE(server.count(), 1U) << "the proxy was not used: " << r.err;
}

}  // namespace
}  // namespace tarn_test
