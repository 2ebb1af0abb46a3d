#include "transport/abort.h"

#if !defined(_WIN32)
#include <fcntl.h>
#include <unistd.h>
#endif

namespace tarn {

static_assert(std::atomic<uint64_t>::is_always_lock_free, "abort must stay async-signal-safe");

Abort::Abort() {
#if !defined(_WIN32)
    // Without the pipe an abort still marks the operation; the backend then
    // notices it at its next wake-up instead of at once.
    if (pipe(fds_) == 0) {
        for (int fd : fds_) {
            fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
            fcntl(fd, F_SETFD, FD_CLOEXEC);
        }
    } else {
        fds_[0] = fds_[1] = -1;
    }
#endif
}

Abort::~Abort() {
#if !defined(_WIN32)
    for (int fd : fds_)
        if (fd >= 0) ::close(fd);
#endif
}

void Abort::begin() {
#if !defined(_WIN32)
    drain();
#endif
    op_.fetch_add(1);
}

void Abort::end() {
    op_.fetch_add(1);
}

void Abort::request() {
    uint64_t op = op_.load();
    if ((op & 1) == 0) return;
    aborted_op_.store(op);
#if defined(_WIN32)
    std::lock_guard<std::mutex> lock(breaker_mu_);
    if (breaker_ != nullptr) breaker_(breaker_arg_);
#else
    if (fds_[1] >= 0) {
        char byte = 1;
        // A full pipe already holds a wake-up.
        ssize_t n = write(fds_[1], &byte, 1);
        (void)n;
    }
#endif
}

bool Abort::requested() const {
    uint64_t op = op_.load();
    return (op & 1) != 0 && aborted_op_.load() == op;
}

#if defined(_WIN32)
void Abort::set_breaker(void (*fn)(void *), void *arg) {
    std::lock_guard<std::mutex> lock(breaker_mu_);
    breaker_ = fn;
    breaker_arg_ = arg;
}
#else
void Abort::drain() {
    if (fds_[0] < 0) return;
    char buf[64];
    while (read(fds_[0], buf, sizeof buf) > 0) {
    }
}
#endif

}  // namespace tarn
