#include "interrupt.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>
#endif

#include "tarn_client.h"

namespace tarn_cli {
namespace {

constexpr int kAnswerWaitS = 10;

// The program's own Ctrl-C state: written by the handler, read anywhere.
std::atomic<int> g_presses{0};

#ifdef _WIN32
HANDLE g_event = nullptr;

BOOL WINAPI on_console_event(DWORD kind) {
    if (kind != CTRL_C_EVENT && kind != CTRL_BREAK_EVENT) return FALSE;
    g_presses.fetch_add(1);
    SetEvent(g_event);
    return TRUE;
}
#else
int g_pipe[2] = {-1, -1};

void on_sigint(int) {
    int saved = errno;
    g_presses.fetch_add(1);
    ssize_t ignored = write(g_pipe[1], "!", 1);
    (void)ignored;
    errno = saved;
}
#endif

}  // namespace

void install_interrupt_handler() {
#ifdef _WIN32
    if (g_event == nullptr) g_event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    SetConsoleCtrlHandler(on_console_event, TRUE);
#else
    if (g_pipe[0] < 0) {
        if (pipe(g_pipe) != 0) return;
        for (int fd : g_pipe) {
            fcntl(fd, F_SETFL, O_NONBLOCK);
            fcntl(fd, F_SETFD, FD_CLOEXEC);
        }
    }
    struct sigaction sa {};
    sa.sa_handler = on_sigint;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGINT, &sa, nullptr);
#endif
}

void restore_default_interrupt() {
#ifdef _WIN32
    SetConsoleCtrlHandler(on_console_event, FALSE);
#else
    signal(SIGINT, SIG_DFL);
#endif
}

int interrupt_count() {
    return g_presses.load();
}

void clear_interrupts() {
#ifdef _WIN32
    if (g_event != nullptr) ResetEvent(g_event);
#else
    char buf[64];
    while (g_pipe[0] >= 0 && read(g_pipe[0], buf, sizeof buf) > 0) {
    }
#endif
    g_presses.store(0);
}

bool wait_for_interrupt(int ms) {
    if (g_presses.load() > 0) return true;
#ifdef _WIN32
    if (g_event == nullptr) {
        Sleep(static_cast<DWORD>(ms));
        return false;
    }
    WaitForSingleObject(g_event, static_cast<DWORD>(ms));
#else
    pollfd p{g_pipe[0], POLLIN, 0};
    poll(&p, g_pipe[0] >= 0 ? 1 : 0, ms);
#endif
    return g_presses.load() > 0;
}

int interrupt_fd() {
#ifdef _WIN32
    return -1;
#else
    return g_pipe[0];
#endif
}

AbortWatch::AbortWatch() {
    thread_ = std::thread([this] {
        std::unique_lock<std::mutex> lock(mu_);
        while (!wake_.wait_for(lock, std::chrono::milliseconds(50), [this] { return done_; })) {
            if (interrupt_count() == 0) continue;
            tarn_client_abort();
            return;
        }
    });
}

AbortWatch::~AbortWatch() {
    {
        std::lock_guard<std::mutex> lock(mu_);
        done_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

StatementWatch::StatementWatch(StatementTarget target) : target_(std::move(target)) {
    thread_ = std::thread([this] { watch(); });
}

StatementWatch::~StatementWatch() {
    {
        std::lock_guard<std::mutex> lock(mu_);
        done_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

void StatementWatch::watch() {
    using Clock = std::chrono::steady_clock;
    int seen = 0;
    Clock::time_point cancelled{};
    std::unique_lock<std::mutex> lock(mu_);
    // The handler cannot notify; a short poll sees its count.
    while (!wake_.wait_for(lock, std::chrono::milliseconds(50), [this] { return done_; })) {
        int presses = interrupt_count();
        // The statement's own answer to the cancel is waited for this long.
        bool overdue = seen > 0 && Clock::now() - cancelled > std::chrono::seconds(kAnswerWaitS);
        if (presses == seen && !overdue) continue;
        if (seen == 0) {
            fputs("cancelling on the service...\n", stderr);
            cancelled = Clock::now();
            // Sent without the lock, so that the statement's end is not held up.
            lock.unlock();
            cancel_on_service(target_);
            lock.lock();
        }
        if ((presses >= 2 || overdue) && abort_exchange(target_)) {
            fprintf(stderr, "aborted; the query may still run on the service: token %s\n",
                    target_.token.c_str());
            return;
        }
        seen = presses;
    }
}

}  // namespace tarn_cli
