// The table format cut to a terminal's width, called in-process (the suite
// that runs the program has no terminal to give it).
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "cli/output.h"
#include "support/fake_io.h"

namespace tarn_test {
namespace {

std::string table_of(const std::string &body, size_t width) {
    FakeIo io;
    io.install();
    io.push(reply(200, body));
    EXPECT_EQ(tarn_client_ping(), 0);
    FILE *f = tmpfile();
    tarn_cli::print_table(tarn_cli::LastReplyGrid{}, f, width);
    std::string out(static_cast<size_t>(ftell(f)), '\0');
    rewind(f);
    EXPECT_EQ(fread(out.data(), 1, out.size(), f), out.size());
    fclose(f);
    tarn_client_cleanup();
    return out;
}

TEST(TableWidth, WideCellsAreCutWithAnEllipsisToFit) {
    const std::string reply =
        "{\"columns\":[\"id\",\"text\"],\"rows\":[[1,\"0123456789abcdef\"],[22,"
        "\"\xc3\xa9t\xc3\xa9\"]]}";
    struct Case {
        size_t width;
        std::string out;
    } cases[] = {
        {0,
         "id | text\n---+-----------------\n1  | 0123456789abcdef\n22 | \xc3\xa9t\xc3\xa9\n(2 "
         "rows)\n"},
        {12,
         "id | text\n---+--------\n1  | 012345\xe2\x80\xa6\n22 | \xc3\xa9t\xc3\xa9\n(2 rows)\n"},
        // Too narrow to fit: no column goes below three.
        {4,
         "id | te\xe2\x80\xa6\n---+----\n1  | 01\xe2\x80\xa6\n22 | \xc3\xa9t\xc3\xa9\n(2 rows)\n"},
    };
    for (const auto &c : cases) EXPECT_EQ(table_of(reply, c.width), c.out) << c.width;
}

}  // namespace
}  // namespace tarn_test
