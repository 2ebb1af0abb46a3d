// Rows as the reply arrives, against the platform's built-in backend:
// libcurl natively, WinHTTP under Wine. Each case is a reply served byte
// for byte and the callbacks it must produce, written as a transcript.
#include <gtest/gtest.h>

#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "support/raw_server.h"
#include "tarn_client.h"

namespace {

struct StreamCase {
    const char *name;
    std::string head;  // status line and headers, without the blank line
    std::string body;  // before the repeated unit
    std::string unit;
    size_t count = 0;
    std::string tail;
    bool declare_length = true;  // Content-Length of the bytes sent
    int stop_at_row = 0;         // the row callback stops at this row (from 1)
    // What the callbacks see: "C<set>" names, "R<set>" cells, "E<set>:rows:cut".
    std::string transcript;
    int rc;             // sets, or -1
    int code;           // TARN_E_*
    const char *error;  // substring of the error text
    std::string reply;  // tarn_session_result afterwards
};

// gtest names a case by its name, not its bytes.
void PrintTo(const StreamCase &c, std::ostream *os) {
    *os << c.name;
}

const std::string kOk = "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\n";

std::vector<StreamCase> cases() {
    std::string tokens = "123456789012345678901234567890,-0,1E2,43.0,1e400,5e-324";
    std::vector<StreamCase> v = {
        {"top_level_grid", kOk, R"({"columns":["id","name"],"rows":[[1,"a"],[2,null,true]]})", "",
         0, "", true, 0, "C0 Sid,Sname|R0 N1,Sa|R0 N2,Z,Btrue|E0:2:0|", 1, TARN_E_NONE, "", ""},
        {"columns_after_rows", kOk,
         R"({"rows":[{"id":1,"name":"a"},{"name":"b"}],"columns":["id","name"]})", "", 0, "", true,
         0, "C0 Sid,Sname|R0 N1,Sa|R0 A,Sb|E0:2:0|", 1, TARN_E_NONE, "", ""},
        {"three_sets", kOk,
         R"({"batches":[{"results":[{"columns":["a"],"rows":[[1]]},)"
         R"({"columns":["b"],"rows":[[2],[3]],"truncated":true}]},)"
         R"({"results":[{"columns":["c"],"rows":[]}]}]})",
         "", 0, "", true, 0, "C0 Sa|R0 N1|E0:1:0|C1 Sb|R1 N2|R1 N3|E1:2:1|C2 Sc|E2:0:0|", 3,
         TARN_E_NONE, "", ""},
        {"no_grid", kOk, R"({"ok":true,"message":"done"})", "", 0, "", true, 0, "", 0, TARN_E_NONE,
         "", R"({"ok":true,"message":"done"})"},
        {"number_tokens", kOk, R"({"columns":["n"],"rows":[[)", "", 0, "]]}", true, 0,
         "C0 Sn|R0 N123456789012345678901234567890,N-0,N1E2,N43.0,N1e400,N5e-324|E0:1:0|", 1,
         TARN_E_NONE, "", ""},
        {"invalid_utf8_kept", kOk, "{\"columns\":[\"s\"],\"rows\":[[\"a\xff\xfe\"]]}", "", 0, "",
         true, 0, "C0 Ss|R0 Sa\xff\xfe|E0:1:0|", 1, TARN_E_NONE, "", ""},
        {"twenty_mb_cell", kOk, R"({"columns":["blob"],"rows":[[")", std::string(1024, 'x'),
         20 * 1024, R"("]]})", true, 0, "C0 Sblob|R0 Sx*20971520|E0:1:0|", 1, TARN_E_NONE, "", ""},
        // The connection ends the body: the reader finds it cut.
        {"cut_mid_row_at_close", "HTTP/1.1 200 OK\r\nConnection: close\r\n",
         R"({"columns":["a"],"rows":[[1],[2],[3)", "", 0, "", false, 0, "C0 Sa|R0 N1|R0 N2|", -1,
         TARN_E_REPLY, "ends early", ""},
        // Fewer bytes than declared: the transfer fails after the rows read.
        {"cut_mid_row_short_of_length", kOk, R"({"columns":["a"],"rows":[[1],[2],[3)", "", 0, "",
         false, 0, "C0 Sa|R0 N1|R0 N2|", -1, TARN_E_TRANSPORT, "WinHttpReadData failed", ""},
        {"http_error", "HTTP/1.1 500 Oops\r\n", R"({"error":"boom","rows":[[1]]})", "", 0, "", true,
         0, "", -1, TARN_E_HTTP, "HTTP 500: boom", ""},
        {"stopped_by_callback", kOk, R"({"columns":["a"],"rows":[[1],[2],[3]]})", "", 0, "", true,
         2, "C0 Sa|R0 N1|R0 N2|", -1, TARN_E_STOPPED, "stopped", ""},
    };
    v[4].body += tokens;
    // Declared longer than sent, so the client waits for bytes that never come.
    v[8].head += "Content-Length: 4096\r\n";
    return v;
}

struct Transcript {
    std::string text;
    int rows = 0;
    int stop_at_row = 0;
};

void add_cells(std::string *out, const tarn_cell *cells, size_t n) {
    static const char kKind[] = "AZBNS[{";
    for (size_t i = 0; i < n; ++i) {
        if (i != 0) *out += ',';
        *out += kKind[cells[i].kind];
        std::string text(cells[i].text, cells[i].len);
        EXPECT_EQ(cells[i].text[cells[i].len], '\0');
        if (text.size() > 4096 && text.find_first_not_of(text[0]) == std::string::npos)
            text = std::string(1, text[0]) + "*" + std::to_string(text.size());
        *out += text;
    }
}

int on_columns(void *u, int set, const tarn_cell *names, size_t n) {
    auto *t = static_cast<Transcript *>(u);
    t->text += "C" + std::to_string(set) + " ";
    add_cells(&t->text, names, n);
    t->text += "|";
    return 0;
}

int on_row(void *u, int set, const tarn_cell *cells, size_t n) {
    auto *t = static_cast<Transcript *>(u);
    t->text += "R" + std::to_string(set) + " ";
    add_cells(&t->text, cells, n);
    t->text += "|";
    return ++t->rows == t->stop_at_row ? 1 : 0;
}

int on_set_end(void *u, int set, uint64_t rows, int truncated) {
    auto *t = static_cast<Transcript *>(u);
    t->text += "E" + std::to_string(set) + ":" + std::to_string(rows) + ":" +
               std::to_string(truncated) + "|";
    return 0;
}

class StreamRows : public ::testing::TestWithParam<StreamCase> {};

TEST_P(StreamRows, DeliverTheirRowsAsTheReplyArrives) {
    const StreamCase &c = GetParam();
    std::string head = c.head;
    if (c.declare_length)
        head += "Content-Length: " +
                std::to_string(c.body.size() + c.unit.size() * c.count + c.tail.size()) + "\r\n";
    head += "\r\n" + c.body;
    tarn_test::RawServer server([&](const tarn_test::RawRequest &) {
        return tarn_test::RawReply{head, c.unit, c.count, c.tail, tarn_test::RawEnd::kClose};
    });
    tarn_session *s = tarn_session_new();
    ASSERT_NE(s, nullptr);
    tarn_session_set_host(s, server.url().c_str());
    tarn_session_set_max_time(s, 60);
    Transcript t;
    t.stop_at_row = c.stop_at_row;
    const tarn_row_callbacks cb = {on_columns, on_row, on_set_end};
    int rc = tarn_session_query_rows(s, "srv", "db", "select", 0, 0, nullptr, &cb, &t);
    EXPECT_EQ(rc, c.rc) << tarn_session_last_error(s);
    EXPECT_EQ(t.text, c.transcript);
    EXPECT_EQ(tarn_session_error_code(s), c.code);
    EXPECT_NE(strstr(tarn_session_last_error(s), c.error), nullptr) << tarn_session_last_error(s);
    if (c.rc >= 0) {
        EXPECT_EQ(tarn_session_result(s), c.reply);
    }
    // Whatever the stream did, the grid readers see none and the next
    // operation starts clean.
    EXPECT_EQ(tarn_session_row_count(s), -1);
    tarn_session_free(s);
}

INSTANTIATE_TEST_SUITE_P(Cases, StreamRows, ::testing::ValuesIn(cases()),
                         [](const auto &info) { return std::string(info.param.name); });

}  // namespace

namespace {

struct Aborting {
    tarn_session *s;
    int rows = 0;
};

int abort_at_first_row(void *u, int, const tarn_cell *, size_t) {
    auto *a = static_cast<Aborting *>(u);
    if (++a->rows == 1) tarn_session_abort(a->s);
    return 0;
}

// A reply that sends some rows and then nothing: an abort from a row
// callback ends the wait, and no row arrives after it returned.
TEST(StreamRowsAbort, AnAbortFromACallbackEndsTheDownload) {
    std::string rows;
    for (int i = 0; i < 50; ++i)
        rows += std::string(i == 0 ? "" : ",") + "[" + std::to_string(i) + "]";
    std::string head =
        kOk + "Content-Length: 100000000\r\n\r\n{\"columns\":[\"a\"],\"rows\":[" + rows;
    tarn_test::RawServer server([&](const tarn_test::RawRequest &) {
        return tarn_test::RawReply{head, "", 0, "", tarn_test::RawEnd::kSilent};
    });
    tarn_session *s = tarn_session_new();
    ASSERT_NE(s, nullptr);
    tarn_session_set_host(s, server.url().c_str());
    tarn_session_set_max_time(s, 30);
    Aborting a{s};
    const tarn_row_callbacks cb = {nullptr, abort_at_first_row, nullptr};
    EXPECT_EQ(tarn_session_query_rows(s, "srv", "db", "select", 0, 0, nullptr, &cb, &a), -1);
    EXPECT_EQ(tarn_session_error_code(s), TARN_E_ABORTED) << tarn_session_last_error(s);
    int seen = a.rows;
    EXPECT_GE(seen, 1);
    EXPECT_LE(seen, 50);
    tarn_session_free(s);
    EXPECT_EQ(a.rows, seen);
}

}  // namespace
