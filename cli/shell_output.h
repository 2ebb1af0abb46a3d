// Where the shell's results go: standard output (through a pager when
// taller than the terminal), or the file \o names. And the elapsed time a
// slow statement shows on standard error.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>

namespace tarn_cli {

class ShellOutput {
public:
    ShellOutput();
    ~ShellOutput();
    // \o FILE; "" goes back to standard output. False with *error on failure.
    bool redirect(const std::string &path, std::string *error);
    // Where one result is written; finish() shows it.
    FILE *begin();
    void finish();
    // True when results go to a terminal (the width \x auto measures).
    bool to_terminal() const { return file_ == nullptr && terminal_; }

private:
    FILE *file_ = nullptr;  // \o target
    FILE *held_ = nullptr;  // a result waiting for finish()
    bool terminal_ = false;
};

// Rows of the terminal on standard output (0 when unknown).
size_t terminal_height();

// "elapsed 2.4 s" on standard error, redrawn while a statement runs past
// a second, erased when it ends; nothing unless enabled.
class ElapsedTicker {
public:
    explicit ElapsedTicker(bool enabled);
    ~ElapsedTicker();
    ElapsedTicker(const ElapsedTicker &) = delete;
    ElapsedTicker &operator=(const ElapsedTicker &) = delete;

private:
    std::mutex mu_;
    std::condition_variable cv_;
    bool done_ = false;
    std::thread thread_;
};

}  // namespace tarn_cli
