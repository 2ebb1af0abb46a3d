// do_request: URL and header composition, outcome classification and the
// return of every transport buffer.
#include <gtest/gtest.h>

#include <string>

#include "client/state.h"
#include "support/client_test.h"
#include "support/fake_io.h"

namespace {

using tarn_test::ClientTest;
using tarn_test::failure;
using tarn_test::FakeIo;
using tarn_test::Outcome;
using tarn_test::reply;

constexpr const char *kJson = "Content-Type: application/json";

class RequestTest : public ClientTest {
protected:
    int get(const char *query = nullptr) {
        tarn::clear_state(tarn::flat());
        return tarn::do_request(tarn::flat(), tarn::kGet, "/p", query, nullptr);
    }
};

TEST_F(RequestTest, QueryGetsOneQuestionMarkAndThePassword) {
    struct Case {
        const char *query;
        const char *pwd;
        const char *url;
    } cases[] = {
        {nullptr, "", "http://h/p"},
        {"", "", "http://h/p"},
        {"a=1", "", "http://h/p?a=1"},
        {"?a=1", "", "http://h/p?a=1"},
        {"??a", "", "http://h/p??a"},
        {nullptr, "p w&d", "http://h/p?pwd=p%20w%26d"},
        {"", "p w&d", "http://h/p?pwd=p%20w%26d"},
        {"a=1", "p w&d", "http://h/p?a=1&pwd=p%20w%26d"},
        {"?a=1", "p w&d", "http://h/p?a=1&pwd=p%20w%26d"},
        {nullptr, "\xC3\xA9=", "http://h/p?pwd=%C3%A9%3D"},
    };
    for (const auto &c : cases) {
        tarn_client_set_password(c.pwd);
        ASSERT_EQ(get(c.query), 0);
        const auto &call = io_.last();
        EXPECT_EQ(call.url, c.url);
        // The header line carries the password verbatim.
        EXPECT_EQ(call.has_headers, c.pwd[0] != '\0') << c.url;
        if (c.pwd[0] != '\0') {
            EXPECT_EQ(call.headers, std::string("X-Bot-Password: ") + c.pwd);
        }
    }
}

// A query or URL that does not fit whole is refused, never cut.
TEST_F(RequestTest, QueryAndUrlAreNeverCut) {
    const std::string query(3070, 'q');  // "?" makes 3071
    ASSERT_EQ(get(query.c_str()), 0);
    EXPECT_EQ(io_.last().url, "http://h/p?" + query);

    io_.clear_calls();
    tarn_client_set_password("pw");
    EXPECT_EQ(get(query.c_str()), -1);
    EXPECT_STREQ(tarn_client_last_error(), "query string too long");
    tarn_client_set_password(nullptr);
    EXPECT_EQ(get((query + "q").c_str()), -1);
    EXPECT_STREQ(tarn_client_last_error(), "query string too long");

    std::string path = "/" + std::string(5000, 'x');
    EXPECT_EQ(tarn::do_request(tarn::flat(), tarn::kGet, path.c_str(), "a=1", nullptr), -1);
    EXPECT_STREQ(tarn_client_last_error(), "url too long");
    EXPECT_TRUE(io_.calls().empty());
}

TEST_F(RequestTest, HeaderBlockLinesAndOrder) {
    struct Case {
        int32_t method;
        const char *body;
        const char *pwd;
        const char *jwt;
        const char *headers;  // null: no header block at all
    } cases[] = {
        {tarn::kGet, nullptr, "", "", nullptr},
        {tarn::kPost, "{}", "", "", kJson},
        {tarn::kPost, nullptr, "", "", nullptr},
        {tarn::kGet, "{}", "", "", kJson},
        {tarn::kGet, nullptr, "pw", "", "X-Bot-Password: pw"},
        {tarn::kGet, nullptr, "", "tok", "Authorization: Bearer tok"},
        {tarn::kGet, nullptr, "pw", "tok", "X-Bot-Password: pw\nAuthorization: Bearer tok"},
        {tarn::kPost, "{}", "", "tok", "Content-Type: application/json\nAuthorization: Bearer tok"},
        {tarn::kPost, "{}", "pw", "tok",
         "Content-Type: application/json\nX-Bot-Password: pw\nAuthorization: Bearer tok"},
    };
    for (const auto &c : cases) {
        tarn_client_set_password(c.pwd);
        tarn_client_set_jwt(c.jwt);
        ASSERT_EQ(tarn::do_request(tarn::flat(), c.method, "/p", nullptr, c.body), 0);
        const auto &call = io_.last();
        EXPECT_EQ(call.method, c.method == tarn::kGet ? "GET" : "POST");
        EXPECT_EQ(call.has_headers, c.headers != nullptr) << call.headers;
        if (c.headers != nullptr) {
            EXPECT_EQ(call.headers, c.headers);
        }
        // A POST without a body still hands the backend a text.
        if (c.method == tarn::kPost) {
            EXPECT_EQ(call.body, c.body ? c.body : "");
        }
    }
}

// Any token the setter keeps goes out whole beside the other lines.
TEST_F(RequestTest, TokenIsPlacedWhole) {
    const std::string pwd511(511, 'p');
    struct Case {
        const char *body;
        const char *pwd;
        size_t jwt_len;
    } cases[] = {
        {nullptr, "", 1001},   {nullptr, "", 2020},          {"{}", "", 1990},
        {nullptr, "pw", 2002}, {"{}", pwd511.c_str(), 8191}, {nullptr, "", 8191},
    };
    for (const auto &c : cases) {
        std::string jwt(c.jwt_len, 'j');
        tarn_client_set_password(c.pwd);
        tarn_client_set_jwt(jwt.c_str());
        ASSERT_EQ(tarn::do_request(tarn::flat(), tarn::kPost, "/p", nullptr, c.body), 0);
        std::string want;
        if (c.body != nullptr) want = kJson;
        if (c.pwd[0] != '\0')
            want += (want.empty() ? "" : "\n") + std::string("X-Bot-Password: ") + c.pwd;
        want += (want.empty() ? "" : "\n") + ("Authorization: Bearer " + jwt);
        const auto &call = io_.last();
        EXPECT_EQ(call.has_headers, !want.empty()) << c.jwt_len;
        EXPECT_EQ(call.headers, want) << c.jwt_len;
    }
}

TEST_F(RequestTest, StatusClassification) {
    struct Case {
        int32_t status;
        const char *error;  // empty: success
    } cases[] = {
        {200, ""},         {204, ""},         {299, ""},     {199, "HTTP 199"}, {300, "HTTP 300"},
        {404, "HTTP 404"}, {500, "HTTP 500"}, {0, "HTTP 0"}, {-1, "HTTP -1"},
    };
    for (const auto &c : cases) {
        io_.push(reply(c.status, "body"));
        int rc = get();
        bool ok = c.error[0] == '\0';
        EXPECT_EQ(rc, ok ? 0 : -1) << c.status;
        EXPECT_STREQ(tarn_client_last_error(), c.error);
        EXPECT_STREQ(tarn_client_result(), ok ? "body" : "");
    }
}

TEST_F(RequestTest, FailureReplyErrorMember) {
    const std::string long_msg(2000, 'm');
    struct Case {
        const char *body;
        std::string error;
    } cases[] = {
        {R"({"error":"boom"})", "HTTP 500: boom"},
        {R"({"a":1,"error":"second member"})", "HTTP 500: second member"},
        {R"({"error":"caf\u00e9 \"q\""})", "HTTP 500: caf\xC3\xA9 \"q\""},
        {R"({"error":""})", "HTTP 500"},
        {R"({"error":5})", "HTTP 500"},
        {R"({"error":{"message":"x"}})", "HTTP 500"},
        {R"({"error":["x"]})", "HTTP 500"},
        {R"({"error":null})", "HTTP 500"},
        {R"({"error":5,"error":"later"})", "HTTP 500"},
        {R"({"Error":"x"})", "HTTP 500"},
        {R"({"errors":"x"})", "HTTP 500"},
        {R"({"nested":{"error":"x"}})", "HTTP 500"},
        {R"(["error","x"])", "HTTP 500"},
        {R"("error")", "HTTP 500"},
        {"not json", "HTTP 500"},
        {R"({"error":"x")", "HTTP 500"},
        {"", "HTTP 500"},
    };
    for (const auto &c : cases) {
        io_.push(reply(500, c.body));
        EXPECT_EQ(get(), -1);
        EXPECT_EQ(tarn_client_last_error(), c.error) << c.body;
    }

    io_.push(reply(500, R"({"error":")" + long_msg + R"("})"));
    EXPECT_EQ(get(), -1);
    EXPECT_EQ(tarn_client_last_error(), ("HTTP 500: " + long_msg).substr(0, 1023));

    Outcome no_body = reply(502, "");
    no_body.has_body = false;
    io_.push(no_body);
    EXPECT_EQ(get(), -1);
    EXPECT_STREQ(tarn_client_last_error(), "HTTP 502");
}

TEST_F(RequestTest, TransportFailureMessage) {
    const std::string long_msg(2000, 'e');
    struct Case {
        Outcome outcome;
        std::string error;
    } cases[] = {
        {failure("connection refused"), "connection refused"},
        {failure(""), "transport failure"},
        {failure("", false), "transport failure"},
        {failure(long_msg), long_msg.substr(0, 1023)},
    };
    for (auto &c : cases) {
        io_.push(reply(200, "previous"));
        ASSERT_EQ(get(), 0);
        io_.push(c.outcome);
        EXPECT_EQ(get(), -1);
        EXPECT_EQ(tarn_client_last_error(), c.error);
        EXPECT_STREQ(tarn_client_result(), "");
    }
    EXPECT_EQ(io_.outstanding(), 0);
}

TEST_F(RequestTest, EveryHandedOutBufferComesBackOnce) {
    // A body handed out with a transport failure, an error text with a
    // received response: neither is used, both are returned.
    Outcome failed_with_body = failure("down");
    failed_with_body.has_body = true;
    failed_with_body.body = "stray";
    Outcome ok_with_error = reply(200, "fine");
    ok_with_error.has_error = true;
    ok_with_error.error = "ignored";

    io_.push(failed_with_body);
    EXPECT_EQ(get(), -1);
    EXPECT_STREQ(tarn_client_last_error(), "down");
    EXPECT_STREQ(tarn_client_result(), "");
    io_.push(ok_with_error);
    EXPECT_EQ(get(), 0);
    EXPECT_STREQ(tarn_client_last_error(), "");
    EXPECT_STREQ(tarn_client_result(), "fine");
    EXPECT_EQ(io_.handed_out(), 4);
    EXPECT_EQ(io_.returned(), 4);
    EXPECT_EQ(io_.outstanding(), 0);
}

// The same mix through a table without a free slot: the core frees the
// buffers itself, and LeakSanitizer reports any it forgets.
TEST_F(RequestTest, BuffersAreFreedWhenTheTableHasNoFreeSlot) {
    FakeIo bare(false);
    bare.install();
    Outcome failed_with_body = failure("down");
    failed_with_body.has_body = true;
    failed_with_body.body = "stray";
    Outcome ok_with_error = reply(200, "fine");
    ok_with_error.has_error = true;
    ok_with_error.error = "ignored";
    Outcome outcomes[] = {reply(200, "a"),       reply(500, R"({"error":"x"})"),
                          failure("t"),          failure(""),
                          failed_with_body,      ok_with_error,
                          reply(404, "not json")};
    for (auto &o : outcomes) bare.push(o);
    int failures = 0;
    for (size_t i = 0; i < std::size(outcomes); ++i) failures += get() != 0;
    EXPECT_EQ(failures, 5);
    EXPECT_EQ(bare.calls().size(), std::size(outcomes));
    EXPECT_EQ(bare.handed_out(), 9);
    EXPECT_EQ(bare.returned(), 0);  // never through the absent slot
}

int32_t counting_get(void *calls, const char *, const char *, char **, int32_t *, char **) {
    ++*static_cast<int *>(calls);
    return 0;
}

int32_t counting_post(void *calls, const char *, const char *, const char *, char **, int32_t *,
                      char **) {
    ++*static_cast<int *>(calls);
    return 0;
}

TEST_F(RequestTest, TableWithoutGetOrPostSendsNothing) {
    int calls = 0;
    const tarn_client_io tables[] = {
        {&calls, nullptr, counting_post, nullptr, nullptr, nullptr},
        {&calls, counting_get, nullptr, nullptr, nullptr, nullptr},
        {&calls, nullptr, nullptr, nullptr, nullptr, nullptr},
    };
    for (const auto &table : tables) {
        tarn_client_set_io(&table);
        EXPECT_EQ(tarn_client_ping(), -1);
        EXPECT_STREQ(tarn_client_last_error(), "no IO backend installed (call tarn_client_set_io)");
        EXPECT_EQ(tarn_client_save_connection("{}"), -1);
        EXPECT_STREQ(tarn_client_last_error(), "no IO backend installed (call tarn_client_set_io)");
        EXPECT_EQ(tarn::flat()->io, &table);
    }
    EXPECT_EQ(calls, 0);
    io_.install();
}

TEST_F(RequestTest, CredentialsWithControlBytesAreRefused) {
    struct Case {
        const char *pwd;
        const char *jwt;
        const char *error;  // empty: sent
    } cases[] = {
        {"a\nb", "", "password contains a control character"},
        {"a\rX-Evil: 1", "", "password contains a control character"},
        {"\x01", "", "password contains a control character"},
        {"tab\there", "tok", "password contains a control character"},
        {"", "t\nX-Evil: 1", "token contains a control character"},
        {"", "\x1f", "token contains a control character"},
        {"pw", "t\r", "token contains a control character"},
        {"del\x7f", "", "password contains a control character"},
        {"", "t\x7f\xC3\xA9", "token contains a control character"},
        {"sp ace \xC3\xA9", "t~\xC3\xA9", ""},
    };
    for (const auto &c : cases) {
        tarn_client_set_password(nullptr);
        tarn_client_set_jwt(nullptr);
        io_.push(reply(200, R"({"rows":[[1]]})"));
        ASSERT_EQ(tarn_client_ping(), 0);
        io_.clear_calls();
        tarn_client_set_password(c.pwd);
        tarn_client_set_jwt(c.jwt);
        bool refused = c.error[0] != '\0';
        EXPECT_EQ(tarn_client_save_connection("{}"), refused ? -1 : 0) << c.error;
        EXPECT_STREQ(tarn_client_last_error(), c.error);
        EXPECT_EQ(io_.calls().size(), refused ? 0U : 1U) << c.error;
        if (refused) {
            EXPECT_STREQ(tarn_client_result(), "");
            EXPECT_EQ(tarn_client_row_count(), -1);
        }
    }
}

}  // namespace
