#include "heap.h"

#include <cstdlib>

namespace tarn {

void *(*mem_malloc)(size_t) = malloc;
void *(*mem_realloc)(void *, size_t) = realloc;

}  // namespace tarn
