// The result grid: locating rows and columns in a reply, reading cells and
// the grid's lifetime across operations.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "client/state.h"
#include "support/client_test.h"
#include "support/fake_io.h"
#include "support/heap_hooks.h"

namespace {

using tarn_test::ClientTest;
using tarn_test::FakeIo;
using tarn_test::reply;

struct Cell {
    int row;
    int col;
    std::string want;
};

struct GridCase {
    std::string reply;
    int rows;
    int cols;
    std::vector<Cell> cells;
};

class GridTest : public ClientTest {
protected:
    // Stores `json` as the reply of a successful operation.
    void load(const std::string &json) {
        io_.push(reply(200, json));
        ASSERT_EQ(tarn_client_ping(), 0) << tarn_client_last_error();
        ASSERT_EQ(tarn_client_result(), json);
    }

    // Loads the case's reply and checks its counts and cells.
    void check(const GridCase &c) {
        SCOPED_TRACE(c.reply);
        load(c.reply);
        EXPECT_EQ(tarn_client_row_count(), c.rows);
        EXPECT_EQ(tarn_client_col_count(), c.cols);
        for (const auto &cell : c.cells)
            EXPECT_EQ(tarn_client_cell(cell.row, cell.col), cell.want)
                << "(" << cell.row << "," << cell.col << ")";
    }
};

TEST_F(GridTest, LocatesTheGridAndReadsCells) {
    const GridCase cases[] = {
        {R"({"columns":["id","name"],"rows":[[1,"ann"],[2,"bo"]]})",
         2,
         2,
         {{0, 0, "1"},
          {0, 1, "ann"},
          {1, 0, "2"},
          {1, 1, "bo"},
          {0, 2, ""},
          {2, 0, ""},
          {-1, 0, ""},
          {0, -1, ""}}},
        {R"({"columns":[{"name":"a"},{"name":"b"}],"rows":[{"b":20,"a":10}]})",
         1,
         2,
         {{0, 0, "10"}, {0, 1, "20"}}},
        {R"({"columns":["a","x"],"rows":[{"a":1,"b":2}]})", 1, 2, {{0, 1, "2"}, {0, 2, ""}}},
        {R"({"columns":["id"],"rows":[{"ID":5,"id":6}]})", 1, 1, {{0, 0, "6"}}},
        {R"({"rows":[{"k":true,"n":null,"v":[1,{"q":"r"}]}]})",
         1,
         3,
         {{0, 0, "true"}, {0, 1, ""}, {0, 2, R"([1,{"q":"r"}])"}}},
        {R"({"columns":["a",{"title":"b"},7],"rows":[[1,2,3,4]]})",
         1,
         3,
         {{0, 3, "4"}, {0, 4, ""}}},
        {R"({"columns":[{"name":5},{"label":"b"}],"rows":[{"x":1,"y":2}]})",
         1,
         2,
         {{0, 0, "1"}, {0, 1, "2"}}},
        {R"({"columns":[],"rows":[[1,2]]})", 1, 2, {{0, 1, "2"}}},
        {R"({"rows":[]})", 0, 0, {{0, 0, ""}}},
        {R"({"columns":["a"],"rows":[]})", 0, 1, {{0, 0, ""}}},
        {R"({"rows":[7,[1]]})", 2, 0, {{0, 0, ""}, {1, 0, "1"}}},
        {R"({"rows":[[1]],"rows":[[2]]})", 1, 1, {{0, 0, "1"}}},
        {R"({"rows":{},"columns":["a"],"batches":[{"results":[{"rows":[[1]]}]}]})",
         -1,
         -1,
         {{0, 0, ""}}},
        {R"({"rows":null,"batches":[{"results":[{"rows":[[5]]}]}]})", 1, 1, {{0, 0, "5"}}},
        {R"({"rows":[[0]],"batches":[{"results":[{"rows":[[9]]}]}]})", 1, 1, {{0, 0, "0"}}},
        {R"({"batches":[{"results":[{"columns":["first"],"rows":[[1]]},)"
         R"({"columns":["second"],"rows":[[2]]}]},{"results":[{"done":true}]}]})",
         1,
         1,
         {{0, 0, "2"}}},
        {R"({"batches":[{"results":[{"rows":[[1]]}]},{"results":[{"rows":[]}]}]})", 0, 0, {}},
        {R"([[1,2]])", -1, -1, {{0, 0, ""}}},
        {R"({})", -1, -1, {}},
        {R"("rows")", -1, -1, {}},
        {"", -1, -1, {}},
        {"rows: not json", -1, -1, {}},
    };
    for (const auto &c : cases) check(c);
}

TEST_F(GridTest, OddShapes) {
    const GridCase cases[] = {
        // Batches, results and rows of the wrong kind are skipped.
        {R"({"batches":[{"results":[{"rows":[[1]]}]},7,{},{"results":[]},)"
         R"({"results":[{},{"rows":{}},5]}]})",
         1,
         1,
         {{0, 0, "1"}}},
        {R"({"batches":[]})", -1, -1, {}},
        {R"({"batches":{"results":[{"rows":[[1]]}]}})", -1, -1, {}},
        {R"({"rows":"x"})", -1, -1, {}},
        // The result's own columns name the grid; a root non-array is ignored.
        {R"({"columns":"x","batches":[{"results":[{"columns":["c"],"rows":[{"d":4,"c":3}]}]}]})",
         1,
         1,
         {{0, 0, "3"}}},
        {R"({"rows":["abc",null,true,{}]})", 4, 0, {{0, 0, ""}, {2, 0, ""}, {3, 0, ""}}},
        // Past the named columns, members are taken by position.
        // By position only where the member's key names no column: a
        // member named for another column never fills this one.
        {R"({"columns":["b"],"rows":[{"a":1,"b":2,"c":3}]})",
         1,
         1,
         {{0, 0, "2"}, {0, 1, ""}, {0, 2, "3"}, {0, 3, ""}}},
        {R"({"columns":["a"],"rows":[{"a":1,"a":2}]})", 1, 1, {{0, 0, "1"}, {0, 1, ""}}},
        {R"({"columns":[null,"b"],"rows":[{"b":1,"a":2}]})", 1, 2, {{0, 0, ""}, {0, 1, "1"}}},
        {R"({"columns":["id","name","email"],"rows":[{"name":"b","email":"z@w"}]})",
         1,
         3,
         {{0, 0, ""}, {0, 1, "b"}, {0, 2, "z@w"}}},
        {R"({"columns":[""],"rows":[{"x":1,"":5}]})", 1, 1, {{0, 0, "5"}}},
        // A name is kept up to its first NUL.
        {R"({"columns":["a\u0000b"],"rows":[{"a\u0000b":2,"a":1}]})", 1, 1, {{0, 0, "1"}}},
        {R"({"columns":["a"],"rows":[{}]})", 1, 1, {{0, 0, ""}}},
        // Later rows may differ from the first.
        {R"({"rows":[[1],{"a":2,"b":3},"s",[4,5,6]]})",
         4,
         1,
         {{1, 1, "3"}, {2, 0, ""}, {3, 2, "6"}}},
        {R"({"rows":[["\u00e9\ud83d\ude00","\"q\"\\"]]})",
         1,
         2,
         {{0, 0, "\xC3\xA9\xF0\x9F\x98\x80"}, {0, 1, "\"q\"\\"}}},
        {R"({"rows":[[{},[],{"a":{"b":[null,false]}}]]})",
         1,
         3,
         {{0, 0, "{}"}, {0, 1, "[]"}, {0, 2, R"({"a":{"b":[null,false]}})"}}},
    };
    for (const auto &c : cases) check(c);
}

TEST_F(GridTest, NumberForms) {
    const struct {
        const char *literal;
        const char *want;
    } cases[] = {
        {"42", "42"},
        {"-7", "-7"},
        {"0", "0"},
        {"2.50", "2.5"},
        {"1e3", "1000"},
        {"1.0", "1"},
        {"-0.0", "-0"},
        {"3.141592653589793", "3.14159265358979"},
        {"1e20", "1e+20"},
        {"1E-7", "1e-07"},
        {"18446744073709551615", "18446744073709551615"},
        {"-9223372036854775808", "-9223372036854775808"},
        {"[1.0,2.5]", "[1.0,2.5]"},
        {R"({"n":1e3})", R"({"n":1000.0})"},
        {"true", "true"},
        {"false", "false"},
        {"null", ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.literal);
        load(std::string(R"({"rows":[[)") + c.literal + "]]}");
        EXPECT_EQ(tarn_client_cell(0, 0), std::string(c.want));
        load(std::string(R"({"columns":["v"],"rows":[{"v":)") + c.literal + "}]}");
        EXPECT_EQ(tarn_client_cell(0, 0), std::string(c.want));
    }
}

// Whole-cell readers give a number's token byte for byte; the preview
// shows it as the nearest double, as before. The reply text is never
// written over by reading it.
TEST_F(GridTest, NumberTokensReadBackExactly) {
    const struct {
        std::string token;
        const char *preview;   // tarn_client_cell of the number
        const char *in_array;  // tarn_client_cell of [token]
    } cases[] = {
        {"123456789012345678901234567890", "1.23456789012346e+29", "[1.2345678901234568e29]"},
        {"-98765432109876543210", "-9.87654321098765e+19", "[-98765432109876540000.0]"},
        {"18446744073709551616", "1.84467440737096e+19", "[18446744073709552000.0]"},
        {"18446744073709551615", "18446744073709551615", "[18446744073709551615]"},
        {"-0", "0", "[0]"},
        {"1E2", "100", "[100.0]"},
        {"43.0", "43", "[43.0]"},
        {"5e-324", "4.94065645841247e-324", "[5e-324]"},
        {"1e-400", "0", "[0.0]"},
        {"1." + std::string(700, '0'), "1", "[1.0]"},
        // Past a double's range: the preview shows the token as sent.
        {"1e400", "1e400", "[1e400]"},
        {"-1E+400", "-1E+400", "[-1E+400]"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.token.substr(0, 40));
        const std::string &token = c.token;
        const std::string json = R"({"columns":["n","a"],"rows":[[)" + token + ",[" + token +
                                 R"(]],{"n":)" + token + "}]}";
        load(json);
        for (int row : {0, 1}) {
            size_t len = 0;
            const char *text = tarn_client_cell_text(row, 0, &len);
            EXPECT_EQ(std::string(text, len), token) << row;
            EXPECT_EQ(text[len], '\0');
            text = tarn_client_cell_json(row, 0, &len);
            EXPECT_EQ(std::string(text, len), token) << row;
            EXPECT_EQ(tarn_client_cell_kind(row, 0), TARN_CELL_NUMBER) << row;
            EXPECT_STREQ(tarn_client_cell(row, 0), c.preview) << row;
        }
        size_t len = 0;
        const char *text = tarn_client_cell_json(0, 1, &len);
        EXPECT_EQ(std::string(text, len), "[" + token + "]");
        EXPECT_STREQ(tarn_client_cell(0, 1), c.in_array);
        EXPECT_EQ(tarn_client_result(), json);
    }

    // Bytes that are not UTF-8 cost no grid, and come back as sent.
    const std::string odd = "a\xFF\xC3(";
    load(R"({"columns":["s","n"],"rows":[[")" + odd + R"(",1e400],[[")" + odd + R"("]]]})");
    ASSERT_EQ(tarn_client_row_count(), 2);
    size_t len = 0;
    const char *text = tarn_client_cell_text(0, 0, &len);
    EXPECT_EQ(std::string(text, len), odd);
    text = tarn_client_cell_json(0, 0, &len);
    EXPECT_EQ(std::string(text, len), '"' + odd + '"');
    EXPECT_EQ(tarn_client_cell(0, 0), odd);
    EXPECT_EQ(tarn_client_cell(1, 0), "[\"" + odd + "\"]");
    EXPECT_STREQ(tarn_client_cell(0, 1), "1e400");
}

TEST_F(GridTest, TextCellsAreCutAt8191Bytes) {
    const std::string ascii(10000, 'x');
    std::string utf8;
    for (int i = 0; i < 4096; ++i) utf8 += "\xC3\xA9";  // 8192 bytes
    const std::string deep = std::string(300, '[') + std::string(300, ']');
    const struct {
        std::string cell;
        std::string want;
    } cases[] = {
        {'"' + ascii + '"', ascii.substr(0, 8191)},
        {'"' + utf8 + '"', utf8.substr(0, 8191)},
        {R"("a\u0000b")", "a"},
        {R"(["x\u0000y"])", R"(["x\u0000y"])"},
        {"[\"" + ascii + "\"]", ("[\"" + ascii).substr(0, 8191)},
        {deep, deep},
    };
    for (const auto &c : cases) {
        load(R"({"rows":[[)" + c.cell + "]]}");
        EXPECT_EQ(tarn_client_cell(0, 0), c.want) << c.cell.substr(0, 20);
    }
}

TEST_F(GridTest, ManyRowsReadInAnyOrder) {
    // Rows holding containers are reached by walking; the index must still
    // hand back the right row wherever the reader starts.
    std::string json = R"({"rows":[)";
    const int n = 2000;
    for (int i = 0; i < n; ++i) {
        char row[64];
        snprintf(row, sizeof row, i % 2 == 0 ? "%s[%d,[0]]" : R"(%s{"k":%d,"o":{}})",
                 i > 0 ? "," : "", i);
        json += row;
    }
    json += "]}";
    load(json);
    ASSERT_EQ(tarn_client_row_count(), n);
    for (int i = n - 1; i >= 0; i -= 7) EXPECT_EQ(tarn_client_cell(i, 0), std::to_string(i));
}

TEST_F(GridTest, AFailedOperationLeavesNoGrid) {
    const std::function<int()> failing[] = {
        [] { return tarn_client_tree(nullptr, nullptr, nullptr, nullptr, nullptr); },
        [this] {
            io_.push(tarn_test::failure("down"));
            return tarn_client_ping();
        },
        [this] {
            io_.push(reply(500, R"({"rows":[[1]]})"));
            return tarn_client_ping();
        },
    };
    for (const auto &op : failing) {
        load(R"({"columns":["a"],"rows":[[1]]})");
        const char *earlier = tarn_client_cell(0, 0);
        ASSERT_STREQ(earlier, "1");
        EXPECT_EQ(op(), -1);
        EXPECT_STREQ(earlier, "");  // before any new cell call empties it
        EXPECT_EQ(tarn_client_row_count(), -1);
        EXPECT_EQ(tarn_client_col_count(), -1);
        EXPECT_STREQ(tarn_client_cell(0, 0), "");
    }
}

TEST_F(GridTest, CellTextLivesUntilTheNextOperationBegins) {
    load(R"({"rows":[["first","second"]]})");
    const char *text = tarn_client_cell(0, 0);
    ASSERT_STREQ(text, "first");
    EXPECT_EQ(tarn_client_cell(0, 1), text);  // one shared buffer
    EXPECT_STREQ(text, "second");
    io_.push(reply(200, R"({"rows":[["next"]]})"));
    ASSERT_EQ(tarn_client_ping(), 0);
    EXPECT_STREQ(text, "");
    tarn_client_cell(0, 0);
    tarn_client_cleanup();
    EXPECT_STREQ(text, "");
    EXPECT_EQ(tarn_client_row_count(), -1);
    EXPECT_EQ(tarn_client_col_count(), -1);
}

TEST_F(GridTest, AllocationFailuresLeaveAConsistentGrid) {
    // Names: col count 3 and (0,0) found by name. Without the name array:
    // col count from the first row and (0,0) by position. Without the copy of
    // "b": col count 3, but (0,0) by position.
    const std::string json = R"({"columns":["b","a","c"],"rows":[{"a":1,"b":2},[7]]})";
    bool saw_no_names = false;
    bool saw_missing_name = false;
    for (int at = 1;; ++at) {
        int rc;
        {
            auto failing = tarn_test::HeapHooks::failing_nth(at);
            io_.push(reply(200, json));
            rc = tarn_client_ping();
        }
        bool hit = tarn_test::FailNth::seen >= at;
        ASSERT_EQ(rc, 0) << at;
        EXPECT_EQ(tarn_client_row_count(), 2);
        int cols = tarn_client_col_count();
        std::string first = tarn_client_cell(0, 0);
        EXPECT_EQ(tarn_client_cell(1, 0), std::string("7"));
        EXPECT_STREQ(tarn_client_cell(0, 2), "");
        if (cols == 2) {
            EXPECT_EQ(first, "1");
            saw_no_names = true;
        } else {
            EXPECT_EQ(cols, 3);
            // Each column is found by its name or, without one, by position
            // where the member there is named for no column.
            std::string second = tarn_client_cell(0, 1);
            std::string pair = first + "," + second;
            EXPECT_TRUE(pair == "2,1" || pair == ",1" || pair == "2," || pair == "1,2") << pair;
            if (pair != "2,1") saw_missing_name = true;
        }
        if (!hit) break;
    }
    EXPECT_TRUE(saw_no_names);
    EXPECT_TRUE(saw_missing_name);
}

}  // namespace
