// Hands a download's bytes from the thread receiving them to a thread of
// its own that reads them, so that receiving and reading rows run on two
// cores at once. Memory stays at a few fixed blocks: the receiving side
// waits while they are all full.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <thread>

namespace tarn {

class BodyPipe {
public:
    // Reads n bytes on the pipe's thread; false reads no more.
    using Reader = bool (*)(void *user, const char *data, size_t n);

    BodyPipe(Reader reader, void *user);
    ~BodyPipe();
    BodyPipe(const BodyPipe &) = delete;
    BodyPipe &operator=(const BodyPipe &) = delete;

    // Starts the reading thread; false (nothing started) on one core, out
    // of memory or without a thread, when the caller reads the bytes itself.
    bool start();
    // Copies bytes in, waiting for room; false once the reader stopped.
    bool put(const char *data, size_t n);
    // No more bytes: waits until the reader has read what was put, or with
    // drop, until it finished the block at hand and dropped the rest.
    void close(bool drop);

private:
    static constexpr size_t kBlocks = 4;
    static constexpr size_t kBlockSize = size_t{1} << 20;

    void run();
    bool publish(std::unique_lock<std::mutex> &lock);

    Reader reader_;
    void *user_;
    char *blocks_[kBlocks] = {};
    size_t lens_[kBlocks] = {};
    size_t fill_ = 0;    // the block being filled (the receiver's own)
    size_t read_ = 0;    // the next block to read
    size_t queued_ = 0;  // filled blocks waiting for the reader
    bool closed_ = false;
    bool dropped_ = false;
    bool stopped_ = false;  // the reader returned false
    std::mutex mu_;
    std::condition_variable cv_;
    std::thread thread_;
};

}  // namespace tarn
