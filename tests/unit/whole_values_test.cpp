// Caller values reach the service whole or not at all: long texts inside
// JSON bodies and queries, base URLs that would misplace the path, and
// allocations that fail while a request is built.
#include <gtest/gtest.h>
#include <yyjson.h>

#include <functional>
#include <string>

#include "support/client_test.h"
#include "support/heap_hooks.h"

namespace {

using tarn_test::ClientTest;
using tarn_test::HeapHooks;

using WholeValuesTest = ClientTest;

// Text of n bytes that a cut would change: mixed escapes and two-byte
// UTF-8 characters all the way to its end.
std::string long_text(size_t n) {
    std::string s;
    while (s.size() < n) s += "a\"\\\n\xC3\xA9";
    s.resize(n - n % 6);
    return s + "Z";
}

std::string json_string(const std::string &raw) {
    std::string out;
    for (char ch : raw) {
        if (ch == '"' || ch == '\\') out += '\\';
        out += ch == '\n' ? std::string("\\n") : std::string(1, ch);
    }
    return out;
}

TEST_F(WholeValuesTest, LongTextMembersAreEscapedWhole) {
    const std::string id = long_text(1100);
    const std::string server = long_text(5000);
    const std::string esc_id = json_string(id);
    const std::string esc_server = json_string(server);
    struct Case {
        const char *what;
        std::function<int()> op;
        std::string url;
        std::string body;
    };
    const Case cases[] = {
        {"delete", [&] { return tarn_client_delete_connection(id.c_str()); },
         "http://h/connections?action=delete", R"({"id":")" + esc_id + R"("})"},
        {"query members",
         [&] { return tarn_client_query(server.c_str(), id.c_str(), "q", 0, 0, id.c_str()); },
         "http://h/query",
         R"({"server":")" + esc_server + R"(","db":")" + esc_id + R"(","sql":"q","query_token":")" +
             esc_id + R"("})"},
        {"cancel", [&] { return tarn_client_cancel(server.c_str(), id.c_str()); },
         "http://h/query?action=cancel",
         R"({"server":")" + esc_server + R"(","query_token":")" + esc_id + R"("})"},
        {"cancel_spid", [&] { return tarn_client_cancel_spid(server.c_str(), 9); },
         "http://h/query?action=cancel", R"({"server":")" + esc_server + R"(","spid":9})"},
        {"kill", [&] { return tarn_client_activity_kill(server.c_str(), 9); },
         "http://h/activity?action=kill", R"({"server":")" + esc_server + R"(","spid":9})"},
        {"job", [&] { return tarn_client_job_control(server.c_str(), id.c_str(), "stop"); },
         "http://h/agent?action=stop",
         R"({"server":")" + esc_server + R"(","job_id":")" + esc_id + R"("})"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        expect_request(c.op, "POST", c.url, c.body);
        yyjson_doc *doc = yyjson_read(io_.last().body.data(), io_.last().body.size(), 0);
        EXPECT_NE(doc, nullptr) << "not valid JSON";
        yyjson_doc_free(doc);
    }
}

// "?" and 3070 characters is the longest query; past it nothing is sent,
// where a cut would drop a later parameter or shorten the password.
TEST_F(WholeValuesTest, QueryPastItsBoundSendsNothing) {
    const std::string fits(3071 - 15, 's');  // "?server=" + fits + "&node=k"
    const std::string over = fits + "s";
    const std::string far(3100, 's');
    struct Case {
        const char *what;
        std::function<int()> op;
        const char *pwd;
        std::string url;  // empty: refused
    };
    const Case cases[] = {
        {"tree at the bound",
         [&] { return tarn_client_tree(fits.c_str(), "k", nullptr, nullptr, nullptr); }, "",
         "http://h/tree?server=" + fits + "&node=k"},
        {"tree one over: node would vanish",
         [&] { return tarn_client_tree(over.c_str(), "k", nullptr, nullptr, nullptr); }, "", ""},
        {"password would be cut",
         [&] {
             return tarn_client_tree(std::string(3050, 's').c_str(), "k", nullptr, nullptr,
                                     nullptr);
         },
         "secret", ""},
        {"long action", [&] { return tarn_client_storage_post(far.c_str(), "{}"); }, "", ""},
        {"escapes count three each",
         [&] {
             return tarn_client_script(nullptr, std::string(1100, '&').c_str(), nullptr, nullptr,
                                       nullptr, nullptr);
         },
         "", ""},
        {"editgrid",
         [&] { return tarn_client_editgrid_load(far.c_str(), nullptr, nullptr, "t", 0); }, "", ""},
        {"admin", [&] { return tarn_client_admin(far.c_str(), "jobs", nullptr, nullptr); }, "", ""},
        {"activity", [&] { return tarn_client_activity(far.c_str(), nullptr); }, "", ""},
        {"storage", [&] { return tarn_client_storage(far.c_str(), nullptr, nullptr); }, "", ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        tarn_client_set_password(c.pwd);
        if (c.url.empty()) {
            expect_rejected(c.op, "query string too long");
        } else {
            expect_request(c.op, "GET", c.url);
        }
    }
}

TEST_F(WholeValuesTest, BaseUrlWithQueryOrFragmentSendsNothing) {
    tarn_client_set_password("pw");
    for (const char *host : {"http://h/?a=1", "http://h#top", "http://h/base?", "http://h/#"}) {
        SCOPED_TRACE(host);
        tarn_client_set_host(host);
        EXPECT_EQ(tarn_client_ping(), -1);
        EXPECT_STREQ(tarn_client_last_error(), "invalid base url");
        EXPECT_EQ(tarn_client_save_connection("{}"), -1);
        EXPECT_STREQ(tarn_client_last_error(), "invalid base url");
    }
    EXPECT_TRUE(io_.calls().empty());
}

// Every allocation failing: an operation that must build its body sends
// nothing; one that needs no allocation goes out whole.
TEST_F(WholeValuesTest, AllocationFailureSendsNothing) {
    const std::function<int()> body_ops[] = {
        [] { return tarn_client_delete_connection("7"); },
        [] { return tarn_client_query("s", "d", "select 1", 5, 0, "t"); },
        [] { return tarn_client_cancel("s", "t"); },
        [] { return tarn_client_cancel_spid("s", 3); },
        [] { return tarn_client_activity_kill("s", 3); },
        [] { return tarn_client_job_control("s", "J", nullptr); },
    };
    for (const auto &op : body_ops) {
        HeapHooks failing(tarn_test::refuse_malloc);
        expect_rejected(op, "out of memory");
    }
    HeapHooks failing(tarn_test::refuse_malloc);
    expect_request([] { return tarn_client_editgrid_load(nullptr, nullptr, nullptr, "orders", 0); },
                   "GET", "http://h/editgrid?action=load&table=orders");
}

}  // namespace
