#include "transport/handover.h"

#include <cstdint>

#include "transport/heap.h"
#include "transport/huge_pages.h"

namespace tarn::handover {
namespace {

// A declared length beyond this is not trusted with an allocation up front.
constexpr long long kMaxReserve = 1LL << 30;

}  // namespace

char *give(Note *kept, wire::BodyBuffer *b) {
    Note note{b->data, b->len, b->cap};
    char *out = wire::body_take(b);
    // body_take allocates a one-byte text for an empty body.
    if (note.data == nullptr) note = Note{out, 0, out != nullptr ? 1U : 0U};
    *kept = note;
    return out;
}

bool take(Note *kept, const char *buf, size_t *len, size_t *cap) {
    Note note = *kept;
    *kept = Note{};
    if (buf == nullptr || buf != note.data) return false;
    *len = note.len;
    *cap = note.cap;
    return true;
}

void reserve(wire::BodyBuffer *b, long long n) {
    if (n <= 0 || n > kMaxReserve) return;
    size_t want = static_cast<size_t>(n) + kSlack;
    if (b->cap >= want) return;
    auto *grown = static_cast<char *>(mem_realloc(b->data, want));
    if (grown == nullptr) return;  // doubling takes over
    huge_pages::advise(grown, want);
    if (b->data == nullptr) grown[0] = '\0';
    b->data = grown;
    b->cap = want;
}

}  // namespace tarn::handover
