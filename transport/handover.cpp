#include "transport/handover.h"

#include <cstdint>

#include "client/state.h"
#include "transport/huge_pages.h"

namespace tarn::handover {
namespace {

// A declared length beyond this is not trusted with an allocation up front.
constexpr long long kMaxReserve = 1LL << 30;

struct Note {
    const char *data = nullptr;
    size_t len = 0;
    size_t cap = 0;
};

Note s_note;

}  // namespace

char *give(wire::BodyBuffer *b) {
    Note note{b->data, b->len, b->cap};
    char *out = wire::body_take(b);
    // body_take allocates a one-byte text for an empty body.
    if (note.data == nullptr) note = Note{out, 0, out != nullptr ? 1U : 0U};
    s_note = note;
    return out;
}

bool take(const char *buf, size_t *len, size_t *cap) {
    Note note = s_note;
    s_note = Note{};
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
