// Replies through the default backend and the whole client: the body the
// backend read becomes the result buffer (sized from Content-Length when
// the server gives one), and the text, grid and cells are those of the
// bytes that arrived, whether the text was parsed in place or not.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "client/state.h"
#include "support/test_server.h"
#include "tarn_client.h"

namespace {

using tarn_test::Reply;
using tarn_test::TestServer;

std::string grid_rows(int rows) {
    std::string s = "{\"columns\":[\"id\",\"name\"],\"rows\":[";
    for (int r = 0; r < rows; ++r)
        s += (r ? ",{\"name\":\"n" : "{\"name\":\"n") + std::to_string(r) +
             "\",\"id\":" + std::to_string(r) + "}";
    return s + "]}";
}

std::string unsized(const std::string &body) {
    return "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n" + body;
}

TEST(LargeReply, TextGridAndBufferAreThoseOfTheBytesReceived) {
    const std::string big = grid_rows(150000);  // about 4.6 MB, on huge pages where offered
    const std::string nul("{\"rows\":[[\"x\"]]}\0tail", 21);
    struct Case {
        const char *what;
        std::string raw;   // sent as is when not empty
        std::string body;  // else served with Content-Length
        std::string text;
        int rows;
        std::string last_name;  // cell (rows - 1, 1)
        uint64_t cap;           // 0: not checked
    } cases[] = {
        {"sized", "", big, big, 150000, "n149999", big.size() + 4},
        {"unsized", unsized(big), "", big, 150000, "n149999", 8U << 20},
        {"escapes", "", R"({"rows":[["a\"b","c\\d\u0041"]]})",
         R"({"rows":[["a\"b","c\\d\u0041"]]})", 1, "c\\dA", 0},
        {"nul inside", "", nul, "{\"rows\":[[\"x\"]]}", 1, "", 0},
        {"broken json", "", R"({"rows":[["abc","de)", R"({"rows":[["abc","de)", -1, "", 0},
        {"string root", "", R"("just \"text\"")", R"("just \"text\"")", -1, "", 0},
    };
    TestServer server;
    tarn_client_set_host(server.url().c_str());
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Reply r{200, c.body};
        if (!c.raw.empty()) r.raw = c.raw;
        server.queue(r);
        ASSERT_EQ(tarn_client_ping(), 0) << tarn_client_last_error();
        EXPECT_TRUE(tarn_client_result() == c.text) << strlen(tarn_client_result());
        EXPECT_EQ(tarn_client_row_count(), c.rows);
        if (c.rows > 0) {
            EXPECT_EQ(tarn_client_cell(c.rows - 1, 1), c.last_name);
            EXPECT_TRUE(tarn_client_result() == c.text);  // reading cells changes nothing
        }
        if (c.cap != 0) {
            EXPECT_EQ(tarn::flat()->result_cap, c.cap);
        }
    }
    tarn_client_cleanup();
    tarn_client_set_host(nullptr);
    EXPECT_EQ(tarn::flat()->result, nullptr);
}

}  // namespace
