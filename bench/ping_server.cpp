// A loopback service that answers GET /ping, for timing clients against it.
// Prints its port on the first line, then serves until it is killed.
#include <unistd.h>

#include <cstdio>

#include "support/test_server.h"

int main() {
    tarn_test::TestServer server;
    server.route("/ping",
                 tarn_test::Reply{200, "{\"ok\":true}", {{"Content-Type", "application/json"}}});
    printf("%d\n", server.port());
    fflush(stdout);
    for (;;) pause();
}
