// Deadline bookkeeping for the caller's time limit.
#include "transport/exchange_limits.h"

#include <chrono>
#include <cstdio>

namespace tarn::limits {

int32_t max_time_s = 0;

namespace {

using Clock = std::chrono::steady_clock;

// Fixed at the start of an operation, so a later change of the limit does
// not move the deadline of one already running.
int32_t armed_s = 0;
Clock::time_point deadline;
char message[48];

}  // namespace

void begin_operation() {
    armed_s = max_time_s;
    if (armed_s > 0) deadline = Clock::now() + std::chrono::seconds(armed_s);
}

bool active() {
    return armed_s > 0;
}

long remaining_ms() {
    auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<long>(left) : 0;
}

bool expired() {
    return active() && remaining_ms() <= kExpirySlackMs;
}

const char *timeout_message() {
    snprintf(message, sizeof message, "timed out after %d s", static_cast<int>(armed_s));
    return message;
}

}  // namespace tarn::limits
