// Load on the demo service over loopback: requests per second and latency
// percentiles with N parallel clients, each request on its own connection,
// and the mean time of calls reusing one kept-alive connection.
//
//   tarn_demo_load URL load CLIENTS REQUESTS_PER_CLIENT
//   tarn_demo_load URL keepalive CALLS
// A kept-alive connection the service closes is opened again, as a client
// would, and the time that takes counts.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

const char kQuery[] =
    R"({"db":"shop","sql":"select id, name, price from products order by id limit 20"})";

int port_of(const char *url) {
    const char *colon = strrchr(url, ':');
    return colon != nullptr ? atoi(colon + 1) : 0;
}

int dial(int port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0) return fd;
    if (fd >= 0) close(fd);
    return -1;
}

// Sends one request and reads its reply (Content-Length framed, 10 s at
// most); true on a 200. closed tells whether the service ends the
// connection after it.
bool call(int fd, const std::string &request, bool *closed = nullptr) {
    if (send(fd, request.data(), request.size(), MSG_NOSIGNAL) !=
        static_cast<ssize_t>(request.size()))
        return false;
    std::string in;
    size_t want = std::string::npos;
    while (want == std::string::npos || in.size() < want) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 10000) <= 0) return false;
        char buf[16384];
        ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n <= 0) return false;
        in.append(buf, static_cast<size_t>(n));
        size_t head = in.find("\r\n\r\n");
        if (want == std::string::npos && head != std::string::npos) {
            const char *cl = strcasestr(in.c_str(), "Content-Length:");
            want = head + 4 + (cl != nullptr ? strtoul(cl + 15, nullptr, 10) : 0);
        }
    }
    if (closed != nullptr) *closed = strcasestr(in.c_str(), "Connection: close") != nullptr;
    return in.compare(0, 12, "HTTP/1.1 200") == 0;
}

std::string request(const char *method, const char *target, const std::string &body, bool keep) {
    std::string r = std::string(method) + " " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n";
    if (!body.empty())
        r += "Content-Type: application/json\r\nContent-Length: " + std::to_string(body.size()) +
             "\r\n";
    if (!keep) r += "Connection: close\r\n";
    return r + "\r\n" + body;
}

double ms_since(Clock::time_point t) {
    return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

int load(int port, int clients, int per_client) {
    std::string req = request("POST", "/query", kQuery, false);
    std::vector<std::vector<double>> times(static_cast<size_t>(clients));
    std::atomic<int> errors{0};
    auto t0 = Clock::now();
    std::vector<std::thread> threads;
    for (int c = 0; c < clients; ++c)
        threads.emplace_back([&, c] {
            for (int i = 0; i < per_client; ++i) {
                auto t = Clock::now();
                int fd = dial(port);
                bool ok = fd >= 0 && call(fd, req);
                if (fd >= 0) close(fd);
                if (!ok) ++errors;
                times[static_cast<size_t>(c)].push_back(ms_since(t));
            }
        });
    for (auto &t : threads) t.join();
    double secs = ms_since(t0) / 1000;
    std::vector<double> all;
    double sum = 0;
    for (auto &v : times) all.insert(all.end(), v.begin(), v.end());
    for (double t : all) sum += t;
    std::sort(all.begin(), all.end());
    auto pct = [&](double p) {
        return all[static_cast<size_t>(p * static_cast<double>(all.size() - 1))];
    };
    printf(
        "clients %d: %zu requests in %.2f s: %.0f requests/s, mean %.2f ms, p50 %.2f ms, "
        "p99 %.2f ms, %d errors\n",
        clients, all.size(), secs, static_cast<double>(all.size()) / secs,
        sum / static_cast<double>(all.size()), pct(0.50), pct(0.99), errors.load());
    return errors.load() == 0 ? 0 : 1;
}

// Mean milliseconds of calls on one kept-alive connection, or -1.
double keepalive_mean(int port, int calls, const std::string &req) {
    int fd = dial(port);
    bool closed = false;
    if (fd < 0 || !call(fd, req, &closed)) return -1;  // open and warm
    auto t0 = Clock::now();
    for (int i = 0; i < calls; ++i) {
        if (closed) {
            close(fd);
            if ((fd = dial(port)) < 0) return -1;
        }
        if (!call(fd, req, &closed)) {
            close(fd);
            return -1;
        }
    }
    close(fd);
    return ms_since(t0) / calls;
}

int keepalive(int port, int calls) {
    double ping = keepalive_mean(port, calls, request("GET", "/ping", "", true));
    double query = keepalive_mean(port, calls, request("POST", "/query", kQuery, true));
    printf("keep-alive: %d calls on one connection, mean per call: ping %.3f ms, query %.3f ms\n",
           calls, ping, query);
    return ping >= 0 && query >= 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc >= 5 && strcmp(argv[2], "load") == 0)
        return load(port_of(argv[1]), atoi(argv[3]), atoi(argv[4]));
    if (argc >= 4 && strcmp(argv[2], "keepalive") == 0)
        return keepalive(port_of(argv[1]), atoi(argv[3]));
    fprintf(stderr,
            "usage: tarn_demo_load URL load CLIENTS REQUESTS_PER_CLIENT\n"
            "       tarn_demo_load URL keepalive CALLS\n");
    return 2;
}
