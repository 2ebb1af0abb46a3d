// Operations per second for 1, 2, 4 and 8 sessions, each on a thread of its
// own, pinging one loopback service with keep-alive.
//
// usage: tarn_sessions_bench BASE_URL CALLS_PER_THREAD
// Prints "sessions N: R ops/s" per count, then "ratio 8/1: X".
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "tarn_client.h"

namespace {

double rate(const char *url, int threads, int calls) {
    std::vector<tarn_session *> sessions;
    for (int t = 0; t < threads; ++t) {
        tarn_session *s = tarn_session_new();
        if (s == nullptr) exit(1);
        tarn_session_set_host(s, url);
        tarn_session_set_keepalive(s, 1);
        // The first call opens the connection; it is not timed.
        if (tarn_session_ping(s) != 0) {
            fprintf(stderr, "ping: %s\n", tarn_session_last_error(s));
            exit(1);
        }
        sessions.push_back(s);
    }
    std::atomic<int> failed{0};
    auto start = std::chrono::steady_clock::now();
    std::vector<std::thread> workers;
    for (tarn_session *s : sessions) {
        workers.emplace_back([s, calls, &failed] {
            for (int i = 0; i < calls; ++i)
                if (tarn_session_ping(s) != 0) ++failed;
        });
    }
    for (auto &w : workers) w.join();
    double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    for (tarn_session *s : sessions) tarn_session_free(s);
    if (failed != 0) {
        fprintf(stderr, "%d calls failed\n", failed.load());
        exit(1);
    }
    return threads * calls / secs;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 3) {
        fputs("usage: tarn_sessions_bench BASE_URL CALLS_PER_THREAD\n", stderr);
        return 2;
    }
    int calls = atoi(argv[2]);
    double one = 0;
    double eight = 0;
    for (int threads : {1, 2, 4, 8}) {
        double r = rate(argv[1], threads, calls);
        printf("sessions %d: %.0f ops/s\n", threads, r);
        if (threads == 1) one = r;
        if (threads == 8) eight = r;
    }
    printf("ratio 8/1: %.2f\n", eight / one);
    return 0;
}
