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
    // madvise takes whole pages: skip to the first page boundary in p.
    size_t lead = (kPage - reinterpret_cast<uintptr_t>(p) % kPage) % kPage;
    size_t len = (n - lead) & ~static_cast<size_t>(kPage - 1);
    if (len > 0) madvise(static_cast<char *>(p) + lead, len, MADV_HUGEPAGE);
#else
    (void)p;
    (void)n;
#endif
}

}  // namespace tarn::huge_pages
