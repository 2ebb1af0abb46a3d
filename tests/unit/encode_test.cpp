#include <gtest/gtest.h>

#include <string>

#include "client/encode.h"
#include "client/state.h"

namespace {

std::string q_after(const std::string &start, const char *name, const char *value) {
    char buf[tarn::kQueryCap];
    snprintf(buf, sizeof buf, "%s", start.c_str());
    tarn::q_add(buf, name, value);
    return buf;
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

TEST(QAdd, CutsAtTheQueryBound) {
    std::string start = "?" + std::string(3064, 'x');  // 3065 characters
    std::string got = q_after(start, "server", "abcdef");
    EXPECT_EQ(got.size(), 3071U);
    EXPECT_EQ(got.substr(3065), "&serve");
    EXPECT_EQ(q_after(got, "db", "x"), got);  // a full buffer takes nothing more
}

std::string escaped(const char *src, size_t cap = 1024) {
    std::string out(cap + 1, '\x7f');
    tarn::json_escape(src, out.data(), cap);
    return std::string(out.c_str());
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

TEST(JsonEscape, KeepsEightBytesOfRoom) {
    std::string long_src(5000, 'a');
    EXPECT_EQ(escaped(long_src.c_str(), 8), "a");
    for (size_t cap = 1; cap <= 7; ++cap) EXPECT_EQ(escaped("abc", cap), "") << cap;
    EXPECT_EQ(escaped(long_src.c_str(), 1024).size(), 1017U);
    // A cut never splits an escape.
    std::string quotes(2000, '"');
    std::string got = escaped(quotes.c_str(), 1024);
    EXPECT_EQ(got.size() % 2, 0U);
    EXPECT_LE(got.size(), 1022U);
    // The sizing helper leaves room to escape every byte whole.
    std::string ctl(300, '\x01');
    EXPECT_EQ(escaped(ctl.c_str(), tarn::json_escape_room(ctl.size())).size(), 1800U);
}

}  // namespace
