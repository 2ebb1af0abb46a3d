#include "transport/huge_pages.h"

#include <cstdint>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace tarn::huge_pages {
namespace {

constexpr size_t kMinBytes = size_t{4} << 20;
constexpr uintptr_t kPage = 4096;

}  // namespace

void advise(void *p, size_t n) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    if (p == nullptr || n < kMinBytes) return;
    uintptr_t start = (reinterpret_cast<uintptr_t>(p) + kPage - 1) & ~(kPage - 1);
    uintptr_t end = (reinterpret_cast<uintptr_t>(p) + n) & ~(kPage - 1);
    if (end > start) madvise(reinterpret_cast<void *>(start), end - start, MADV_HUGEPAGE);
#else
    (void)p;
    (void)n;
#endif
}

}  // namespace tarn::huge_pages
