// The caller's time limit for one operation, shared by the core, which arms
// it, and the library's own backends, which bound their waits by it.
#pragma once

#include <cstdint>

namespace tarn::limits {

// Seconds all exchanges of one operation may take together; 0: none, the
// backends keep their own timeouts.
extern int32_t max_time_s;

// Starts the clock of a new operation (clear_state calls it).
void begin_operation();

// True when a limit binds the current operation.
bool active();

// Milliseconds left before the deadline, at least 0; only meaningful when
// active().
long remaining_ms();

// A limit binds and its deadline has come. A backend timer may fire a
// little before our clock agrees, so the last kExpirySlackMs count too: a
// transport failure then is the limit's doing.
constexpr long kExpirySlackMs = 250;
bool expired();

// "timed out after N s" for the current limit.
const char *timeout_message();

}  // namespace tarn::limits
