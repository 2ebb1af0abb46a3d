// Number words mean what they say, and server text reaches the terminal
// with its control bytes escaped.
#include <string>
#include <vector>

#include "cli_fixture.h"

namespace tarn_test {
namespace {

TEST_F(CliWords, NumberWordsAreDecimalAndInRange) {
    struct Case {
        std::vector<std::string> words;
        std::string err;  // "" when the request goes out
        std::string body;
    } cases[] = {
        {{"kill", "s", "4294967297"}, "invalid number for spid: 4294967297\n", ""},
        {{"kill", "s", "1O2"}, "invalid number for spid: 1O2\n", ""},
        {{"cancel-spid", "s", "52abc"}, "invalid number for spid: 52abc\n", ""},
        {{"cancel-spid", "s", " 7"}, "invalid number for spid:  7\n", ""},
        {{"cancel-spid", "s", "-"}, "invalid number for spid: -\n", ""},
        {{"query", "s", "d", "q", "2147483648"}, "invalid number for max_rows: 2147483648\n", ""},
        {{"query", "s", "d", "q", "1", "1e3"}, "invalid number for timeout_s: 1e3\n", ""},
        {{"editgrid-load", "s", "d", "o", "t", "0x10"}, "invalid number for top: 0x10\n", ""},
        {{"kill", "s", "2147483647"}, "", "{\"server\":\"s\",\"spid\":2147483647}"},
        {{"query", "s", "d", "q", "-2147483648", "+7"},
         "",
         "{\"server\":\"s\",\"db\":\"d\",\"sql\":\"q\",\"timeout_s\":7}"},
        {{"query", "s", "d", "q", "", "", "tok"},
         "",
         "{\"server\":\"s\",\"db\":\"d\",\"sql\":\"q\",\"query_token\":\"tok\"}"},
    };
    for (const auto &c : cases) {
        server.clear();
        RunResult r = run(c.words);
        if (!c.err.empty()) {
            EXPECT_EQ(r.status, 2) << c.err;
            EXPECT_EQ(r.err, c.err);
            EXPECT_EQ(server.count(), 0U) << c.err;
            EXPECT_EQ(r.out, "");
        } else {
            EXPECT_EQ(r.status, 0) << r.err;
            EXPECT_EQ(without_generated_token(server.last().body), c.body);
        }
    }
}

TEST_F(CliWords, ControlBytesAreEscapedInTheErrorLineAndPreview) {
    const std::string escaped = "a\\tb\\nc\\rd\\x1b]0;title\\x07\\x7f\\x01z\xc3\xa9";
    // JSON text of nasty, as a server would send it.
    const std::string json = "a\\tb\\nc\\rd\\u001b]0;title\\u0007\\u007f\\u0001z\xc3\xa9";

    server.queue(json_body("{\"error\":\"" + json + "\"}", 500));
    RunResult r = run({"ping"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "ERROR: HTTP 500: " + escaped + "\n");

    // The reply line stays as sent; only the preview cells are escaped.
    std::string reply = "{\"rows\":[[\"" + json + "\",\"ok\"]]}";
    server.queue(json_body(reply));
    r = run({"ping"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, reply + "\n# grid: 1 rows x 2 cols\n" + escaped + "\tok\n");
}

}  // namespace
}  // namespace tarn_test
