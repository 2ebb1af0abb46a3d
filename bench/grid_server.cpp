// A loopback service whose every reply is one generated grid of ROWS rows
// (first argument, default 1,000,000) by 8 columns, for timing and sizing
// the program's output formats. Prints its port, then serves until killed.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <utility>

#include "support/test_server.h"

int main(int argc, char **argv) {
    long rows = argc > 1 ? strtol(argv[1], nullptr, 10) : 1000000;
    std::string body =
        "{\"columns\":[\"id\",\"name\",\"price\",\"active\",\"note\",\"quoted\",\"count\","
        "\"city\"],\"rows\":[";
    for (long r = 0; r < rows; ++r) {
        char row[256];
        snprintf(row, sizeof row,
                 "%s[%ld,\"customer %ld\",%ld.25,%s,null,\"a, \\\"b\\\"\",%ld,\"Z\\u00fcrich\"]",
                 r == 0 ? "" : ",", r, r, r % 1000, r % 2 == 0 ? "true" : "false", r * 7);
        body += row;
    }
    body += "]}";
    tarn_test::Reply grid{200, "", {{"Content-Type", "application/json"}}};
    // Shared, so no request copies the grid.
    grid.shared_body = std::make_shared<const std::string>(std::move(body));
    tarn_test::TestServer server;
    server.set_default(grid);
    printf("%d\n", server.port());
    fflush(stdout);
    for (;;) pause();
}
