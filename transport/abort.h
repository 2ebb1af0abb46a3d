// Ending a session's exchange from another thread or a signal handler.
// Each operation gets a sequence number; an abort names the one in flight,
// so an abort that comes after it ended never reaches the next one.
#pragma once

#include <atomic>
#include <cstdint>

#if defined(_WIN32)
#include <mutex>
#endif

namespace tarn {

class Abort {
public:
    Abort();
    ~Abort();
    Abort(const Abort &) = delete;
    Abort &operator=(const Abort &) = delete;

    // Brackets one operation of the session's own thread.
    void begin();
    void end();

    // Any thread, and async-signal-safe outside Windows: marks the
    // operation in flight aborted and wakes its wait. Dropped when none is.
    void request();

    // The operation in flight was aborted.
    bool requested() const;

#if defined(_WIN32)
    // The backend's way to break a blocking call: fn(arg) runs under a lock
    // on request() while set; set null before arg goes away.
    void set_breaker(void (*fn)(void *), void *arg);
#else
    // Readable once request() was called; a backend adds it to its poll.
    int wake_fd() const {
        return fds_[0];
    }
    // Empties the wake pipe after a wake-up.
    void drain();
#endif

private:
    // Odd while an operation is in flight.
    std::atomic<uint64_t> op_{0};
    std::atomic<uint64_t> aborted_op_{0};
#if defined(_WIN32)
    std::mutex breaker_mu_;
    void (*breaker_)(void *) = nullptr;
    void *breaker_arg_ = nullptr;
#else
    int fds_[2] = {-1, -1};
#endif
};

}  // namespace tarn
