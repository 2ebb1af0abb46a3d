// Rows through a caller's own transport table, which hands the reply whole:
// the same request as a plain query, the same callbacks as a download.
#include <gtest/gtest.h>

#include <string>

#include "support/client_test.h"
#include "support/fake_io.h"

namespace {

using tarn_test::ClientTest;
using tarn_test::reply;

int count_row(void *u, int, const tarn_cell *, size_t) {
    ++*static_cast<int *>(u);
    return 0;
}

class QueryRows : public ClientTest {};

TEST_F(QueryRows, SendsWhatAPlainQuerySends) {
    ASSERT_EQ(tarn_client_query("s", "d", "select 1", 5, 7, "tok"), 0);
    std::string plain = io_.last().body;
    std::string url = io_.last().url;
    int rows = 0;
    const tarn_row_callbacks cb = {nullptr, count_row, nullptr};
    ASSERT_GE(tarn_client_query_rows("s", "d", "select 1", 5, 7, "tok", &cb, &rows), 0);
    EXPECT_EQ(io_.last().body, plain);
    EXPECT_EQ(io_.last().url, url);
}

TEST_F(QueryRows, ReadsTheWholeReplyOfACallersTable) {
    struct Case {
        const char *reply;
        int rc;
        int rows;
        int code;
        const char *result;  // what the session keeps
    } cases[] = {
        {R"({"columns":["a"],"rows":[[1],[2]]})", 1, 2, TARN_E_NONE, ""},
        {R"({"batches":[{"results":[{"rows":[[1]]},{"rows":[[2]]}]}]})", 2, 2, TARN_E_NONE, ""},
        {R"({"status":"ok"})", 0, 0, TARN_E_NONE, R"({"status":"ok"})"},
        {R"({"rows":[[1],[2)", -1, 1, TARN_E_REPLY, ""},
    };
    const tarn_row_callbacks cb = {nullptr, count_row, nullptr};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.reply);
        io_.push(reply(200, c.reply));
        int rows = 0;
        EXPECT_EQ(tarn_client_query_rows("s", "d", "q", 0, 0, nullptr, &cb, &rows), c.rc);
        EXPECT_EQ(rows, c.rows);
        EXPECT_EQ(tarn_client_error_code(), c.code) << tarn_client_last_error();
        if (c.rc >= 0) {
            EXPECT_STREQ(tarn_client_result(), c.result);
        }
    }
    EXPECT_EQ(io_.outstanding(), 0);
}

TEST_F(QueryRows, RefusesAMissingSqlAndSendsNothing) {
    io_.clear_calls();
    EXPECT_EQ(tarn_client_query_rows("s", "d", "", 0, 0, nullptr, nullptr, nullptr), -1);
    EXPECT_EQ(tarn_client_error_code(), TARN_E_ARGUMENT);
    EXPECT_TRUE(io_.calls().empty());
}

}  // namespace
