// A session's time limit for one operation, armed by the core and read by
// the library's own backends, which bound their waits by it.
#pragma once

#include <chrono>
#include <cstdint>

namespace tarn::limits {

// A backend timer may fire a little before our clock agrees, so the last
// kExpirySlackMs count too: a transport failure then is the limit's doing.
constexpr long kExpirySlackMs = 250;

class Clock {
public:
    // Seconds all exchanges of one operation may take together; 0: none,
    // the backends keep their own timeouts.
    int32_t max_time_s = 0;

    // Starts the clock of a new operation. The deadline is fixed here, so a
    // later change of the limit does not move one already running.
    void begin_operation();

    // True when a limit binds the current operation.
    bool active() const { return armed_s_ > 0; }

    // Milliseconds left before the deadline, at least 0; only meaningful
    // when active().
    long remaining_ms() const;

    // A limit binds and its deadline (less the slack) has come.
    bool expired() const { return active() && remaining_ms() <= kExpirySlackMs; }

    // "timed out after N s" for the current limit.
    const char *timeout_message();

private:
    int32_t armed_s_ = 0;
    std::chrono::steady_clock::time_point deadline_;
    char message_[48] = "";
};

}  // namespace tarn::limits
