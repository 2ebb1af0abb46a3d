// The library's heap hooks: every allocation whose failure the library
// reports goes through them, so tests can make one fail on demand.
#pragma once

#include <cstddef>

namespace tarn {

extern void *(*mem_malloc)(size_t);
extern void *(*mem_realloc)(void *, size_t);

}  // namespace tarn
