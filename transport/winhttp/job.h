// Work that blocks in WinHTTP, run on a thread of its own while the
// caller waits, so that an abort ends the wait at once: under Wine a
// synchronous WinHTTP call does not return when another thread closes its
// handle, only at its own timeout. A job the caller gave up on runs to its
// end alone and then frees itself; from then on it reaches nothing of the
// caller's, its trace included.
#pragma once

#include <windows.h>

#include <atomic>
#include <memory>
#include <mutex>

#include "transport/trace.h"

namespace tarn::backend {
struct Context;
}

namespace tarn::winhttp {

class Job {
public:
    explicit Job(const trace::Sink &caller);
    virtual ~Job();
    Job(const Job &) = delete;
    Job &operator=(const Job &) = delete;

    // The blocking work, on the job's thread.
    virtual void run() = 0;

    // The caller stopped waiting; the job ends at its next step.
    bool abandoned() const { return abandoned_.load(); }

    // The caller's trace while it waits, silent once it left. Lines go out
    // under the job's lock, so never two at once nor one after the caller
    // left.
    const trace::Sink &sink() const { return sink_; }

    // Guards what the caller and the job both touch at the hand-over.
    std::mutex mu;

protected:
    // Runs under mu on the caller's thread as it gives up: takes over what
    // the job borrowed from ctx and still uses.
    virtual void on_abandon(backend::Context * /*ctx*/) {}

private:
    friend bool run(backend::Context *ctx, const std::shared_ptr<Job> &job);
    static void forward(void *self, const char *line);

    trace::Sink caller_;
    trace::Sink sink_;
    std::atomic<bool> abandoned_{false};
    HANDLE done_;
};

// Runs job on a thread of its own and waits for it or the session's
// abort. True when it finished; false when aborted before or during it.
bool run(backend::Context *ctx, const std::shared_ptr<Job> &job);

}  // namespace tarn::winhttp
