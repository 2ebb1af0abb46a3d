// The SQL a client may run, by allowance: the functions and PRAGMAs on the
// lists below pass the authorizer, everything else is refused by name.
#pragma once

#include <string>

namespace demo {

// The largest cache a client may ask for: pages (positive) or KiB (negative).
constexpr long long kMaxCachePages = 16384;
constexpr long long kMaxCacheKib = 65536;

// True for a function on the allow-list (core, date and time, math, JSON,
// aggregate, window and full-text helpers).
bool function_allowed(const char *name);

// "" when PRAGMA name (with arg, or nullptr for the bare form) is allowed;
// otherwise the statement as refused, such as "PRAGMA journal_mode=DELETE".
std::string pragma_refusal(const char *name, const char *arg);

// The authorizer every connection gets. refusal (a std::string) receives
// what was refused, so the reply can name it.
int authorize(void *refusal, int action, const char *a, const char *b, const char *c,
              const char *d);

}  // namespace demo
