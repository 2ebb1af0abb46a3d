// Sets the library's heap hooks for one scope and puts the previous ones
// back however the scope ends, so a failing check cannot leave the next
// test short of memory.
#pragma once

#include <cstddef>
#include <cstdlib>

#include "transport/heap.h"

namespace tarn_test {

inline void *refuse_malloc(size_t) {
    return nullptr;
}

inline void *refuse_realloc(void *, size_t) {
    return nullptr;
}

// Fails the at-th allocation made through the malloc hook, counting from 1;
// seen counts them all.
struct FailNth {
    static inline int at = 0;
    static inline int seen = 0;
    static void *malloc(size_t size) { return ++seen == at ? nullptr : std::malloc(size); }
};

class HeapHooks {
public:
    // Null keeps the hook as it is.
    explicit HeapHooks(void *(*malloc_hook)(size_t) = nullptr,
                       void *(*realloc_hook)(void *, size_t) = nullptr) {
        if (malloc_hook != nullptr) tarn::mem_malloc = malloc_hook;
        if (realloc_hook != nullptr) tarn::mem_realloc = realloc_hook;
    }
    // From here on only the at-th allocation fails.
    static HeapHooks failing_nth(int at) {
        FailNth::at = at;
        FailNth::seen = 0;
        return HeapHooks(FailNth::malloc);
    }
    ~HeapHooks() {
        tarn::mem_malloc = saved_malloc_;
        tarn::mem_realloc = saved_realloc_;
    }
    HeapHooks(const HeapHooks &) = delete;
    HeapHooks &operator=(const HeapHooks &) = delete;

private:
    void *(*saved_malloc_)(size_t) = tarn::mem_malloc;
    void *(*saved_realloc_)(void *, size_t) = tarn::mem_realloc;
};

}  // namespace tarn_test
