// Help for one command, and the options that stand anywhere on the line.
#include <string>
#include <vector>

#include "cli_fixture.h"

namespace tarn_test {
namespace {

const std::string kQueryHelp =
    "usage: tarn query SERVER DB SQL [MAX_ROWS] [TIMEOUT_S] [QUERY_TOKEN]\n"
    "Runs SQL and prints the reply and its grid.\n";

TEST_F(CliWords, HelpForOneCommand) {
    struct Case {
        std::vector<std::string> args;
        std::string out_start;
    } cases[] = {
        {{"help", "query"}, kQueryHelp},
        {{"--help", "query", "more", "words"}, kQueryHelp},
        {{"-h", "kill"}, "usage: tarn kill SERVER SPID\n"},
        {{"--help-commands", "ping"}, "usage: tarn ping\n"},
        {{"help", "editgrid-load"}, "usage: tarn editgrid-load SERVER DB SCHEMA TABLE [TOP]\n"},
    };
    for (const auto &c : cases) {
        RunResult r = run_tarn(c.args);
        EXPECT_EQ(r.status, 0) << c.args[1];
        EXPECT_EQ(r.out.rfind(c.out_start, 0), 0U) << r.out;
        EXPECT_NE(r.out.find("\nexample: tarn "), std::string::npos) << r.out;
        EXPECT_EQ(r.err, "");
    }
}

TEST_F(CliWords, OptionsStandAnywhere) {
    RunResult r = run_tarn({"ping", "--version"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.rfind("tarn ", 0), 0U) << r.out;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(run_tarn({"-V"}).out, r.out);

    struct Case {
        std::vector<std::string> words;
        std::string err;
    } cases[] = {
        {{"ping", "--max-time"}, "missing value for --max-time\n"},
        {{"--max-time", "-1", "ping"}, "invalid number for --max-time: -1\n"},
        {{"--max-time", "1s", "ping"}, "invalid number for --max-time: 1s\n"},
        {{"--max-time", "", "ping"}, "invalid number for --max-time: \n"},
    };
    for (const auto &c : cases) {
        r = run(c.words);
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.err, c.err);
    }
    EXPECT_EQ(server.count(), 0U);

    r = run({"--max-time", "5", "tree", "-v", "s", "--verbose", "k"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(server.last().target, "/tree?server=s&node=k");
}

}  // namespace
}  // namespace tarn_test
