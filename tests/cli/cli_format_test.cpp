// --format: the whole grid as table, CSV, TSV or JSON lines, for every
// shape of reply the grid reader knows.
#include <cstring>
#include <string>
#include <vector>

#include "cli_fixture.h"

namespace tarn_test {
namespace {

struct Shape {
    const char *what;
    std::string body;
    std::string table, csv, tsv, json;
};

const Shape kShapes[] = {
    {"array rows, named and unnamed columns, awkward cells",
     "{\"columns\":[\"id\",{\"name\":\"note\"},7],\"rows\":[[1,\"a\\tb\\nc\",\"x,\\\"y\\\"\"],"
     "[2.5,null,{\"k\":[1,\"\xc3\xa9\"]}],[true,\"back\\\\slash\"]]}",
     "id   | note       | 3\n"
     "-----+------------+--------------\n"
     "1    | a\\tb\\nc    | x,\"y\"\n"
     "2.5  |            | {\"k\":[1,\"\xc3\xa9\"]}\n"
     "true | back\\slash | \n"
     "(3 rows)\n",
     "id,note,3\r\n1,\"a\tb\nc\",\"x,\"\"y\"\"\"\r\n2.5,,\"{\"\"k\"\":[1,\"\"\xc3\xa9\"\"]}\"\r\n"
     "true,back\\slash,\r\n",
     "id\tnote\t3\n1\ta\\tb\\nc\tx,\"y\"\n2.5\t\t{\"k\":[1,\"\xc3\xa9\"]}\ntrue\tback\\\\slash\t\n",
     "{\"id\":1,\"note\":\"a\\tb\\nc\",\"3\":\"x,\\\"y\\\"\"}\n"
     "{\"id\":2.5,\"note\":null,\"3\":{\"k\":[1,\"\xc3\xa9\"]}}\n"
     "{\"id\":true,\"note\":\"back\\\\slash\"}\n"},
    {"object rows found by column name, a member missing",
     "{\"columns\":[{\"name\":\"a\"},{\"name\":\"b\"}],\"rows\":[{\"b\":\"x\",\"a\":null},{\"a\":1}"
     "]}",
     "a | b\n--+--\n  | x\n1 | \n(2 rows)\n", "a,b\r\n,x\r\n1,\r\n", "a\tb\n\tx\n1\t\n",
     "{\"a\":null,\"b\":\"x\"}\n{\"a\":1}\n"},
    {"object rows without columns: the first row's keys name them",
     "{\"rows\":[{\"k\":true,\"n\":null,\"v\":[1,{\"q\":\"r\"}]}]}",
     "k    | n | v\n-----+---+--------------\ntrue |   | [1,{\"q\":\"r\"}]\n(1 row)\n",
     "k,n,v\r\ntrue,,\"[1,{\"\"q\"\":\"\"r\"\"}]\"\r\n", "k\tn\tv\ntrue\t\t[1,{\"q\":\"r\"}]\n",
     "{\"k\":true,\"n\":null,\"v\":[1,{\"q\":\"r\"}]}\n"},
    {"batched reply: every result with rows, in order",
     "{\"batches\":[{\"results\":[{\"columns\":[\"first\"],\"rows\":[[1]]},"
     "{\"columns\":[\"second\"],\"rows\":[[\"\xc3\xa9,\"]]}]},{\"results\":[{\"done\":true}]}]}",
     "first\n-----\n1\n(1 row)\n\nsecond\n------\n\xc3\xa9,\n(1 row)\n",
     "first\r\n1\r\n\nsecond\r\n\"\xc3\xa9,\"\r\n", "first\n1\n\nsecond\n\xc3\xa9,\n",
     "{\"first\":1}\n{\"second\":\"\xc3\xa9,\"}\n"},
    {"numbers keep every digit",
     "{\"columns\":[\"pi\",\"big\"],\"rows\":[[3.141592653589793,18446744073709551615]]}",
     "pi                | big\n"
     "------------------+---------------------\n"
     "3.141592653589793 | 18446744073709551615\n(1 row)\n",
     "pi,big\r\n3.141592653589793,18446744073709551615\r\n",
     "pi\tbig\n3.141592653589793\t18446744073709551615\n",
     "{\"pi\":3.141592653589793,\"big\":18446744073709551615}\n"},
    {"number tokens exactly as sent, beyond 64 bits and a double's range included",
     "{\"columns\":[\"a\",\"b\",\"c\",\"d\",\"e\",\"f\"],"
     "\"rows\":[[123456789012345678901234567890,-0,1E2,43.0,1e400,5e-324]]}",
     "a                              | b  | c   | d    | e     | f\n"
     "-------------------------------+----+-----+------+-------+-------\n"
     "123456789012345678901234567890 | -0 | 1E2 | 43.0 | 1e400 | 5e-324\n(1 row)\n",
     "a,b,c,d,e,f\r\n123456789012345678901234567890,-0,1E2,43.0,1e400,5e-324\r\n",
     "a\tb\tc\td\te\tf\n123456789012345678901234567890\t-0\t1E2\t43.0\t1e400\t5e-324\n",
     "{\"a\":123456789012345678901234567890,\"b\":-0,\"c\":1E2,\"d\":43.0,\"e\":1e400,"
     "\"f\":5e-324}\n"},
    {"scalar rows: no columns", "{\"rows\":[7,\"x\"]}", "\n\n\n\n(2 rows)\n", "\r\n\r\n\r\n",
     "\n\n\n", "{}\n{}\n"},
    {"no rows", "{\"columns\":[\"a\"],\"rows\":[]}", "a\n-\n(0 rows)\n", "a\r\n", "a\n", ""},
};

TEST_F(CliWords, EachFormatPrintsEveryShape) {
    for (const Shape &s : kShapes) {
        const std::pair<const char *, std::string> formats[] = {
            {"table", s.table}, {"csv", s.csv}, {"tsv", s.tsv}, {"json", s.json}};
        for (const auto &[format, expected] : formats) {
            server.queue(json_body(s.body));
            // The option may stand anywhere, here among the command's words.
            RunResult r = run({"query", "s", "--format", format, "d", "select 1"});
            EXPECT_EQ(r.status, 0) << r.err;
            EXPECT_EQ(r.out, expected) << s.what << " as " << format;
            EXPECT_EQ(r.err, "");
        }
    }
}

TEST_F(CliWords, FormatsWithoutAGridPrintTheReplyAndLongCellsStayWhole) {
    for (const char *format : {"raw", "table", "csv", "tsv", "json"}) {
        // A query's rows stream, a ping's reply is read whole: both say so.
        for (const char *command : {"ping", "query"}) {
            server.queue(json_body("{\"ok\":1}"));
            std::vector<std::string> words = {"--format", format, command};
            if (strcmp(command, "query") == 0) words.insert(words.end(), {"s", "d", "q"});
            RunResult r = run(words);
            EXPECT_EQ(r.status, 0);
            EXPECT_EQ(r.out, "{\"ok\":1}\n") << format << " " << command;
            EXPECT_EQ(r.err,
                      strcmp(format, "raw") == 0 ? "" : "tarn: no result grid in the reply\n")
                << format << " " << command;
        }
    }
    const std::string big(20000, 'x');
    server.queue(json_body("{\"rows\":[[\"" + big + "\"]]}"));
    RunResult r = run({"--format", "csv", "ping"});
    EXPECT_EQ(r.out, "1\r\n" + big + "\r\n");

    r = run({"--format", "xml", "ping"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "unknown format: xml (raw, table, csv, tsv, json)\n");
    r = run({"ping", "--format"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "missing value for --format\n");
    EXPECT_EQ(server.count(), 11U);
}

}  // namespace
}  // namespace tarn_test
