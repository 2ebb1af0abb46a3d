#include "body_pipe.h"

#include <cstdlib>
#include <cstring>
#include <system_error>

#include "transport/heap.h"

namespace tarn {

BodyPipe::BodyPipe(Reader reader, void *user) : reader_(reader), user_(user) {}

BodyPipe::~BodyPipe() {
    if (thread_.joinable()) close(true);
    for (char *b : blocks_) free(b);
}

bool BodyPipe::start() {
    if (std::thread::hardware_concurrency() < 2) return false;
    for (char *&b : blocks_) {
        b = static_cast<char *>(mem_realloc(nullptr, kBlockSize));
        if (b == nullptr) return false;
    }
    try {
        thread_ = std::thread([this] { run(); });
    } catch (const std::system_error &) {
        return false;
    }
    return true;
}

// Hands the block being filled to the reader, waiting for a free one.
bool BodyPipe::publish(std::unique_lock<std::mutex> &lock) {
    ++queued_;
    cv_.notify_all();
    cv_.wait(lock, [this] { return queued_ < kBlocks || stopped_; });
    fill_ = (fill_ + 1) % kBlocks;
    lens_[fill_] = 0;
    return !stopped_;
}

bool BodyPipe::put(const char *data, size_t n) {
    while (n > 0) {
        // The block being filled is the receiver's alone until published.
        size_t room = kBlockSize - lens_[fill_];
        size_t take = n < room ? n : room;
        memcpy(blocks_[fill_] + lens_[fill_], data, take);
        lens_[fill_] += take;
        data += take;
        n -= take;
        if (lens_[fill_] == kBlockSize) {
            std::unique_lock<std::mutex> lock(mu_);
            if (!publish(lock)) return false;
        }
    }
    // An idle reader takes what there is: rows that trickle in are not
    // held back until a block fills.
    std::unique_lock<std::mutex> lock(mu_);
    if (queued_ == 0 && lens_[fill_] > 0 && !stopped_) return publish(lock);
    return !stopped_;
}

void BodyPipe::close(bool drop) {
    {
        std::unique_lock<std::mutex> lock(mu_);
        if (lens_[fill_] > 0 && !drop && !stopped_) ++queued_;
        closed_ = true;
        dropped_ = drop;
        cv_.notify_all();
    }
    if (thread_.joinable()) thread_.join();
}

void BodyPipe::run() {
    std::unique_lock<std::mutex> lock(mu_);
    for (;;) {
        cv_.wait(lock, [this] { return queued_ > 0 || closed_; });
        if (queued_ == 0 || dropped_ || stopped_) return;
        size_t at = read_;
        lock.unlock();
        bool more = reader_(user_, blocks_[at], lens_[at]);
        lock.lock();
        read_ = (read_ + 1) % kBlocks;
        --queued_;
        if (!more) stopped_ = true;
        cv_.notify_all();
    }
}

}  // namespace tarn
