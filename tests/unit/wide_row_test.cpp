// Wide rows: cells read through the row index give the same texts as a
// direct lookup, in every reading order and when the index cannot be built.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "client/state.h"
#include "support/client_test.h"

namespace {

using tarn_test::reply;

constexpr int kWidth = 20;

// Row 0: an object with members c19..c0 (value 10 * n), then a second
// "c5" and an "x". Row 1: an array of containers. Row 2: a narrow row.
// Column 3 has no name and column 4 a name no member has; the members at
// their positions are named for other columns, so both cells are absent.
// Column 20 repeats column 2's name; column 21 is named "x".
std::string wide_reply(int scale) {
    std::string cols;
    std::string obj;
    std::string arr;
    for (int c = 0; c < kWidth; ++c) {
        std::string name = c == 3 ? "7" : c == 4 ? "\"zz\"" : "\"c" + std::to_string(c) + "\"";
        cols += name + ",";
        int m = kWidth - 1 - c;
        obj += "\"c" + std::to_string(m) + "\":" + std::to_string(m * scale) + ",";
        arr += std::string("[") + std::to_string(c * scale) + "],";
    }
    return "{\"columns\":[" + cols + "\"c2\",{\"name\":\"x\"}],\"rows\":[{" + obj +
           "\"c5\":999,\"x\":\"tail\"},[" + arr + "{\"k\":" + std::to_string(scale) +
           "},21],[1,2]]}";
}

std::vector<std::vector<std::string>> expected(int scale) {
    std::vector<std::string> obj;
    std::vector<std::string> arr;
    for (int c = 0; c < kWidth; ++c) {
        obj.push_back(c == 3 || c == 4 ? "" : std::to_string(c * scale));
        arr.push_back(std::string("[") + std::to_string(c * scale) + "]");
    }
    obj.insert(obj.end(), {std::to_string(2 * scale), "tail", ""});
    arr.insert(arr.end(), {"{\"k\":" + std::to_string(scale) + "}", "21", ""});
    std::vector<std::string> narrow(obj.size());
    narrow[0] = "1";
    narrow[1] = "2";
    return {obj, arr, narrow};
}

class WideRowTest : public tarn_test::ClientTest {
protected:
    void load(int scale) {
        io_.push(reply(200, wide_reply(scale)));
        ASSERT_EQ(tarn_client_ping(), 0) << tarn_client_last_error();
        ASSERT_EQ(tarn_client_row_count(), 3);
        ASSERT_EQ(tarn_client_col_count(), kWidth + 2);
    }
};

TEST_F(WideRowTest, EveryReadingOrderGivesTheSameCells) {
    struct Read {
        int row;
        int col;
    };
    std::vector<std::vector<Read>> orders(4);
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c <= kWidth + 2; ++c) {
            orders[0].push_back({r, c});               // row by row
            orders[1].push_back({r, kWidth + 2 - c});  // each row backwards
            orders[2].push_back({r, c});               // each cell twice
            orders[2].push_back({r, c});
            orders[3].push_back({c % 3, c});  // across rows
        }
    }
    for (int scale : {10, 7}) {
        load(scale);  // a new reply must not be read through the old index
        auto want = expected(scale);
        for (size_t o = 0; o < orders.size(); ++o) {
            for (const Read &rd : orders[o]) {
                EXPECT_EQ(tarn_client_cell(rd.row, rd.col), want[rd.row][rd.col])
                    << "order " << o << " scale " << scale << " (" << rd.row << "," << rd.col
                    << ")";
            }
        }
    }
}

void *refuse_malloc(size_t) {
    return nullptr;
}
void *refuse_realloc(void *, size_t) {
    return nullptr;
}

TEST_F(WideRowTest, WithoutMemoryForTheIndexCellsAreFoundDirectly) {
    load(10);
    auto want = expected(10);
    tarn::mem_malloc = refuse_malloc;
    tarn::mem_realloc = refuse_realloc;
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c <= kWidth + 2; ++c) EXPECT_EQ(tarn_client_cell(r, c), want[r][c]);
    tarn::mem_malloc = malloc;
    tarn::mem_realloc = realloc;
}

}  // namespace
