// Base fixture: a fresh client on a recording fake transport, with the
// settings every test expects and nothing left behind for the next one.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "support/fake_io.h"
#include "tarn_client.h"

namespace tarn_test {

class ClientTest : public ::testing::Test {
protected:
    void SetUp() override {
        reset_settings();
        tarn_client_set_host("http://h");
        io_.install();
    }
    void TearDown() override {
        tarn_client_cleanup();
        reset_settings();
    }
    static void reset_settings() {
        tarn_client_set_host(nullptr);
        tarn_client_set_password(nullptr);
        tarn_client_set_jwt(nullptr);
    }

    // Runs op against an HTTP error, a transport failure and a 2xx reply that
    // is not JSON: the first two fail with the pipeline's text and leave no
    // grid, the last succeeds without one.
    void expect_outcomes_pass_through(const std::function<int()> &op,
                                      const std::string &transport_message) {
        io_.push(reply(500, R"({"error":"bad","rows":[[1]]})"));
        EXPECT_EQ(op(), -1);
        EXPECT_STREQ(tarn_client_last_error(), "HTTP 500: bad");
        EXPECT_EQ(tarn_client_row_count(), -1);
        io_.push(failure(transport_message));
        EXPECT_EQ(op(), -1);
        EXPECT_EQ(tarn_client_last_error(),
                  transport_message.empty() ? "transport failure" : transport_message);
        io_.push(reply(200, "plain text"));
        EXPECT_EQ(op(), 0);
        EXPECT_STREQ(tarn_client_result(), "plain text");
        EXPECT_EQ(tarn_client_row_count(), -1);
    }

    // Runs op against a grid reply and checks the one request it sent. With
    // no credentials set, a POST carries only the content type and a GET no
    // header block at all.
    void expect_request(const std::function<int()> &op, const std::string &method,
                        const std::string &url, const std::string &body = "") {
        io_.clear_calls();
        io_.push(reply(200, R"({"rows":[[1]]})"));
        ASSERT_EQ(op(), 0) << tarn_client_last_error();
        ASSERT_EQ(io_.calls().size(), 1U);
        const Call &call = io_.last();
        EXPECT_EQ(call.method, method);
        EXPECT_EQ(call.url, url);
        EXPECT_TRUE(call.body == body) << url << ": body of " << call.body.size() << " bytes";
        EXPECT_EQ(call.has_headers, method == "POST") << url;
        EXPECT_EQ(call.headers, method == "POST" ? "Content-Type: application/json" : "") << url;
        EXPECT_EQ(tarn_client_row_count(), 1) << "the grid is located after " << url;
    }

    // After a successful call leaves a reply and a grid, op is refused with
    // error: nothing is sent and nothing of the earlier reply is left.
    void expect_rejected(const std::function<int()> &op, const char *error) {
        io_.push(reply(200, R"({"rows":[[1]]})"));
        ASSERT_EQ(tarn_client_ping(), 0);
        io_.clear_calls();
        EXPECT_EQ(op(), -1);
        EXPECT_STREQ(tarn_client_last_error(), error);
        EXPECT_TRUE(io_.calls().empty());
        EXPECT_STREQ(tarn_client_result(), "");
        EXPECT_EQ(tarn_client_row_count(), -1);
    }

    FakeIo io_;
};

}  // namespace tarn_test
