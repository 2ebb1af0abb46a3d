// Ctrl-C (and Ctrl-Break on Windows) as something the shell can count and
// wait on. The handler itself only counts and wakes a waiter; everything
// else runs on an ordinary thread.
#pragma once

#include <condition_variable>
#include <mutex>
#include <thread>

#include "cancel.h"

namespace tarn_cli {

// Installs the handler; until then Ctrl-C ends the program as it always did.
void install_interrupt_handler();
// Gives Ctrl-C back its default: ending the program at once.
void restore_default_interrupt();
// Ctrl-C presses since the last clear_interrupts().
int interrupt_count();
void clear_interrupts();
// Sleeps up to ms milliseconds; true as soon as Ctrl-C is pressed.
bool wait_for_interrupt(int ms);
// A descriptor that turns readable on Ctrl-C, for poll() beside a terminal;
// -1 where there is none (Windows).
int interrupt_fd();

// While a statement runs: the first Ctrl-C prints "cancelling on the
// service..." and calls cancel_on_service, the second calls abort_exchange
// and prints the token. Both hooks run on this watch's own thread.
// While another operation's exchange runs: the first Ctrl-C aborts it.
class AbortWatch {
public:
    AbortWatch();
    ~AbortWatch();
    AbortWatch(const AbortWatch &) = delete;
    AbortWatch &operator=(const AbortWatch &) = delete;

private:
    std::mutex mu_;
    std::condition_variable wake_;
    bool done_ = false;
    std::thread thread_;
};

class StatementWatch {
public:
    explicit StatementWatch(StatementTarget target);
    ~StatementWatch();
    StatementWatch(const StatementWatch &) = delete;
    StatementWatch &operator=(const StatementWatch &) = delete;

private:
    void watch();
    StatementTarget target_;
    std::mutex mu_;
    std::condition_variable wake_;
    bool done_ = false;
    std::thread thread_;
};

}  // namespace tarn_cli
