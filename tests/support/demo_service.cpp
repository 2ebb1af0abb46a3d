// A loopback stand-in for the management service, with canned replies, so
// the program can be tried without one. Prints its base URL on the first
// line, then serves until it is killed.
#include <unistd.h>

#include <cstdio>

#include "support/test_server.h"

namespace {

tarn_test::Reply json(const char *body) {
    return tarn_test::Reply{200, body, {{"Content-Type", "application/json"}}};
}

}  // namespace

int main() {
    tarn_test::TestServer server;
    server.set_default(tarn_test::Reply{404, "{\"error\":\"no such view in the demo service\"}"});
    server.route("/ping", json("{\"ok\":true,\"service\":\"demo\"}"));
    server.route("/connections",
                 json("{\"columns\":[\"id\",\"name\",\"server\"],\"rows\":["
                      "[\"1\",\"local\",\"127.0.0.1\"],[\"2\",\"reporting\",\"HOST\\\\INST\"]]}"));
    server.route("/query",
                 json("{\"batches\":[{\"results\":[{\"columns\":[{\"name\":\"object\"},"
                      "{\"name\":\"kind\"},{\"name\":\"rows\"}],\"rows\":["
                      "{\"object\":\"orders\",\"kind\":\"table\",\"rows\":1200},"
                      "{\"object\":\"customers\",\"kind\":\"table\",\"rows\":87},"
                      "{\"object\":\"order_totals\",\"kind\":\"view\",\"rows\":null}]}]}]}"));
    server.route("/activity", json("{\"columns\":[\"spid\",\"login\",\"status\"],\"rows\":["
                                   "[51,\"app\",\"running\"],[52,\"report\",\"sleeping\"]]}"));
    printf("%s\n", server.url().c_str());
    fflush(stdout);
    for (;;) pause();
}
