// tarn-demo-service: a local service over SQLite that answers the client's
// requests for real. Options, start-up and a clean stop on SIGINT/SIGTERM.
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "db.h"
#include "files.h"
#include "http_routes.h"
#include "service.h"

namespace {

const char *const kUsage =
    "usage: tarn-demo-service [--listen HOST:PORT] [--data DIR] [--password PWD] [--token TOKEN]\n"
    "                         [--statement-timeout S] [--quiet]\n"
    "  --listen HOST:PORT     where to listen (default 127.0.0.1:8180; port 0 picks a free one)\n"
    "  --data DIR             the databases and saved state (default\n"
    "                         $XDG_STATE_HOME/tarn-demo-service, else ~/.local/state/...)\n"
    "  --password PWD         require pwd and X-Bot-Password on every request\n"
    "  --token TOKEN          require \"Authorization: Bearer TOKEN\" on every request\n"
    "  --statement-timeout S  time limit of a statement that sets none (default 300; 0: none)\n"
    "  --quiet                no request log on stderr\n"
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
        if (a == "--quiet") {
            o.quiet = true;
            continue;
        }
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
        } else if (a == "--statement-timeout") {
            char *end = nullptr;
            long n = strtol(v.c_str(), &end, 10);
            if (v.empty() || *end != '\0' || n < 0 || n > 1000000) {
                fprintf(stderr,
                        "tarn-demo-service: --statement-timeout wants seconds from 0, not %s\n",
                        v.c_str());
                return 1;
            }
            o.statement_timeout_s = static_cast<int>(n);
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
    // Held until the process ends: a second copy on the folder would lose writes.
    if (demo::lock_data_dir(svc.opts.data_dir, err) < 0) {
        fprintf(stderr, "tarn-demo-service: %s\n", err.c_str());
        return 1;
    }
    std::string why;
    if (!demo::dir_writable(svc.opts.data_dir, why))
        fprintf(stderr,
                "tarn-demo-service: the data folder %s is read-only (%s): reads are served, "
                "writes answer 503\n",
                svc.opts.data_dir.c_str(), why.c_str());
    std::string note;
    if ((!demo::db_exists(svc.opts.data_dir, "shop") &&
         !demo::create_sample_db(svc.opts.data_dir, err)) ||
        !svc.profiles.load(svc.opts.data_dir, err, note) || !svc.jobs.load(err)) {
        fprintf(stderr, "tarn-demo-service: %s\n", err.c_str());
        return 1;
    }
    if (!note.empty()) fprintf(stderr, "tarn-demo-service: %s\n", note.c_str());

    // Signals go to one thread that waits for them, so stopping the server
    // never happens inside a signal handler.
    sigset_t stop_signals;
    sigemptyset(&stop_signals);
    sigaddset(&stop_signals, SIGINT);
    sigaddset(&stop_signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);
    signal(SIGPIPE, SIG_IGN);

    demo::HttpServer server(demo::HttpLimits{}, demo::make_handlers(svc));
    int port = server.bind(svc.opts.host, svc.opts.port);
    if (port <= 0) {
        fprintf(stderr, "tarn-demo-service: cannot listen on %s:%d: %s\n", svc.opts.host.c_str(),
                svc.opts.port, strerror(errno));
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
    bool ok = server.run();
    done = true;
    waiter.join();
    svc.jobs.shutdown();
    return ok || signalled ? 0 : 1;
}
