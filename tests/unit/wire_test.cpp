// The unit both backends share: which header lines go out, and how the
// response body grows.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "support/heap_hooks.h"
#include "transport/wire.h"

namespace {

namespace wire = tarn::wire;

std::vector<std::string> walk(const char *block) {
    std::vector<std::string> lines;
    wire::walk_header_lines(
        block,
        [](const char *line, size_t len, void *ctx) {
            // The line is handed over terminated and with its true length.
            EXPECT_EQ(strlen(line), len);
            static_cast<std::vector<std::string> *>(ctx)->emplace_back(line, len);
        },
        &lines);
    return lines;
}

TEST(WalkHeaderLines, KeepsTheLinesABackendMustSend) {
    // The longest line carries "Authorization: Bearer " and 8191 bytes.
    const size_t max = wire::kMaxHeaderLine;
    ASSERT_EQ(max, 8213U);
    const std::string l1023("Authorization: Bearer " + std::string(max - 22, 'a'));
    const std::string l1024(max + 1, 'b');
    const std::string l1022 = std::string(max - 1, 'c');
    struct Case {
        const char *name;
        std::string block;
        std::vector<std::string> want;
    };
    const Case cases[] = {
        {"single line without end", "A: 1", {"A: 1"}},
        {"CRLF, LF then empty line, no end", "A: 1\r\nB: 2\n\nC: 3", {"A: 1", "B: 2", "C: 3"}},
        {"trailing line feed adds nothing", "A: 1\n", {"A: 1"}},
        {"empty and CR-only lines are skipped", "\n\r\n\nA: 1\n\r", {"A: 1"}},
        {"only one of two trailing CRs goes", "A: v\r\r", {"A: v\r"}},
        {"content is not examined", "no colon here\n  : lead", {"no colon here", "  : lead"}},
        {"the longest line is sent", l1023 + "\nZ: 1", {l1023, "Z: 1"}},
        {"one byte more is left out, later lines kept", l1024 + "\nZ: 1", {"Z: 1"}},
        {"the longest plus CR is left out", l1023 + "\r\nZ: 1", {"Z: 1"}},
        {"one less plus CR is kept without it", l1022 + "\r\nZ: 1", {l1022, "Z: 1"}},
        {"an over-long last line ends the walk", "A: 1\n" + l1024, {"A: 1"}},
    };
    for (const Case &c : cases) EXPECT_EQ(walk(c.block.c_str()), c.want) << c.name;
}

TEST(WalkHeaderLines, NullAndEmptyBlocksAddNothing) {
    EXPECT_TRUE(walk(nullptr).empty());
    EXPECT_TRUE(walk("").empty());
}

using tarn_test::HeapHooks;
using tarn_test::refuse_malloc;
using tarn_test::refuse_realloc;

TEST(BodyBuffer, GrowsFrom64KiBByDoublingAndStaysTerminated) {
    struct Case {
        std::vector<size_t> appends;
        size_t want_cap;
    };
    const Case cases[] = {
        {{0}, 65536},
        {{10}, 65536},
        {{65535}, 65536},
        {{65536}, 131072},  // the terminator needs the 65537th byte
        {{65535, 1}, 131072},
        {{100000, 100000, 100000}, 524288},
        {{3 * 1024 * 1024}, 4 * 1024 * 1024},
    };
    for (const Case &c : cases) {
        wire::BodyBuffer b;
        std::string want;
        for (size_t n : c.appends) {
            std::string bytes(n, '\0');
            for (size_t i = 0; i < n; ++i)
                bytes[i] = static_cast<char>('a' + (want.size() + i) % 26);
            ASSERT_TRUE(wire::body_append(&b, bytes.data(), n));
            want += bytes;
        }
        EXPECT_EQ(b.cap, c.want_cap) << c.appends.size() << " appends, first " << c.appends[0];
        ASSERT_EQ(b.len, want.size());
        EXPECT_EQ(std::string(b.data, b.len), want);
        EXPECT_EQ(b.data[b.len], '\0');
        wire::body_free(&b);
        EXPECT_EQ(b.data, nullptr);
        EXPECT_EQ(b.len, 0u);
        EXPECT_EQ(b.cap, 0u);
    }
}

TEST(BodyBuffer, KeepsItsContentWhenItCannotGrow) {
    HeapHooks restore;
    wire::BodyBuffer b;
    std::string first(65000, 'x');
    ASSERT_TRUE(wire::body_append(&b, first.data(), first.size()));
    tarn::mem_realloc = refuse_realloc;
    EXPECT_TRUE(wire::body_append(&b, "fits", 4)) << "no growth needed, no allocation";
    std::string big(1000, 'y');
    EXPECT_FALSE(wire::body_append(&b, big.data(), big.size()));
    EXPECT_EQ(b.cap, 65536u);
    EXPECT_EQ(std::string(b.data, b.len), first + "fits");
    EXPECT_EQ(b.data[b.len], '\0');
    wire::body_free(&b);

    wire::BodyBuffer empty;
    EXPECT_FALSE(wire::body_append(&empty, "a", 1));
    EXPECT_EQ(empty.data, nullptr);
    EXPECT_EQ(empty.cap, 0u);
}

TEST(BodyBuffer, RefusesALengthThatWouldOverflow) {
    wire::BodyBuffer b;
    ASSERT_TRUE(wire::body_append(&b, "abc", 3));
    EXPECT_FALSE(wire::body_append(&b, "x", SIZE_MAX - 3));
    EXPECT_EQ(std::string(b.data, b.len), "abc");
    wire::body_free(&b);
}

TEST(BodyTake, HandsOutTheBodyAndEmptiesTheBuffer) {
    wire::BodyBuffer b;
    ASSERT_TRUE(wire::body_append(&b, "hello", 5));
    char *out = wire::body_take(&b);
    ASSERT_NE(out, nullptr);
    EXPECT_STREQ(out, "hello");
    EXPECT_EQ(b.data, nullptr);
    EXPECT_EQ(b.len, 0u);
    EXPECT_EQ(b.cap, 0u);
    free(out);
}

TEST(BodyTake, GivesAnEmptyTextForNoBytesOrNullWithoutMemory) {
    HeapHooks restore;
    wire::BodyBuffer b;
    char *out = wire::body_take(&b);
    ASSERT_NE(out, nullptr);
    EXPECT_STREQ(out, "");
    free(out);

    tarn::mem_malloc = refuse_malloc;
    EXPECT_EQ(wire::body_take(&b), nullptr);
}

TEST(DupMessage, CopiesExactlyOrGivesNull) {
    HeapHooks restore;
    char *copy = wire::dup_message("WinHttpReadData failed");
    ASSERT_NE(copy, nullptr);
    EXPECT_STREQ(copy, "WinHttpReadData failed");
    free(copy);
    tarn::mem_malloc = refuse_malloc;
    EXPECT_EQ(wire::dup_message("x"), nullptr);
}

}  // namespace
