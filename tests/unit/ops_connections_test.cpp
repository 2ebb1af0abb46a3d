// Connection, tree, query and cancel operations: the exact request each
// one sends and the arguments each one refuses.
#include <gtest/gtest.h>
#include <yyjson.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "client/state.h"
#include "support/client_test.h"
#include "support/fake_io.h"

namespace {

using tarn_test::ClientTest;
using tarn_test::FakeIo;
using tarn_test::reply;

constexpr const char *kGrid = R"({"rows":[[1]]})";

using ConnectionOpsTest = ClientTest;

struct RequestCase {
    const char *what;
    std::function<int()> op;
    const char *method;
    std::string url;
    std::string body;
};

TEST_F(ConnectionOpsTest, ExactRequests) {
    const std::string sql = "select 1";
    const RequestCase cases[] = {
        {"ping", [] { return tarn_client_ping(); }, "GET", "http://h/ping", ""},
        {"list", [] { return tarn_client_list_connections(); }, "GET",
         "http://h/connections?action=list", ""},
        {"save", [] { return tarn_client_save_connection(R"({"name":"x"})"); }, "POST",
         "http://h/connections?action=save", R"({"name":"x"})"},
        {"save passes bytes through",
         [] { return tarn_client_save_connection("not json \x01\t\xC3\xA9 \""); }, "POST",
         "http://h/connections?action=save", "not json \x01\t\xC3\xA9 \""},
        {"test", [] { return tarn_client_test_connection(R"({"name":"y"})"); }, "POST",
         "http://h/connections?action=test", R"({"name":"y"})"},
        {"delete", [] { return tarn_client_delete_connection("42"); }, "POST",
         "http://h/connections?action=delete", R"({"id":"42"})"},
        {"delete escapes", [] { return tarn_client_delete_connection("a\"b\\c\n"); }, "POST",
         "http://h/connections?action=delete", R"({"id":"a\"b\\c\n"})"},
        {"tree, node only",
         [] { return tarn_client_tree(nullptr, "k", nullptr, nullptr, nullptr); }, "GET",
         "http://h/tree?node=k", ""},
        {"tree, empty strings", [] { return tarn_client_tree("", "k", "", "", ""); }, "GET",
         "http://h/tree?node=k", ""},
        {"tree, all", [] { return tarn_client_tree("s", "k", "d", "sc", "o"); }, "GET",
         "http://h/tree?server=s&node=k&db=d&schema=sc&obj=o", ""},
        {"tree, no db", [] { return tarn_client_tree("s", "k", "", "sc", nullptr); }, "GET",
         "http://h/tree?server=s&node=k&schema=sc", ""},
        {"tree, encoded",
         [] { return tarn_client_tree("HOST\\INST", "tables", "my db", "dbo", "a&b=c"); }, "GET",
         "http://h/tree?server=HOST%5CINST&node=tables&db=my%20db&schema=dbo&obj=a%26b%3Dc", ""},
        {"query, minimal",
         [] { return tarn_client_query(nullptr, nullptr, "select 1", 0, 0, nullptr); }, "POST",
         "http://h/query", R"({"server":"","db":"","sql":"select 1"})"},
        {"query, empty strings", [] { return tarn_client_query("", "", "select 1", 0, 0, ""); },
         "POST", "http://h/query", R"({"server":"","db":"","sql":"select 1"})"},
        {"query, all", [] { return tarn_client_query("s", "d", "select 1", 10, 30, "tok"); },
         "POST", "http://h/query",
         R"({"server":"s","db":"d","sql":"select 1","max_rows":10,"timeout_s":30,"query_token":"tok"})"},
        {"query, zero and negative",
         [] { return tarn_client_query("s", "d", "select 1", 0, -5, nullptr); }, "POST",
         "http://h/query", R"({"server":"s","db":"d","sql":"select 1"})"},
        {"query, timeout only", [] { return tarn_client_query("s", "d", "q", -1, 7, nullptr); },
         "POST", "http://h/query", R"({"server":"s","db":"d","sql":"q","timeout_s":7})"},
        {"query, rows and token", [] { return tarn_client_query("s", "d", "q", 5, 0, "t\"1"); },
         "POST", "http://h/query",
         R"({"server":"s","db":"d","sql":"q","max_rows":5,"query_token":"t\"1"})"},
        {"query, one char", [] { return tarn_client_query(nullptr, nullptr, "x", 0, 0, nullptr); },
         "POST", "http://h/query", R"({"server":"","db":"","sql":"x"})"},
        {"query, only quotes",
         [] { return tarn_client_query(nullptr, nullptr, "\"\"\"", 0, 0, nullptr); }, "POST",
         "http://h/query", R"({"server":"","db":"","sql":"\"\"\""})"},
        {"query, control bytes",
         [] { return tarn_client_query("a\\b", nullptr, "a\tb\nc\rd\x01", 0, 0, nullptr); }, "POST",
         "http://h/query", R"({"server":"a\\b","db":"","sql":"a\tb\nc\rd\u0001"})"},
        {"cancel", [] { return tarn_client_cancel("s", "tok"); }, "POST",
         "http://h/query?action=cancel", R"({"server":"s","query_token":"tok"})"},
        {"cancel, no server", [] { return tarn_client_cancel(nullptr, "t\n"); }, "POST",
         "http://h/query?action=cancel", R"({"server":"","query_token":"t\n"})"},
        {"cancel_spid", [] { return tarn_client_cancel_spid("s\"", 57); }, "POST",
         "http://h/query?action=cancel", R"({"server":"s\"","spid":57})"},
        {"cancel_spid, no server", [] { return tarn_client_cancel_spid("", 2147483647); }, "POST",
         "http://h/query?action=cancel", R"({"server":"","spid":2147483647})"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        expect_request(c.op, c.method, c.url, c.body);
    }
}

TEST_F(ConnectionOpsTest, PasswordJoinsTheOperationsQuery) {
    tarn_client_set_password("p&w");
    const RequestCase cases[] = {
        {"ping", [] { return tarn_client_ping(); }, "GET", "http://h/ping?pwd=p%26w", ""},
        {"list", [] { return tarn_client_list_connections(); }, "GET",
         "http://h/connections?action=list&pwd=p%26w", ""},
        {"tree", [] { return tarn_client_tree(nullptr, "k", nullptr, nullptr, nullptr); }, "GET",
         "http://h/tree?node=k&pwd=p%26w", ""},
        {"query", [] { return tarn_client_query(nullptr, nullptr, "q", 0, 0, nullptr); }, "POST",
         "http://h/query?pwd=p%26w", R"({"server":"","db":"","sql":"q"})"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        io_.push(reply(200, kGrid));
        ASSERT_EQ(c.op(), 0);
        EXPECT_EQ(io_.last().url, c.url);
        EXPECT_EQ(io_.last().headers, std::string(c.method[0] == 'P' ? "Content-Type: "
                                                                       "application/json\n"
                                                                     : "") +
                                          "X-Bot-Password: p&w");
    }
}

struct RejectCase {
    const char *what;
    std::function<int()> op;
    const char *error;
};

TEST_F(ConnectionOpsTest, RejectedArgumentsSendNothingAndLeaveNoResult) {
    const RejectCase cases[] = {
        {"save null", [] { return tarn_client_save_connection(nullptr); },
         "profile_json is required"},
        {"save empty", [] { return tarn_client_save_connection(""); }, "profile_json is required"},
        {"test null", [] { return tarn_client_test_connection(nullptr); },
         "profile_json is required"},
        {"test empty", [] { return tarn_client_test_connection(""); }, "profile_json is required"},
        {"delete null", [] { return tarn_client_delete_connection(nullptr); }, "id is required"},
        {"delete empty", [] { return tarn_client_delete_connection(""); }, "id is required"},
        {"tree null", [] { return tarn_client_tree("s", nullptr, "d", "sc", "o"); },
         "node_kind is required"},
        {"tree empty", [] { return tarn_client_tree("s", "", "d", "sc", "o"); },
         "node_kind is required"},
        {"query null", [] { return tarn_client_query("s", "d", nullptr, 5, 5, "t"); },
         "sql is required"},
        {"query empty", [] { return tarn_client_query("s", "d", "", 5, 5, "t"); },
         "sql is required"},
        {"cancel null", [] { return tarn_client_cancel("s", nullptr); }, "query_token is required"},
        {"cancel empty", [] { return tarn_client_cancel("s", ""); }, "query_token is required"},
        {"spid 0", [] { return tarn_client_cancel_spid("s", 0); }, "spid must be > 0"},
        {"spid -1", [] { return tarn_client_cancel_spid("s", -1); }, "spid must be > 0"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        expect_rejected(c.op, c.error);
    }
}

TEST_F(ConnectionOpsTest, MegabyteQueryArrivesWhole) {
    std::string sql;
    while (sql.size() < 1000000) sql += "select \"c\\x\"\n\tfrom t -- \xC3\xA9\x01\r\n";
    io_.push(reply(200, kGrid));
    ASSERT_EQ(tarn_client_query("srv", "db", sql.c_str(), 100, 60, "tok"), 0);
    const std::string &body = io_.last().body;
    yyjson_doc *doc = yyjson_read(body.data(), body.size(), 0);
    ASSERT_NE(doc, nullptr) << "body is not JSON";
    yyjson_val *root = yyjson_doc_get_root(doc);

    const char *want_keys[] = {"server", "db", "sql", "max_rows", "timeout_s", "query_token"};
    ASSERT_EQ(yyjson_obj_size(root), std::size(want_keys));
    size_t i = 0;
    size_t max = 0;
    yyjson_val *key = nullptr;
    yyjson_val *val = nullptr;
    yyjson_obj_foreach(root, i, max, key, val) {
        EXPECT_STREQ(yyjson_get_str(key), want_keys[i]);
    }
    yyjson_val *got = yyjson_obj_get(root, "sql");
    EXPECT_EQ(std::string(yyjson_get_str(got), yyjson_get_len(got)), sql);
    EXPECT_STREQ(yyjson_get_str(yyjson_obj_get(root, "server")), "srv");
    EXPECT_EQ(yyjson_get_int(yyjson_obj_get(root, "max_rows")), 100);
    EXPECT_EQ(yyjson_get_int(yyjson_obj_get(root, "timeout_s")), 60);
    EXPECT_STREQ(yyjson_get_str(yyjson_obj_get(root, "query_token")), "tok");
    yyjson_doc_free(doc);
}

TEST_F(ConnectionOpsTest, ServiceFailuresPassThrough) {
    const std::function<int()> ops[] = {
        [] { return tarn_client_ping(); },
        [] { return tarn_client_list_connections(); },
        [] { return tarn_client_save_connection("{}"); },
        [] { return tarn_client_delete_connection("1"); },
        [] { return tarn_client_test_connection("{}"); },
        [] { return tarn_client_tree(nullptr, "k", nullptr, nullptr, nullptr); },
        [] { return tarn_client_query(nullptr, nullptr, "q", 0, 0, nullptr); },
        [] { return tarn_client_cancel(nullptr, "t"); },
        [] { return tarn_client_cancel_spid(nullptr, 1); },
    };
    for (const auto &op : ops) expect_outcomes_pass_through(op, "unreachable");
    EXPECT_EQ(io_.calls().size(), 3 * std::size(ops));
}

}  // namespace
