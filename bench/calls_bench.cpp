// A library caller making N pings in a row, for timing call sequences
// against one curl process fetching the same URLs on one connection.
//
// usage: tarn_calls_bench BASE_URL N [KEEPALIVE]   (KEEPALIVE 1 by default)
#include <cstdio>
#include <cstdlib>

#include "tarn_client.h"

int main(int argc, char **argv) {
    if (argc < 3) {
        fputs("usage: tarn_calls_bench BASE_URL N [KEEPALIVE]\n", stderr);
        return 2;
    }
    int n = atoi(argv[2]);
    tarn_client_init();
    tarn_client_set_host(argv[1]);
    tarn_client_set_keepalive(argc > 3 ? atoi(argv[3]) : 1);
    for (int i = 0; i < n; ++i) {
        if (tarn_client_ping() != 0) {
            fprintf(stderr, "call %d: %s\n", i, tarn_client_last_error());
            return 1;
        }
    }
    tarn_client_cleanup();
    return 0;
}
