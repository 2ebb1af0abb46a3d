#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "client/encode.h"
#include "client/state.h"

namespace {

std::string q_after(const std::string &start, const char *name, const char *value) {
    tarn::Query q;
    tarn::q_start(&q, start.c_str());
    tarn::q_add(&q, name, value);
    EXPECT_FALSE(q.too_long);
    EXPECT_EQ(q.len, strlen(q.text));
    return q.text;
}

TEST(QAdd, EncodesPairs) {
    struct Case {
        const char *start;
        const char *value;
        const char *want;
    } cases[] = {
        {"", "a b", "?server=a%20b"},
        {"?x=1", "v", "?x=1&server=v"},
        {"", "~a-b_c.d", "?server=~a-b_c.d"},
        {"", "*+/'!(", "?server=%2A%2B%2F%27%21%28"},
        {"", "%&=", "?server=%25%26%3D"},
        {"", "\xC3\xA9", "?server=%C3%A9"},
        {"", "HOST\\INST", "?server=HOST%5CINST"},
        {"", "", "?server="},
        {"", nullptr, ""},
    };
    for (const auto &c : cases)
        EXPECT_EQ(q_after(c.start, "server", c.value), c.want)
            << c.start << " + " << (c.value ? c.value : "(null)");
}

// A pair goes in whole or the query is marked too long and takes nothing
// more; "?" and 3070 characters is the longest query.
TEST(QAdd, NeverCutsAPair) {
    struct Case {
        size_t start_len;  // characters of "?xxx..." before the pair
        const char *value;
        bool fits;
    } cases[] = {
        {3057, "abcdef", true},     // "&server=abcdef" ends at 3071
        {3058, "abcdef", false},    // one character over
        {3063, "", true},           // "&server=" alone
        {3064, "", false},          //
        {3057, "\xC3\xA9", true},   // two escapes of three characters each
        {3058, "\xC3\xA9", false},  // the second escape would be cut
    };
    for (const auto &c : cases) {
        tarn::Query q;
        tarn::q_start(&q, ("?" + std::string(c.start_len - 1, 'x')).c_str());
        const std::string before = q.text;
        tarn::q_add(&q, "server", c.value);
        EXPECT_EQ(q.too_long, !c.fits) << c.start_len;
        EXPECT_EQ(q.len, strlen(q.text)) << c.start_len;
        if (c.fits) {
            EXPECT_EQ(q.len, before.size() + 8 + strlen(c.value) * (c.value[0] == 'a' ? 1 : 3));
        } else {
            EXPECT_TRUE(q.text == before) << c.start_len;
            tarn::q_add(&q, "d", "x");  // a marked query takes nothing more
            EXPECT_TRUE(q.text == before) << c.start_len;
        }
    }
    tarn::Query q;
    tarn::q_start(&q, std::string(3071, 'q').c_str());  // "?" makes 3072
    EXPECT_TRUE(q.too_long);
    tarn::q_start(&q, ("?" + std::string(3070, 'q')).c_str());
    EXPECT_FALSE(q.too_long);
}

std::string escaped(const char *src) {
    size_t n = tarn::json_escaped_len(src);
    std::string out(n + 1, '\x7f');
    EXPECT_EQ(tarn::json_escape(src, out.data()), n);
    EXPECT_EQ(out[n], '\0');
    out.resize(n);
    return out;
}

TEST(JsonEscape, MapsEachByte) {
    struct Case {
        const char *src;
        const char *want;
    } cases[] = {
        {"a\tb\nc\rd\"e\\f", "a\\tb\\nc\\rd\\\"e\\\\f"},
        {"\x01", "\\u0001"},
        {"\b\f", "\\u0008\\u000c"},
        {"\x1f", "\\u001f"},
        {"/\x7f\xC3\xA9", "/\x7f\xC3\xA9"},
        {"", ""},
        {nullptr, ""},
    };
    for (const auto &c : cases) EXPECT_EQ(escaped(c.src), c.want) << c.want;
}

TEST(JsonEscape, LongTextIsEscapedWhole) {
    EXPECT_EQ(escaped(std::string(5000, 'a').c_str()), std::string(5000, 'a'));
    EXPECT_EQ(escaped(std::string(2000, '"').c_str()).size(), 4000U);
    EXPECT_EQ(escaped(std::string(300, '\x01').c_str()).size(), 1800U);
}

TEST(JsonObject, MembersInOrder) {
    const tarn::JsonMember members[] = {tarn::json_text("s", "a\"b"), tarn::json_text("n", nullptr),
                                        tarn::json_number("i", -2147483647 - 1),
                                        tarn::json_number("j", 7)};
    char *body = tarn::json_object(members, std::size(members));
    ASSERT_NE(body, nullptr);
    EXPECT_STREQ(body, R"({"s":"a\"b","n":"","i":-2147483648,"j":7})");
    free(body);
    body = tarn::json_object(members, 0);
    EXPECT_STREQ(body, "{}");
    free(body);
}

}  // namespace
