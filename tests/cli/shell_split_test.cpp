// The shell's statement splitter and variable substitution, in-process.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/shell_split.h"

namespace tarn_test {
namespace {

using tarn_cli::Piece;
using tarn_cli::ShellVars;
using tarn_cli::StatementSplitter;

// Every piece of the lines, statements as "S:text", meta commands as "M:text".
std::vector<std::string> pieces_of(const std::vector<std::string> &lines, const ShellVars &vars,
                                   std::string *pending = nullptr) {
    StatementSplitter splitter(vars);
    std::vector<std::string> out;
    for (const std::string &line : lines)
        for (const Piece &p : splitter.feed(line))
            out.push_back((p.kind == Piece::Statement ? "S:" : "M:") + p.text);
    if (pending != nullptr) *pending = splitter.pending();
    return out;
}

TEST(ShellSplit, StatementsEndOnlyAtSemicolonsOutsideQuotesAndComments) {
    struct Case {
        const char *name;
        std::vector<std::string> lines;
        std::vector<std::string> pieces;
        std::string pending;
    } cases[] = {
        {"two on a line", {"select 1; select 2;"}, {"S:select 1", "S:select 2"}, ""},
        {"over lines", {"select a,", "  b", "from t;"}, {"S:select a,\n  b\nfrom t"}, ""},
        {"quoted semicolon", {"select ';' ;"}, {"S:select ';'"}, ""},
        {"doubled quote", {"select 'it''s; ok';"}, {"S:select 'it''s; ok'"}, ""},
        {"quote over lines", {"select 'a;", "b';"}, {"S:select 'a;\nb'"}, ""},
        {"quoted identifier", {"select \"x;y\" from t;"}, {"S:select \"x;y\" from t"}, ""},
        {"line comment", {"select 1 -- not; yet", "+ 1;"}, {"S:select 1 -- not; yet\n+ 1"}, ""},
        {"block comment", {"select /* a; ", "b; */ 2;"}, {"S:select /* a; \nb; */ 2"}, ""},
        {"empty statements", {";;  ;", "select 1;"}, {"S:select 1"}, ""},
        {"comment alone opens nothing", {"-- just a note"}, {}, ""},
        {"left open", {"select 1", "from t"}, {}, "select 1\nfrom t"},
        {"\\g ends it", {"select 1 \\g"}, {"S:select 1"}, ""},
        {"\\g alone", {"\\g"}, {"M:\\g"}, ""},
        {"meta runs to the line end", {"\\d orders; x"}, {"M:\\d orders; x"}, ""},
        {"meta keeps the open statement",
         {"select 1", "\\x on", "from t;"},
         {"M:\\x on", "S:select 1\nfrom t"},
         ""},
        {"backslash in quotes", {"select '\\d';"}, {"S:select '\\d'"}, ""},
        {"\\gx is no \\g", {"select 1 \\gx"}, {"M:\\gx"}, "select 1"},
    };
    for (const auto &c : cases) {
        std::string pending;
        EXPECT_EQ(pieces_of(c.lines, {}, &pending), c.pieces) << c.name;
        EXPECT_EQ(pending, c.pending) << c.name;
    }
}

TEST(ShellSplit, OpenTellsWhenAContinuationPromptIsDue) {
    StatementSplitter s({});
    s.feed("-- a comment");
    EXPECT_FALSE(s.open());
    s.feed("select 'a");
    EXPECT_TRUE(s.open());
    s.feed("';");
    EXPECT_FALSE(s.open());
    s.feed("select 1");
    s.clear();
    EXPECT_FALSE(s.open());
    EXPECT_EQ(s.pending(), "");
}

TEST(ShellSplit, VariablesAreReplacedOutsideQuotesOnly) {
    const ShellVars vars = {{"who", "O'Brien"}, {"t", "orders"}, {"col", "a\"b"}, {"n", "5"}};
    struct Case {
        std::string line;
        std::string statement;
    } cases[] = {
        {"select * from :t where n < :n;", "select * from orders where n < 5"},
        {"select :'who';", "select 'O''Brien'"},
        {"select :\"col\" from :\"t\";", "select \"a\"\"b\" from \"orders\""},
        {"select ':t', \":t\";", "select ':t', \":t\""},
        {"select 1 -- :t\n;", "select 1 -- :t"},
        {"select :unset, :'unset';", "select :unset, :'unset'"},
        {"select x::int, :n::text;", "select x::int, 5::text"},
        {"select :'who' || ':n';", "select 'O''Brien' || ':n'"},
        {"select :;", "select :"},
    };
    for (const auto &c : cases) {
        std::vector<std::string> lines;
        size_t start = 0;
        for (size_t nl; (nl = c.line.find('\n', start)) != std::string::npos; start = nl + 1)
            lines.push_back(c.line.substr(start, nl - start));
        lines.push_back(c.line.substr(start));
        EXPECT_EQ(pieces_of(lines, vars), std::vector<std::string>{"S:" + c.statement}) << c.line;
    }
}

TEST(ShellSplit, MetaWordsAreSplitQuotedAndReplaced) {
    const ShellVars vars = {{"t", "orders"}, {"who", "O'Brien"}};
    struct Case {
        std::string line;
        std::vector<std::string> words;
    } cases[] = {
        {"\\d :t", {"\\d", "orders"}},
        {"\\set name O'Brien", {"\\set", "name", "O'Brien"}},
        {"\\set name 'two words' x", {"\\set", "name", "two words", "x"}},
        {"\\set name 'it''s'", {"\\set", "name", "it's"}},
        {"\\set q :'who'", {"\\set", "q", "O'Brien"}},
        {"  \\x   auto  ", {"\\x", "auto"}},
        {"\\i 'unterminated", {"\\i", "unterminated"}},
    };
    for (const auto &c : cases) EXPECT_EQ(tarn_cli::meta_words(c.line, vars), c.words) << c.line;
}

}  // namespace
}  // namespace tarn_test
