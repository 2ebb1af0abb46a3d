// The words that carry SQL or JSON read "-" (standard input) and "@PATH"
// whole, byte for byte.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "cli_fixture.h"

namespace tarn_test {
namespace {

// A file holding `text`, removed with the object.
class TempFile {
public:
    explicit TempFile(const std::string &text) {
        char name[] = "/tmp/tarn-input-XXXXXX";
        int fd = mkstemp(name);
        if (fd >= 0) {
            path_ = name;
            FILE *f = fdopen(fd, "wb");
            fwrite(text.data(), 1, text.size(), f);
            fclose(f);
        }
    }
    ~TempFile() { remove(path_.c_str()); }
    TempFile(const TempFile &) = delete;
    TempFile &operator=(const TempFile &) = delete;
    const std::string &path() const { return path_; }

private:
    std::string path_;
};

std::string json_escaped(const std::string &s) {
    std::string out;
    for (char ch : s) {
        if (ch == '\r')
            out += "\\r";
        else if (ch == '\n')
            out += "\\n";
        else
            out += ch;
    }
    return out;
}

TEST_F(CliWords, FileWordsReadStandardInputAndFilesWhole) {
    // A line feed inside and CR LF at the end: no newline conversion.
    const std::string json = "{\"a\":\"x\\ny\",\n \"b\":1}\r\n";
    std::string sql;
    while (sql.size() < (1U << 20)) sql += "select 'a row of text' union all\r\n";
    sql += "select 'last'";
    const std::string query_body =
        "{\"server\":\"s\",\"db\":\"d\",\"sql\":\"" + json_escaped(sql) + "\"}";
    struct Case {
        std::vector<std::string> words;  // "@" stands for the word under test
        std::string text;
        std::string body;
    } cases[] = {
        {{"save-connection", "@"}, json, json},      {{"test-connection", "@"}, json, json},
        {{"editgrid-apply", "@"}, json, json},       {{"storage-post", "shrink", "@"}, json, json},
        {{"query", "s", "d", "@"}, sql, query_body},
    };
    for (const auto &c : cases) {
        TempFile file(c.text);
        for (bool from_stdin : {true, false}) {
            std::vector<std::string> words = c.words;
            for (auto &w : words)
                if (w == "@") w = from_stdin ? "-" : "@" + file.path();
            server.clear();
            RunResult r = from_stdin ? run_input(words, c.text) : run(words);
            EXPECT_EQ(r.status, 0) << words[0] << " " << r.err;
            EXPECT_EQ(without_generated_token(server.last().body), c.body)
                << words[0] << (from_stdin ? " -" : " @PATH");
        }
    }
}

TEST_F(CliWords, UnreadableFilesStopTheRun) {
    TempFile nul(std::string("{\"a\":\"\0\"}", 9));
    struct Case {
        std::vector<std::string> words;
        std::string err;
    } cases[] = {
        {{"query", "s", "d", "@/nonexistent/q.sql"},
         "cannot read /nonexistent/q.sql: No such file or directory\n"},
        {{"save-connection", "@"}, "cannot read : No such file or directory\n"},
        {{"editgrid-apply", "@" + nul.path()},
         "cannot read " + nul.path() + ": holds a NUL byte\n"},
    };
    for (const auto &c : cases) {
        RunResult r = run(c.words);
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.err, c.err);
        EXPECT_EQ(r.out, "");
    }
    EXPECT_EQ(server.count(), 0U);

    // Other words are sent as written, and "--" lets an option word through.
    RunResult r = run({"delete-connection", "@x"});
    EXPECT_EQ(server.last().body, "{\"id\":\"@x\"}");
    r = run({"query", "s", "d", "--", "-v"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(without_generated_token(server.last().body),
              "{\"server\":\"s\",\"db\":\"d\",\"sql\":\"-v\"}");
}

}  // namespace
}  // namespace tarn_test
