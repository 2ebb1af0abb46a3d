// Deadline bookkeeping for a session's time limit.
#include "transport/exchange_limits.h"

#include <cstdio>

namespace tarn::limits {

void Clock::begin_operation() {
    armed_s_ = max_time_s;
    if (armed_s_ > 0) deadline_ = std::chrono::steady_clock::now() + std::chrono::seconds(armed_s_);
}

long Clock::remaining_ms() const {
    auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline_ - std::chrono::steady_clock::now())
            .count();
    return left > 0 ? static_cast<long>(left) : 0;
}

const char *Clock::timeout_message() {
    snprintf(message_, sizeof message_, "timed out after %d s", static_cast<int>(armed_s_));
    return message_;
}

}  // namespace tarn::limits
