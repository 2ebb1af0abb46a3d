// The streaming grid reader on any bytes: the first byte picks a chunk
// size, the rest is the reply. Fed whole and in those chunks it must
// deliver the same, and end the same way.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "client/row_stream.h"

namespace {

void add_cells(std::string *out, const tarn::StreamCell *cells, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        if (cells[i].text[cells[i].len] != '\0') abort();
        *out += std::to_string(cells[i].kind) + ":" + std::to_string(cells[i].len) + ":";
        out->append(cells[i].text, cells[i].len);
    }
    *out += "\n";
}

const tarn::RowStreamCallbacks kRecord = {
    [](void *u, const tarn::StreamCell *names, size_t n) {
        *static_cast<std::string *>(u) += "cols ";
        add_cells(static_cast<std::string *>(u), names, n);
        return 0;
    },
    [](void *u, const tarn::StreamCell *cells, size_t n) {
        *static_cast<std::string *>(u) += "row ";
        add_cells(static_cast<std::string *>(u), cells, n);
        return 0;
    },
    [](void *u, const tarn::StreamSetEnd *e) {
        *static_cast<std::string *>(u) +=
            "end " + std::to_string(e->rows) + (e->truncated ? " truncated\n" : "\n");
        return 0;
    },
};

std::string run(const char *data, size_t size, size_t chunk) {
    std::string out;
    tarn::RowStream stream(kRecord, &out);
    tarn::StreamStatus st = tarn::StreamStatus::kOk;
    for (size_t at = 0; at < size && st == tarn::StreamStatus::kOk; at += chunk)
        st = stream.feed(data + at, size - at < chunk ? size - at : chunk);
    if (st == tarn::StreamStatus::kOk) st = stream.finish();
    return out + std::to_string(static_cast<int>(st)) + " " + stream.error();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0) return 0;
    size_t chunk = 1 + data[0] % 64;
    const char *text = reinterpret_cast<const char *>(data + 1);
    if (run(text, size - 1, size) != run(text, size - 1, chunk)) abort();
    return 0;
}
