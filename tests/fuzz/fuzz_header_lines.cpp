// The header-line walk both backends share: every line it hands out must
// be a terminated, non-empty piece of the block within the line bound, in
// block order.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "transport/wire.h"

namespace {

struct Walk {
    const std::string *block;
    size_t from = 0;
};

void on_line(const char *line, size_t len, void *ctx) {
    auto *w = static_cast<Walk *>(ctx);
    if (len == 0 || len > tarn::wire::kMaxHeaderLine || line[len] != '\0') abort();
    if (strlen(line) != len || memchr(line, '\n', len) != nullptr) abort();
    size_t at = w->block->find(std::string(line, len), w->from);
    if (at == std::string::npos) abort();
    w->from = at + len;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::string block(reinterpret_cast<const char *>(data), size);
    block = block.substr(0, block.find('\0'));
    Walk w{&block};
    tarn::wire::walk_header_lines(block.c_str(), on_line, &w);
    return 0;
}
