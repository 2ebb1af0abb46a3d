// Large buffers on transparent huge pages where the system grants them on
// request: filling a 98 MB reply and its parsed document page by page
// costs tens of thousands of page faults, a 2 MiB page one for 512.
#pragma once

#include <cstddef>

namespace tarn::huge_pages {

// Asks for huge pages under the whole pages of [p, p + n) when n is large;
// does nothing elsewhere or where the system does not offer them.
void advise(void *p, size_t n);

}  // namespace tarn::huge_pages
