// Every file of a public JSON parser test suite as the body of a reply:
// accepted, rejected or in between, none may crash, leak or corrupt state.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "support/client_test.h"
#include "support/fake_io.h"

namespace {

namespace fs = std::filesystem;
using tarn_test::ClientTest;
using tarn_test::FakeIo;
using tarn_test::reply;

struct Sample {
    std::string name;
    std::string bytes;
};

std::vector<Sample> load_samples() {
    std::vector<Sample> out;
    std::error_code ec;
    for (const auto &entry : fs::directory_iterator(TARN_JSON_TESTDATA, ec)) {
        if (!entry.is_regular_file()) continue;
        std::ifstream in(entry.path(), std::ios::binary);
        out.push_back({entry.path().filename().string(),
                       std::string(std::istreambuf_iterator<char>(in), {})});
    }
    std::sort(out.begin(), out.end(),
              [](const Sample &a, const Sample &b) { return a.name < b.name; });
    return out;
}

class HostileReplyTest : public ClientTest {
protected:
    void SetUp() override {
        // Missing data is a broken checkout, never a reason to pass.
        ASSERT_TRUE(fs::is_directory(TARN_JSON_TESTDATA))
            << "no test data at " << TARN_JSON_TESTDATA;
        samples_ = load_samples();
        ASSERT_GT(samples_.size(), 300U)
            << "test data at " << TARN_JSON_TESTDATA << " is incomplete";
        ClientTest::SetUp();
    }

    std::vector<Sample> samples_;
};

// Counts agree on whether there is a grid, and every cell of one can be
// read, including one past each edge.
void read_whole_grid() {
    int rows = tarn_client_row_count();
    int cols = tarn_client_col_count();
    ASSERT_EQ(rows < 0, cols < 0);
    if (rows < 0) {
        EXPECT_EQ(rows, -1);
        EXPECT_EQ(cols, -1);
        EXPECT_STREQ(tarn_client_cell(0, 0), "");
        return;
    }
    for (int r = -1; r <= rows; ++r) {
        for (int c = -1; c <= cols + 1; ++c) {
            const char *text = tarn_client_cell(r, c);
            ASSERT_NE(text, nullptr);
            EXPECT_LT(std::char_traits<char>::length(text), 8192U);
            if (r < 0 || r == rows || c < 0) {
                EXPECT_STREQ(text, "");
            }
        }
    }
}

std::string up_to_nul(const std::string &s) {
    return s.substr(0, s.find('\0'));
}

TEST_F(HostileReplyTest, AsSuccessBody) {
    for (const auto &s : samples_) {
        SCOPED_TRACE(s.name);
        io_.push(reply(200, s.bytes));
        ASSERT_EQ(tarn_client_query("s", "d", "q", 0, 0, nullptr), 0);
        EXPECT_EQ(tarn_client_result(), up_to_nul(s.bytes));
        read_whole_grid();
    }
    EXPECT_EQ(io_.outstanding(), 0);
}

TEST_F(HostileReplyTest, AsFailureBody) {
    for (const auto &s : samples_) {
        SCOPED_TRACE(s.name);
        io_.push(reply(500, s.bytes));
        ASSERT_EQ(tarn_client_ping(), -1);
        std::string error = tarn_client_last_error();
        EXPECT_EQ(error.rfind("HTTP 500", 0), 0U) << error;
        EXPECT_LT(error.size(), 1024U);
        EXPECT_STREQ(tarn_client_result(), "");
        EXPECT_EQ(tarn_client_row_count(), -1);
    }
}

// Wrapped as the rows, a cell, a column entry and the error member, the
// samples reach the grid walker and the error lookup in every role.
TEST_F(HostileReplyTest, InsideGridShapes) {
    for (const auto &s : samples_) {
        SCOPED_TRACE(s.name);
        const std::string &b = s.bytes;
        const std::string wrapped[] = {
            R"({"rows":)" + b + "}",
            R"({"rows":[)" + b + "]}",
            R"({"columns":[)" + b + R"(],"rows":[[)" + b + "]," + b + "]}",
            R"({"columns":["a"],"rows":[{"a":)" + b + R"(,"b":)" + b + "}]}",
            R"({"batches":[{"results":[{"rows":[)" + b + "]}," + b + "]}]}",
        };
        for (const auto &w : wrapped) {
            io_.push(reply(200, w));
            ASSERT_EQ(tarn_client_ping(), 0);
            read_whole_grid();
        }
        io_.push(reply(400, R"({"error":)" + b + "}"));
        ASSERT_EQ(tarn_client_ping(), -1);
        EXPECT_EQ(std::string(tarn_client_last_error()).rfind("HTTP 400", 0), 0U);
    }
}

}  // namespace
