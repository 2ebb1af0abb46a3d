#include "transport/winhttp/job.h"

#include <system_error>
#include <thread>

#include "transport/winhttp/context.h"

namespace tarn::winhttp {

namespace {

void wake_up(void *event) {
    SetEvent(static_cast<HANDLE>(event));
}

}  // namespace

Job::Job(const trace::Sink &caller) : caller_(caller) {
    if (caller_.on()) sink_.set(forward, this);
    done_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
}

Job::~Job() {
    if (done_ != nullptr) CloseHandle(done_);
}

void Job::forward(void *self, const char *line) {
    auto *job = static_cast<Job *>(self);
    std::lock_guard<std::mutex> lock(job->mu);
    if (!job->abandoned_) job->caller_.fn(job->caller_.user_data, line);
}

bool run(backend::Context *ctx, const std::shared_ptr<Job> &job) {
    Abort &abort = ctx->env->abort;
    if (abort.requested()) return false;
    if (job->done_ == nullptr) {
        // No event to wait on: the call runs here, and only ends by itself.
        job->run();
        return true;
    }
    ResetEvent(ctx->wake);
    abort.set_breaker(wake_up, ctx->wake);
    bool finished = false;
    bool aborted = abort.requested();
    std::thread worker;
    if (!aborted) {
        try {
            worker = std::thread([job] {
                job->run();
                SetEvent(job->done_);
            });
        } catch (const std::system_error &) {
            abort.set_breaker(nullptr, nullptr);
            job->run();
            return true;
        }
    }
    HANDLE waits[2] = {job->done_, ctx->wake};
    while (!aborted) {
        DWORD woke = WaitForMultipleObjects(2, waits, FALSE, INFINITE);
        if (woke == WAIT_OBJECT_0) {
            finished = true;
            break;
        }
        // Only this operation's abort counts; the event is cleared before
        // looking again, so one that comes meanwhile still wakes us.
        ResetEvent(ctx->wake);
        aborted = abort.requested() || woke != WAIT_OBJECT_0 + 1;
    }
    abort.set_breaker(nullptr, nullptr);
    if (finished) {
        worker.join();
        return true;
    }
    if (worker.joinable()) {
        {
            std::lock_guard<std::mutex> lock(job->mu);
            job->abandoned_ = true;
            job->on_abandon(ctx);
        }
        worker.detach();
    }
    return false;
}

}  // namespace tarn::winhttp
