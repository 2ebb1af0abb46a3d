// The streaming grid reader, fed each reply in every chunk size so that each
// token is split at every place: what it delivers must not depend on where
// the reply's bytes were cut.
#include "client/row_stream.h"

#include <gtest/gtest.h>
#include <yyjson.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "support/heap_hooks.h"
#include "tarn_client.h"

namespace {

using tarn::RowStream;
using tarn::RowStreamCallbacks;
using tarn::StreamCell;
using tarn::StreamSetEnd;
using tarn::StreamStatus;

// Everything delivered, as one line per event.
struct Transcript {
    std::string text;
    int stop_after_rows = -1;  // stop when this many rows have come
    int rows = 0;
    bool unterminated = false;  // a text without its NUL

    void cell(const StreamCell &c) {
        if (c.text[c.len] != '\0') unterminated = true;
        std::string t(c.text, c.len);
        switch (c.kind) {
            case TARN_CELL_ABSENT:
                text += t.empty() ? "~" : "~?" + t;
                break;
            case TARN_CELL_NULL:
                text += "null" + t;
                break;
            case TARN_CELL_BOOL:
                text += "b:" + t;
                break;
            case TARN_CELL_NUMBER:
                text += "#" + t;
                break;
            case TARN_CELL_STRING:
                text += "s:" + t;
                break;
            case TARN_CELL_ARRAY:
                text += "a:" + t;
                break;
            case TARN_CELL_OBJECT:
                text += "o:" + t;
                break;
            default:
                text += "?";
        }
    }
    void cells(const char *what, const StreamCell *c, size_t n) {
        text += what;
        for (size_t i = 0; i < n; ++i) {
            if (i != 0) text += "|";
            cell(c[i]);
        }
        text += "\n";
    }
};

const RowStreamCallbacks kRecord = {
    [](void *u, const StreamCell *names, size_t n) {
        static_cast<Transcript *>(u)->cells("cols:", names, n);
        return 0;
    },
    [](void *u, const StreamCell *cells, size_t n) {
        auto *t = static_cast<Transcript *>(u);
        t->cells("row:", cells, n);
        return ++t->rows == t->stop_after_rows ? 1 : 0;
    },
    [](void *u, const StreamSetEnd *e) {
        auto *t = static_cast<Transcript *>(u);
        t->text += "end:" + std::to_string(e->rows) + (e->truncated ? ",truncated" : "") + "\n";
        return 0;
    },
};

const char *status_name(StreamStatus s) {
    switch (s) {
        case StreamStatus::kOk:
            return "ok";
        case StreamStatus::kNoGrid:
            return "no grid";
        case StreamStatus::kStopped:
            return "stopped";
        case StreamStatus::kFailed:
            return "failed";
    }
    return "?";
}

// Feeds the reply in chunks of `chunk` bytes (0: whole) and returns the
// transcript with the outcome and any message on its last line.
std::string stream(const std::string &reply, size_t chunk, int stop_after_rows = -1) {
    Transcript t;
    t.stop_after_rows = stop_after_rows;
    RowStream rs(kRecord, &t);
    StreamStatus st = StreamStatus::kOk;
    size_t step = chunk == 0 ? reply.size() : chunk;
    for (size_t at = 0; at < reply.size() && st == StreamStatus::kOk; at += step)
        st = rs.feed(reply.data() + at, std::min(step, reply.size() - at));
    if (st == StreamStatus::kOk) st = rs.finish();
    EXPECT_FALSE(t.unterminated);
    return t.text + status_name(st) + (rs.error()[0] != '\0' ? std::string(": ") + rs.error() : "");
}

// The same transcript whatever the chunk size, from whole down to byte by byte.
void expect_every_chunking(const std::string &reply, const std::string &want) {
    SCOPED_TRACE(reply);
    EXPECT_EQ(stream(reply, 0), want);
    for (size_t chunk = 1; chunk < reply.size(); ++chunk) {
        std::string got = stream(reply, chunk);
        if (got != want) {
            ADD_FAILURE() << "chunks of " << chunk << ":\n" << got << "\nwanted:\n" << want;
            return;
        }
    }
}

struct Case {
    const char *what;
    std::string reply;
    std::string want;
};

TEST(RowStreamTest, FindsTheSetsTheGridReadersFind) {
    const Case cases[] = {
        {"top-level grid", R"({"columns":["id","name"],"rows":[[1,"ann"],[2,"bo"]]})",
         "cols:s:id|s:name\nrow:#1|s:ann\nrow:#2|s:bo\nend:2\nok"},
        {"columns after rows wait for them",
         R"({"rows":[[1,"a"],[2,"b"]],"columns":[{"name":"x"},{"type":"int"}]})",
         "cols:s:x|~\nrow:#1|s:a\nrow:#2|s:b\nend:2\nok"},
        {"three result sets in order",
         R"({"spid":1,"batches":[{"statement":1,"results":[{"columns":["a"],"rows":[[1]],)"
         R"("row_count":1,"truncated":false},{"changes":3}]},{"results":[{"rows":[["x"]],)"
         R"("columns":["b"]},{"columns":[{"name":"c","type":"int"}],"rows":[],"truncated":true}]}]})",
         "cols:s:a\nrow:#1\nend:1\ncols:s:b\nrow:s:x\nend:1\ncols:s:c\nend:0,truncated\nok"},
        {"no columns: the first row names them", R"({"rows":[{"k":true,"n":null},{"n":1}]})",
         "cols:s:k|s:n\nrow:b:true|null\nrow:~|#1\nend:2\nok"},
        {"no columns, array rows", R"({"columns":null,"rows":[[1,2],[3]]})",
         "cols:~|~\nrow:#1|#2\nrow:#3\nend:2\nok"},
        {"scalar rows have no cells", R"({"rows":[7,[1]]})", "cols:\nrow:\nrow:#1\nend:2\nok"},
        {"array rows are not cut to the columns",
         R"({"columns":["a",{"title":"b"},7],"rows":[[1,2,3,4]]})",
         "cols:s:a|~|~\nrow:#1|#2|#3|#4\nend:1\nok"},
        {"empty rows", R"({"columns":["a"],"rows":[]})", "cols:s:a\nend:0\nok"},
        {"first rows member wins", R"({"rows":[[1]],"rows":[[2]]})", "cols:~\nrow:#1\nend:1\nok"},
        {"root rows win over batches", R"({"rows":[[0]],"batches":[{"results":[{"rows":[[9]]}]}]})",
         "cols:~\nrow:#0\nend:1\nok"},
        {"root rows that are no array leave batches",
         R"({"rows":null,"batches":[{"results":[{"rows":[[5]]}]}]})", "cols:~\nrow:#5\nend:1\nok"},
        {"a root columns array rules batches out",
         R"({"rows":{},"columns":["a"],"batches":[{"results":[{"rows":[[1]]}]}]})", "no grid"},
        {"batches that gave no set leave the root rows",
         R"({"batches":[{"results":[{"done":1}]}],"columns":["z"],"rows":[[3]]})",
         "cols:s:z\nrow:#3\nend:1\nok"},
        {"skipped batch and result shapes",
         R"({"batches":[7,{"results":{}},{"results":[1,{"rows":{}},{"rows":[[2]]}]}]})",
         "cols:~\nrow:#2\nend:1\nok"},
        {"escaped keys are keys", R"({"r\u006fws":[[1]],"c\u006Flumns":["\u0041"]})",
         "cols:s:A\nrow:#1\nend:1\nok"},
        {"only the first truncated and name count",
         R"({"columns":[{"name":"a","name":"b"}],"rows":[],"truncated":true,"truncated":false})",
         "cols:s:a\nend:0,truncated\nok"},
        {"no grid: results without rows", R"({"spid":1,"batches":[{"results":[{"changes":3}]}]})",
         "no grid"},
        {"no grid: array root", "[[1,2]]", "no grid"},
        {"no grid: empty object", " {} ", "no grid"},
        {"no grid: string root", R"("rows")", "no grid"},
        {"no grid: number root", "42", "no grid"},
        {"no grid: empty reply", " \r\n", "no grid"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        expect_every_chunking(c.reply, c.want);
    }
}

TEST(RowStreamTest, CellsComeAsSent) {
    const Case cases[] = {
        {"number tokens unchanged",
         R"({"columns":["n"],"rows":[[18446744073709551616],[-0],[1E2],[43.0],[1e400],[5e-324],)"
         R"([123456789012345678901234567890],[-1.5e+10],[0],[2E-3]]})",
         "cols:s:n\nrow:#18446744073709551616\nrow:#-0\nrow:#1E2\nrow:#43.0\nrow:#1e400\n"
         "row:#5e-324\nrow:#123456789012345678901234567890\nrow:#-1.5e+10\nrow:#0\nrow:#2E-3\n"
         "end:10\nok"},
        {"invalid UTF-8 passes as bytes", "{\"rows\":[[\"a\xff\xfe\xc3\"]]}",
         "cols:~\nrow:s:a\xff\xfe\xc3\nend:1\nok"},
        {"escapes",
         R"({"rows":[["\"\\\/\b\f\n\r\t","a\u0000b","\u00e9\u20ac\ud83d\ude00","\ud800x\udc00"]]})",
         std::string("cols:~|~|~|~\nrow:s:\"\\/\b\f\n\r\t|s:a") + std::string(1, '\0') +
             "b|s:\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80|s:\xed\xa0\x80x\xed\xb0\x80\nend:1\nok"},
        {"containers as compact JSON text, strings as written",
         "{\"rows\":[[ [1, {\"q\" : \"r\\n\\u0041\", \"e\":[ ]}] , {} , true, false, null ]]}",
         "cols:~|~|~|~|~\nrow:a:[1,{\"q\":\"r\\n\\u0041\",\"e\":[]}]|o:{}|b:true|b:false|null\n"
         "end:1\nok"},
        {"object cells", R"({"columns":["v"],"rows":[{"v":{"a":[null,true,-1.5]}}]})",
         "cols:s:v\nrow:o:{\"a\":[null,true,-1.5]}\nend:1\nok"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        expect_every_chunking(c.reply, c.want);
    }
}

TEST(RowStreamTest, ObjectRowsByName) {
    const Case cases[] = {
        {"a missing key leaves the cell absent",
         R"({"columns":["id","name","email"],"rows":[{"id":1,"name":"a","email":"x@y"},)"
         R"({"name":"b","email":"z@w"}]})",
         "cols:s:id|s:name|s:email\nrow:#1|s:a|s:x@y\nrow:~|s:b|s:z@w\nend:2\nok"},
        {"by name, not position",
         R"({"columns":[{"name":"a"},{"name":"b"}],"rows":[{"b":20,"a":10}]})",
         "cols:s:a|s:b\nrow:#10|#20\nend:1\nok"},
        {"a key naming no column fills by position",
         R"({"columns":["a","x"],"rows":[{"a":1,"b":2}]})", "cols:s:a|s:x\nrow:#1|#2\nend:1\nok"},
        {"names are case-sensitive", R"({"columns":["id"],"rows":[{"ID":5,"id":6}]})",
         "cols:s:id\nrow:#6\nend:1\nok"},
        {"the first member of a name wins", R"({"columns":["a","a"],"rows":[{"a":1,"a":2}]})",
         "cols:s:a|s:a\nrow:#1|#1\nend:1\nok"},
        {"unnamed columns by position",
         R"({"columns":[{"name":5},{"label":"b"}],"rows":[{"x":1,"y":2}]})",
         "cols:~|~\nrow:#1|#2\nend:1\nok"},
        {"the rows before their columns",
         R"({"rows":[{"email":"e","id":1},{"zz":3}],"columns":["id","name","email"]})",
         "cols:s:id|s:name|s:email\nrow:#1|~|s:e\nrow:#3|~|~\nend:2\nok"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        expect_every_chunking(c.reply, c.want);
    }
}

TEST(RowStreamTest, MalformedOrCutRepliesFailAfterTheRowsRead) {
    const Case cases[] = {
        {"cut mid-row", R"({"columns":["a"],"rows":[[1],[2],[3,"x)",
         "cols:s:a\nrow:#1\nrow:#2\nfailed: the reply ends early, after 38 bytes"},
        {"cut before the columns came", R"({"rows":[[1],[2]],"colu)",
         "cols:~\nrow:#1\nrow:#2\nfailed: the reply ends early, after 23 bytes"},
        {"trailing comma", R"({"columns":["a"],"rows":[[1],[2,]]})",
         "cols:s:a\nrow:#1\nfailed: malformed reply at byte 32: a value was expected"},
        {"text after the JSON", R"({"rows":[]} x)",
         "cols:\nend:0\nfailed: malformed reply at byte 12: text after the end of the JSON"},
        {"mismatched bracket", R"({"rows":[[1}]})",
         "failed: malformed reply at byte 11: mismatched bracket"},
        {"bad escape", R"({"rows":[["\x"]]})",
         "failed: malformed reply at byte 12: an unknown escape"},
        {"bad unicode escape", R"({"rows":[["\u12G4"]]})",
         "failed: malformed reply at byte 15: a bad \\u escape"},
        {"control byte in a string", "{\"rows\":[[\"a\tb\"]]}",
         "failed: malformed reply at byte 12: a control byte inside a string"},
        {"leading zero", R"({"rows":[[01]]})",
         "failed: malformed reply at byte 11: ',' or a close was expected"},
        {"bare minus", R"({"rows":[[-]]})",
         "failed: malformed reply at byte 11: a malformed number"},
        {"empty exponent", R"({"rows":[[1e]]})",
         "failed: malformed reply at byte 12: a malformed number"},
        {"bad literal", R"({"rows":[[nul1]]})",
         "failed: malformed reply at byte 13: a value was expected"},
        {"missing colon", R"({"rows" [[1]]})",
         "failed: malformed reply at byte 8: ':' was expected"},
        {"not JSON", "OK", "failed: malformed reply at byte 0: a value was expected"},
        {"cut root number", "-", "failed: the reply ends early, after 1 bytes"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        expect_every_chunking(c.reply, c.want);
    }
}

TEST(RowStreamTest, ACallbackStopsTheStream) {
    const std::string spooled = R"({"rows":[[1],[2],[3]],"columns":["a"]})";
    const std::string streamed = R"({"columns":["a"],"rows":[[1],[2],[3]]})";
    for (const std::string &reply : {spooled, streamed})
        for (size_t chunk : {size_t{0}, size_t{1}, size_t{5}})
            EXPECT_EQ(stream(reply, chunk, 2), "cols:s:a\nrow:#1\nrow:#2\nstopped") << reply;
}

TEST(RowStreamTest, ManyRowsWaitOnDiskForTheirColumns) {
    std::string reply = "{\"rows\":[";
    std::string want;
    for (int i = 0; i < 20000; ++i) {
        std::string n = std::to_string(i * 7);
        reply += (i != 0 ? ",{\"b\":\"" : "{\"b\":\"") + n + "\",\"a\":" + n + "}";
        want += "row:#" + n + "|s:" + n + "\n";
    }
    reply += "],\"columns\":[\"a\",\"b\"]}";
    want = "cols:s:a|s:b\n" + want + "end:20000\nok";
    for (size_t chunk : {size_t{0}, size_t{1}, size_t{4096}}) EXPECT_EQ(stream(reply, chunk), want);
}

// The reader's buffers grow to the largest row, not with the reply: rows
// streamed or waiting on disk for their columns, a large cell included.
// The largest size the reader asked its heap for.
size_t g_largest = 0;
void *largest_realloc(void *p, size_t n) {
    if (n > g_largest) g_largest = n;
    return realloc(p, n);
}

TEST(RowStreamTest, MemoryFollowsTheLargestRowNotTheReply) {
    auto reply = [](int rows, bool columns_first) {
        std::string out =
            columns_first ? R"({"columns":["id","name","v"],"rows":[)" : R"({"rows":[)";
        for (int i = 0; i < rows; ++i)
            out += (i != 0 ? ",[" : "[") + std::to_string(i) + R"(,"name )" + std::to_string(i) +
                   (i == rows / 2 ? R"(",")" + std::string(100000, 'w') + R"("])"
                                  : R"(",{"k":[1,2]}])");
        return out + (columns_first ? "]}" : R"(],"columns":["id","name","v"]})");
    };
    for (bool columns_first : {true, false}) {
        for (int rows : {1000, 100000}) {
            tarn_test::HeapHooks hooks(nullptr, largest_realloc);
            g_largest = 0;
            std::string text = reply(rows, columns_first);
            Transcript t;
            RowStream rs({nullptr, nullptr, nullptr}, &t);
            for (size_t at = 0; at < text.size(); at += 65536)
                ASSERT_EQ(rs.feed(text.data() + at, std::min<size_t>(65536, text.size() - at)),
                          StreamStatus::kOk);
            ASSERT_EQ(rs.finish(), StreamStatus::kOk) << rs.error();
            // The row with the 100 kB cell is the largest: its buffer, at
            // most doubled, and nothing that grows with the number of rows.
            EXPECT_LT(g_largest, 2 * 100000u + 4096) << rows << " rows";
            EXPECT_GT(g_largest, 100000u);
        }
    }
}

TEST(RowStreamTest, ATwentyMegabyteCellComesWhole) {
    std::string text;
    std::string escaped;
    while (text.size() < 20u << 20) {
        text += "abc\"\xc3\xa9\n";
        escaped += "abc\\\"\xc3\xa9\\n";
    }
    const std::string reply = R"({"columns":["big","n"],"rows":[[")" + escaped + R"(",1]]})";
    const std::string want = "cols:s:big|s:n\nrow:s:" + text + "|#1\nend:1\nok";
    for (size_t chunk : {size_t{0}, size_t{1}, size_t{7}, size_t{65536}})
        EXPECT_TRUE(stream(reply, chunk) == want) << "chunks of " << chunk;
}

// A public JSON test suite: what it says must be rejected fails in every
// chunking, and every document it says is valid, read as one cell, comes
// out as the same JSON value yyjson reads.
TEST(RowStreamTest, AgreesWithAJsonTestSuite) {
    namespace fs = std::filesystem;
    ASSERT_TRUE(fs::is_directory(TARN_JSON_TESTDATA)) << "no test data at " << TARN_JSON_TESTDATA;
    int rejected = 0;
    int compared = 0;
    for (const auto &entry : fs::directory_iterator(TARN_JSON_TESTDATA)) {
        std::string name = entry.path().filename().string();
        std::ifstream in(entry.path(), std::ios::binary);
        std::string bytes{std::istreambuf_iterator<char>(in), {}};
        SCOPED_TRACE(name);
        if (name.rfind("n_", 0) == 0) {
            // An empty body is a reply without a grid, as for the grid readers.
            bool blank = bytes.find_first_not_of(" \t\r\n") == std::string::npos;
            for (size_t chunk : {size_t{0}, size_t{1}, size_t{2}, size_t{5}}) {
                std::string got = stream(bytes, chunk);
                EXPECT_TRUE(blank ? got == "no grid" : got.rfind("failed: ", 0) == 0)
                    << "chunks of " << chunk << ": " << got;
            }
            ++rejected;
            continue;
        }
        if (name.rfind("y_", 0) != 0) continue;
        yyjson_doc *want = yyjson_read(bytes.data(), bytes.size(), 0);
        ASSERT_NE(want, nullptr);
        std::string got;
        int kind = -1;
        const RowStreamCallbacks keep_cell = {
            nullptr,
            [](void *u, const StreamCell *cells, size_t n) {
                auto *out = static_cast<std::pair<std::string *, int *> *>(u);
                if (n == 1) {
                    out->first->assign(cells[0].text, cells[0].len);
                    *out->second = cells[0].kind;
                }
                return 0;
            },
            nullptr,
        };
        std::pair<std::string *, int *> out{&got, &kind};
        RowStream rs(keep_cell, &out);
        std::string reply = "{\"rows\":[[" + bytes + "]]}";
        EXPECT_EQ(rs.feed(reply.data(), reply.size()), StreamStatus::kOk) << rs.error();
        EXPECT_EQ(rs.finish(), StreamStatus::kOk) << rs.error();
        yyjson_val *root = yyjson_doc_get_root(want);
        if (kind == TARN_CELL_STRING) {
            EXPECT_TRUE(yyjson_is_str(root));
            EXPECT_EQ(got, std::string(yyjson_get_str(root), yyjson_get_len(root)));
        } else if (kind == TARN_CELL_NULL || kind == TARN_CELL_BOOL) {
            EXPECT_EQ(kind == TARN_CELL_NULL, yyjson_is_null(root));
            EXPECT_EQ(kind == TARN_CELL_BOOL, yyjson_is_bool(root));
        } else {
            yyjson_doc *back = yyjson_read(got.data(), got.size(), 0);
            EXPECT_TRUE(back != nullptr && yyjson_equals(yyjson_doc_get_root(back), root)) << got;
            EXPECT_EQ(kind, yyjson_is_arr(root)   ? TARN_CELL_ARRAY
                            : yyjson_is_obj(root) ? TARN_CELL_OBJECT
                                                  : TARN_CELL_NUMBER);
            yyjson_doc_free(back);
        }
        yyjson_doc_free(want);
        ++compared;
    }
    EXPECT_GT(rejected, 150);
    EXPECT_GT(compared, 80);
}

}  // namespace
