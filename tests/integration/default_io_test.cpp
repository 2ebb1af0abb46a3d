// tarn_client_default_io: the table a request installs when none is set,
// and one a caller's own table can wrap (log, count, retry) and call on.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "client/state.h"
#include "support/test_server.h"
#include "tarn_client.h"

namespace {

using tarn_test::Reply;
using tarn_test::TestServer;

const tarn_client_io *inner;
std::string seen;  // "GET /path", "POST /path", "free" in call order

int32_t counting_get(void *, const char *url, const char *headers, char **out_body,
                     int32_t *out_status, char **out_error) {
    seen += std::string("GET ") + url + "\n";
    return inner->get(inner->user_data, url, headers, out_body, out_status, out_error);
}

int32_t counting_post(void *, const char *url, const char *body, const char *headers,
                      char **out_body, int32_t *out_status, char **out_error) {
    seen += std::string("POST ") + url + "\n";
    return inner->post(inner->user_data, url, body, headers, out_body, out_status, out_error);
}

void counting_free(void *, void *buf) {
    seen += "free\n";
    inner->free_buf(inner->user_data, buf);
}

TEST(DefaultIo, IsWhatARequestInstallsAndWrapsLikeAnyTable) {
    inner = tarn_client_default_io();
    ASSERT_NE(inner, nullptr);
    ASSERT_EQ(tarn_client_default_io(), inner);
    for (auto slot :
         {reinterpret_cast<const void *>(inner->get), reinterpret_cast<const void *>(inner->post),
          reinterpret_cast<const void *>(inner->put), reinterpret_cast<const void *>(inner->del),
          reinterpret_cast<const void *>(inner->free_buf)})
        EXPECT_NE(slot, nullptr);

    TestServer server;
    server.route("/ping", Reply{200, R"({"ok":true})"});
    server.route("/query", Reply{200, R"({"columns":["n"],"rows":[[7]]})"});
    tarn_client_set_host(server.url().c_str());
    tarn_client_set_io(nullptr);
    ASSERT_EQ(tarn_client_ping(), 0) << tarn_client_last_error();
    // No table is installed: the session runs its own, the one wrapped below.
    EXPECT_EQ(tarn::flat()->io, nullptr);

    tarn_client_io wrapper{nullptr, counting_get, counting_post, nullptr, nullptr, counting_free};
    tarn_client_set_io(&wrapper);
    seen.clear();
    ASSERT_EQ(tarn_client_ping(), 0) << tarn_client_last_error();
    ASSERT_EQ(tarn_client_query("s", "d", "select 7", 0, 0, nullptr), 0)
        << tarn_client_last_error();
    EXPECT_STREQ(tarn_client_cell(0, 0), "7");
    EXPECT_EQ(seen, "GET " + server.url() + "/ping\nfree\nPOST " + server.url() + "/query\nfree\n");
    EXPECT_EQ(server.count(), 3u);
    tarn_client_cleanup();
    tarn_client_set_host(nullptr);
}

}  // namespace
