// The streaming grid reader against its floor, in one run: the large reply
// fed in 64 KiB chunks, as a download arrives, against one yyjson parse of
// the same bytes into a pool touched beforehand (so page faults count for
// neither). Prints the medians of seven and their ratio; exits 1 when the
// ratio misses the target.
//
// usage: tarn_stream_bench [ROWS]   (1000000)
#include <yyjson.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "big_reply.h"
#include "client/row_stream.h"

namespace {

constexpr double kTarget = 1.25;
constexpr size_t kChunk = 64 * 1024;
constexpr int kRounds = 7;

// What a consumer at least does with each row: look at every cell.
struct Sink {
    size_t rows = 0;
    size_t bytes = 0;
};

int on_row(void *user, const tarn::StreamCell *cells, size_t n) {
    auto *sink = static_cast<Sink *>(user);
    ++sink->rows;
    for (size_t i = 0; i < n; ++i) sink->bytes += cells[i].len;
    return 0;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

double ms_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

}  // namespace

int main(int argc, char **argv) {
    long rows = argc > 1 ? atol(argv[1]) : 1000000;
    std::string text = tarn_bench::big_reply(rows);

    size_t pool_size = yyjson_read_max_memory_usage(text.size(), 0);
    std::vector<char> pool(pool_size);
    memset(pool.data(), 1, pool.size());
    yyjson_alc alc;
    yyjson_alc_pool_init(&alc, pool.data(), pool.size());

    const tarn::RowStreamCallbacks callbacks = {nullptr, on_row, nullptr};
    std::vector<double> parse_ms;
    std::vector<double> stream_ms;
    for (int round = 0; round < kRounds; ++round) {
        auto start = std::chrono::steady_clock::now();
        yyjson_doc *doc = yyjson_read_opts(text.data(), text.size(), 0, &alc, nullptr);
        parse_ms.push_back(ms_since(start));
        if (doc == nullptr) {
            fputs("yyjson could not parse the reply\n", stderr);
            return 1;
        }
        yyjson_doc_free(doc);

        Sink sink;
        start = std::chrono::steady_clock::now();
        tarn::RowStream stream(callbacks, &sink);
        tarn::StreamStatus st = tarn::StreamStatus::kOk;
        for (size_t at = 0; at < text.size() && st == tarn::StreamStatus::kOk; at += kChunk)
            st = stream.feed(text.data() + at, std::min(kChunk, text.size() - at));
        if (st == tarn::StreamStatus::kOk) st = stream.finish();
        stream_ms.push_back(ms_since(start));
        if (st != tarn::StreamStatus::kOk || sink.rows != static_cast<size_t>(rows)) {
            fprintf(stderr, "stream: %zu rows, %s\n", sink.rows, stream.error());
            return 1;
        }
    }
    double parse = median(parse_ms);
    double stream = median(stream_ms);
    double ratio = stream / parse;
    printf("reply: %.1f MB, %ld rows x 8\n", static_cast<double>(text.size()) / 1e6, rows);
    printf("yyjson parse, pool touched beforehand: %.1f ms\n", parse);
    printf("row stream, 64 KiB chunks: %.1f ms\n", stream);
    printf("ratio %.2fx (target <= %.2fx)\n", ratio, kTarget);
    return ratio <= kTarget ? 0 : 1;
}
