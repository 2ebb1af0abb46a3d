// Lifecycle, setters and the result buffer, seen through the recording
// transport.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "client/state.h"
#include "support/client_test.h"
#include "support/fake_io.h"
#include "support/heap_hooks.h"
#include "transport/backend.h"

namespace {

using tarn_test::ClientTest;
using tarn_test::FakeIo;
using tarn_test::reply;

class StateTest : public ClientTest {
protected:
    std::string ping_url() {
        EXPECT_EQ(tarn_client_ping(), 0) << tarn_client_last_error();
        return io_.last().url;
    }
};

// Forgets the result buffer, as at process start.
void forget_result_buffer() {
    free(tarn::flat()->result);
    tarn::flat()->result = nullptr;
    tarn::flat()->result_cap = 0;
}

using tarn_test::refuse_realloc;

TEST_F(StateTest, HostIsStoredWithoutTrailingSlashes) {
    struct Case {
        const char *host;
        const char *url;
    } cases[] = {
        {"http://h/", "http://h/ping"},
        {"http://h//", "http://h/ping"},
        {"http://h/base/", "http://h/base/ping"},
        {"http://h/a/b", "http://h/a/b/ping"},
        {"/", "/ping"},
        {"///", "/ping"},
        {nullptr, "http://127.0.0.1:8180/ping"},
        {"", "http://127.0.0.1:8180/ping"},
    };
    for (const auto &c : cases) {
        tarn_client_set_host("http://other");
        tarn_client_set_host(c.host);
        EXPECT_EQ(ping_url(), c.url) << (c.host ? c.host : "(null)");
    }
}

// A setting that fits goes out whole; one that its setter had to cut sends
// nothing, whichever operation runs, until it is set again.
TEST_F(StateTest, OverLongSettingsSendNothing) {
    const std::string host511 = "http://" + std::string(504, 'a');
    const std::string pwd511(511, 'p');
    std::string jwt8191(8191, 't');
    jwt8191[8190] = 'L';
    struct Case {
        const char *what;
        std::string host, pwd, jwt;
        const char *error;  // empty: sent
    } cases[] = {
        {"host of 511", host511, "", "", ""},
        {"host of 511 and slashes", host511 + "///", "", "", ""},
        {"host of 512", host511 + "b", "", "", "base url too long"},
        {"host of 512 and slashes", host511 + "b//", "", "", "base url too long"},
        {"password of 511", "http://h", pwd511, "", ""},
        {"password of 512", "http://h", pwd511 + "p", "", "password too long"},
        {"token of 8191", "http://h", "", jwt8191, ""},
        {"token of 8192", "http://h", "", jwt8191 + "x", "token too long"},
        {"all three at their limit", host511, pwd511, jwt8191, ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        tarn_client_set_host(c.host.c_str());
        tarn_client_set_password(c.pwd.c_str());
        tarn_client_set_jwt(c.jwt.c_str());
        io_.clear_calls();
        bool refused = c.error[0] != '\0';
        for (const auto &op : {+[] { return tarn_client_ping(); },
                               +[] { return tarn_client_save_connection("{}"); }}) {
            EXPECT_EQ(op(), refused ? -1 : 0);
            EXPECT_STREQ(tarn_client_last_error(), c.error);
        }
        ASSERT_EQ(io_.calls().size(), refused ? 0U : 2U);
        if (refused) continue;
        const auto &call = io_.last();
        std::string host = c.host.substr(0, c.host.find_last_not_of('/') + 1);
        EXPECT_EQ(call.url,
                  host + "/connections?action=save" + (c.pwd.empty() ? "" : "&pwd=" + c.pwd));
        std::string headers = "Content-Type: application/json";
        if (!c.pwd.empty()) headers += "\nX-Bot-Password: " + c.pwd;
        if (!c.jwt.empty()) headers += "\nAuthorization: Bearer " + c.jwt;
        EXPECT_EQ(call.headers, headers);
    }
}

TEST_F(StateTest, PasswordAndTokenAreClearedByNullOrEmpty) {
    for (const char *cleared : {static_cast<const char *>(nullptr), ""}) {
        tarn_client_set_password("x");
        tarn_client_set_password(cleared);
        EXPECT_EQ(ping_url(), "http://h/ping");
        EXPECT_FALSE(io_.last().has_headers);

        tarn_client_set_jwt("tok");
        ping_url();
        EXPECT_EQ(io_.last().headers, "Authorization: Bearer tok");
        tarn_client_set_jwt(cleared);
        ping_url();
        EXPECT_FALSE(io_.last().has_headers);
    }
}

TEST_F(StateTest, InitResetsNothing) {
    io_.push(reply(200, R"({"rows":[[1]]})"));
    ASSERT_EQ(tarn_client_ping(), 0);
    const tarn_client_io *installed = tarn::flat()->io;
    EXPECT_EQ(tarn_client_init(), 0);
    EXPECT_EQ(tarn::flat()->io, installed);
    EXPECT_STREQ(tarn_client_result(), R"({"rows":[[1]]})");
    EXPECT_EQ(tarn_client_row_count(), 1);
    EXPECT_EQ(ping_url(), "http://h/ping");
}

TEST_F(StateTest, CleanupEmptiesTextsAndKeepsSettings) {
    tarn_client_set_password("pw");
    tarn_client_set_jwt("tok");
    io_.push(reply(200, R"({"rows":[[1]]})"));
    ASSERT_EQ(tarn_client_ping(), 0);
    ASSERT_NE(tarn::flat()->result, nullptr);

    // The result buffer is given back, not kept for the next reply.
    tarn_client_cleanup();
    EXPECT_STREQ(tarn_client_result(), "");
    EXPECT_STREQ(tarn_client_last_error(), "");
    EXPECT_EQ(tarn_client_row_count(), -1);
    EXPECT_EQ(tarn::flat()->io, nullptr);
    EXPECT_EQ(tarn::flat()->result, nullptr);
    EXPECT_EQ(tarn::flat()->result_cap, 0U);

    io_.install();
    io_.push(tarn_test::failure("refused"));
    EXPECT_EQ(tarn_client_ping(), -1);
    EXPECT_STREQ(tarn_client_last_error(), "refused");
    tarn_client_cleanup();
    EXPECT_STREQ(tarn_client_last_error(), "");

    io_.install();
    EXPECT_EQ(ping_url(), "http://h/ping?pwd=pw");
    EXPECT_EQ(io_.last().headers, "X-Bot-Password: pw\nAuthorization: Bearer tok");
}

TEST_F(StateTest, NextRequestAfterCleanupInstallsTheDefaultBackend) {
    tarn_client_cleanup();
    // Port 1 on the loopback refuses at once, whatever the default does.
    tarn_client_set_host("http://127.0.0.1:1");
    EXPECT_EQ(tarn_client_ping(), -1);
    EXPECT_EQ(tarn::flat()->io, nullptr);  // the built-in backend
    EXPECT_STRNE(tarn_client_last_error(), "");
    EXPECT_EQ(io_.calls().size(), 0U);

    tarn_client_set_io(nullptr);
    EXPECT_EQ(tarn::flat()->io, nullptr);
}

TEST_F(StateTest, ResultBufferGrowsToTheReplyWithA64KiBFloor) {
    forget_result_buffer();
    const std::string big(100000, 'x');
    struct Step {
        std::string body;
        uint64_t cap;
    } steps[] = {
        {"0123456789", 65536},
        {big, 100001},
        {"abcdefghij", 100001},
    };
    const char *previous = nullptr;
    for (const auto &s : steps) {
        io_.push(reply(200, s.body));
        ASSERT_EQ(tarn_client_ping(), 0);
        EXPECT_EQ(tarn_client_result(), s.body);
        EXPECT_EQ(tarn::flat()->result_cap, s.cap) << s.body.size();
        if (s.body.size() == 10 && previous != nullptr) {
            EXPECT_EQ(tarn::flat()->result, previous);
        }
        previous = tarn::flat()->result;
    }
}

TEST_F(StateTest, GrowthFailureKeepsTheOldBuffer) {
    forget_result_buffer();
    {
        tarn_test::HeapHooks guard(nullptr, refuse_realloc);
        io_.push(reply(200, "0123456789"));
        EXPECT_EQ(tarn_client_ping(), -1);
        EXPECT_STREQ(tarn_client_last_error(), "out of memory");
        EXPECT_EQ(tarn::flat()->result, nullptr);
        EXPECT_EQ(tarn::flat()->result_cap, 0U);
        EXPECT_STREQ(tarn_client_result(), "");
    }
    io_.push(reply(200, "0123456789"));
    ASSERT_EQ(tarn_client_ping(), 0);
    const char *buffer = tarn::flat()->result;
    {
        tarn_test::HeapHooks guard(nullptr, refuse_realloc);
        io_.push(reply(200, std::string(100000, 'y')));
        EXPECT_EQ(tarn_client_ping(), -1);
        EXPECT_STREQ(tarn_client_last_error(), "out of memory");
        EXPECT_EQ(tarn::flat()->result, buffer);
        EXPECT_EQ(tarn::flat()->result_cap, 65536U);
        EXPECT_STREQ(tarn_client_result(), "");
        EXPECT_EQ(tarn_client_row_count(), -1);
    }
    EXPECT_EQ(io_.outstanding(), 0);
}

TEST_F(StateTest, SuccessWithoutABodyEmptiesTheResult) {
    ASSERT_EQ(tarn::do_request(tarn::flat(), tarn::kGet, "/p", nullptr, nullptr), 0);  // "{}"
    EXPECT_STREQ(tarn_client_result(), "{}");
    tarn_test::Outcome none = reply(204, "");
    none.has_body = false;
    io_.push(none);
    EXPECT_EQ(tarn::do_request(tarn::flat(), tarn::kGet, "/p", nullptr, nullptr), 0);
    EXPECT_STREQ(tarn_client_result(), "");
    EXPECT_STREQ(tarn_client_last_error(), "");
}

TEST_F(StateTest, ASuccessfulOperationClearsTheLastError) {
    io_.push(reply(503, R"({"error":"down"})"));
    EXPECT_EQ(tarn_client_ping(), -1);
    EXPECT_STREQ(tarn_client_last_error(), "HTTP 503: down");
    EXPECT_EQ(tarn_client_ping(), 0);
    EXPECT_STREQ(tarn_client_last_error(), "");
    EXPECT_STREQ(tarn_client_result(), "{}");
}

}  // namespace
