// The loopback service the benchmarks run against. Prints three ports on
// one line: HTTP and HTTPS services answering /ping, and a plain HTTP
// service answering every request with the large reply, sent straight from
// one shared buffer so that serving it costs no copies. Kept-alive
// connections are allowed throughout. Serves until it is killed.
//
// usage: tarn_bench_server [ROWS]        (rows of the large reply, 1000000)
//        tarn_bench_server --file PATH   (the large reply is PATH's bytes)
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "big_reply.h"
#include "support/test_server.h"

int main(int argc, char **argv) {
    const std::vector<tarn_test::Header> json{{"Content-Type", "application/json"}};
    tarn_test::Reply big{200, "", json};
    if (argc > 2 && strcmp(argv[1], "--file") == 0) {
        std::ifstream in(argv[2], std::ios::binary);
        if (!in) {
            fprintf(stderr, "tarn_bench_server: cannot read %s\n", argv[2]);
            return 2;
        }
        big.shared_body = std::make_shared<const std::string>(std::istreambuf_iterator<char>(in),
                                                              std::istreambuf_iterator<char>());
    } else {
        long rows = argc > 1 ? atol(argv[1]) : 1000000;
        big.shared_body = std::make_shared<const std::string>(tarn_bench::big_reply(rows));
    }
    const tarn_test::Reply pong{200, "{\"ok\":true}", json};

    tarn_test::TestServer http;
    tarn_test::TestServer https(true);
    tarn_test::TestServer large;
    for (tarn_test::TestServer *server : {&http, &https, &large}) server->forget_requests();
    http.route("/ping", pong);
    https.route("/ping", pong);
    large.set_default(big);
    printf("%d %d %d\n", http.port(), https.port(), large.port());
    fflush(stdout);
    for (;;) pause();
}
