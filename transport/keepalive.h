// Keeping the default backend's connection between calls, off unless the
// caller turns it on with tarn_client_set_keepalive. Process-wide, like the
// rest of the client state.
#pragma once

namespace tarn::keepalive {

// A kept connection idle for longer than this many seconds is not reused
// (30; a variable only so that tests can shorten it).
extern long idle_seconds;

// Whether the default backend keeps its connection (client/keepalive.cpp).
extern bool enabled;

// Closes the kept connection, if any; the platform's backend defines it.
void close();

}  // namespace tarn::keepalive
