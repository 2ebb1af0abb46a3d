// tarn-demo-service: a local service over SQLite that answers the client's
// requests for real. Options, start-up and a clean stop on SIGINT/SIGTERM.
#include <httplib.h>
#include <sys/stat.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "db.h"
#include "http_routes.h"
#include "service.h"

namespace {

constexpr int kThreads = 8;

const char *const kUsage =
    "usage: tarn-demo-service [--listen HOST:PORT] [--data DIR] [--password PWD] [--token TOKEN]\n"
    "  --listen HOST:PORT  where to listen (default 127.0.0.1:8180; port 0 picks a free one)\n"
    "  --data DIR          the databases and saved state (default\n"
    "                      $XDG_STATE_HOME/tarn-demo-service, else ~/.local/state/...)\n"
    "  --password PWD      require pwd and X-Bot-Password on every request\n"
    "  --token TOKEN       require \"Authorization: Bearer TOKEN\" on every request\n"
    "The first line of output is the base URL, once the service listens.\n";

bool mkdirs(const std::string &path) {
    for (size_t i = 1; i <= path.size(); ++i) {
        if (i < path.size() && path[i] != '/') continue;
        std::string part = path.substr(0, i);
        if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
    }
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string default_data_dir() {
    const char *state = getenv("XDG_STATE_HOME");
    if (state != nullptr && state[0] == '/') return std::string(state) + "/tarn-demo-service";
    const char *home = getenv("HOME");
    return std::string(home != nullptr ? home : ".") + "/.local/state/tarn-demo-service";
}

// HOST:PORT, with [v6]:PORT for IPv6 addresses.
bool parse_listen(const std::string &s, demo::Options &o) {
    size_t colon = s.rfind(':');
    if (colon == std::string::npos || colon == 0) return false;
    std::string host = s.substr(0, colon);
    if (host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
    char *end = nullptr;
    long port = strtol(s.c_str() + colon + 1, &end, 10);
    if (host.empty() || *end != '\0' || end == s.c_str() + colon + 1 || port < 0 || port > 65535)
        return false;
    o.host = host;
    o.port = static_cast<int>(port);
    return true;
}

// 0 to run, 1 for bad usage, 2 for help.
int parse_args(int argc, char **argv, demo::Options &o) {
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--help" || a == "-h") return 2;
        if (i + 1 >= argc) {
            fprintf(stderr, "tarn-demo-service: %s needs a value\n", a.c_str());
            return 1;
        }
        std::string v = argv[++i];
        if (a == "--listen") {
            if (!parse_listen(v, o)) {
                fprintf(stderr, "tarn-demo-service: --listen wants HOST:PORT, not %s\n", v.c_str());
                return 1;
            }
        } else if (a == "--data") {
            o.data_dir = v;
        } else if (a == "--password") {
            o.password = v;
        } else if (a == "--token") {
            o.token = v;
        } else {
            fprintf(stderr, "tarn-demo-service: unknown option %s\n%s", a.c_str(), kUsage);
            return 1;
        }
    }
    return 0;
}

}  // namespace

int main(int argc, char **argv) {
    demo::Service svc;
    int parsed = parse_args(argc, argv, svc.opts);
    if (parsed != 0) {
        fputs(kUsage, parsed == 2 ? stdout : stderr);
        return parsed == 2 ? 0 : 2;
    }
    if (svc.opts.data_dir.empty()) svc.opts.data_dir = default_data_dir();
    std::string err;
    if (!mkdirs(svc.opts.data_dir)) {
        fprintf(stderr, "tarn-demo-service: cannot create %s: %s\n", svc.opts.data_dir.c_str(),
                strerror(errno));
        return 1;
    }
    if ((!demo::db_exists(svc.opts.data_dir, "shop") &&
         !demo::create_sample_db(svc.opts.data_dir, err)) ||
        !svc.profiles.load(svc.opts.data_dir, err) || !svc.jobs.load(err)) {
        fprintf(stderr, "tarn-demo-service: %s\n", err.c_str());
        return 1;
    }

    // Signals go to one thread that waits for them, so stopping the server
    // never happens inside a signal handler.
    sigset_t stop_signals;
    sigemptyset(&stop_signals);
    sigaddset(&stop_signals, SIGINT);
    sigaddset(&stop_signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);
    signal(SIGPIPE, SIG_IGN);

    httplib::Server server;
    server.new_task_queue = [] { return new httplib::ThreadPool(kThreads); };
    server.set_payload_max_length(8 * 1024 * 1024);
    server.set_read_timeout(30, 0);
    demo::install_routes(server, svc);
    int port = svc.opts.port;
    if (port == 0)
        port = server.bind_to_any_port(svc.opts.host);
    else if (!server.bind_to_port(svc.opts.host, port))
        port = -1;
    if (port <= 0) {
        fprintf(stderr, "tarn-demo-service: cannot listen on %s:%d\n", svc.opts.host.c_str(),
                svc.opts.port);
        return 1;
    }
    bool v6 = svc.opts.host.find(':') != std::string::npos;
    printf("http://%s%s%s:%d\n", v6 ? "[" : "", svc.opts.host.c_str(), v6 ? "]" : "", port);
    fflush(stdout);
    fprintf(stderr, "tarn-demo-service: data in %s\n", svc.opts.data_dir.c_str());

    std::atomic<bool> done{false};
    std::atomic<bool> signalled{false};
    std::thread waiter([&] {
        timespec tick{0, 200 * 1000 * 1000};
        while (!done.load()) {
            int sig = sigtimedwait(&stop_signals, nullptr, &tick);
            if (sig == SIGINT || sig == SIGTERM) {
                fprintf(stderr, "tarn-demo-service: stopping\n");
                signalled = true;
                svc.running.cancel_all();
                svc.jobs.shutdown();
                server.stop();
                return;
            }
        }
    });
    bool ok = server.listen_after_bind();
    done = true;
    waiter.join();
    svc.jobs.shutdown();
    return ok || signalled ? 0 : 1;
}
