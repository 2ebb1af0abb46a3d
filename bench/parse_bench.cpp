// One yyjson parse of the large reply, as an application would parse a
// body it downloaded (the parser copies the text): the parse half of the
// floor that `tarn query` is measured against. Prints the median of five
// in milliseconds.
//
// usage: tarn_parse_bench [--touched] [ROWS | --file PATH]
//   ROWS       rows of the generated reply (1000000)
//   --file     parse the bytes of PATH instead
//   --touched  parse into a pool written to beforehand, so that page faults
//              do not count, and print "MS BYTES" (the text's size, for the
//              caller to check it parsed what was served); without it each
//              parse goes into fresh memory as in a new process.
#include <yyjson.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "big_reply.h"

namespace {

constexpr int kRounds = 5;

// Counts the bytes live at once during a parse, to size the pool: the
// estimate yyjson offers is 13 times the text, which at 1 GB does not fit.
struct Counter {
    size_t live = 0;
    size_t peak = 0;
};

void *count_malloc(void *ctx, size_t size) {
    auto *c = static_cast<Counter *>(ctx);
    c->live += size;
    c->peak = std::max(c->peak, c->live);
    return malloc(size);
}

void *count_realloc(void *ctx, void *ptr, size_t old_size, size_t size) {
    auto *c = static_cast<Counter *>(ctx);
    // The pool grows its last block in place, where the value array lies.
    c->live += size - old_size;
    c->peak = std::max(c->peak, c->live);
    return realloc(ptr, size);
}

void count_free(void *ctx, void *ptr) {
    (void)ctx;
    free(ptr);
}

bool read_file(const char *path, std::string *out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    out->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

}  // namespace

int main(int argc, char **argv) {
    bool touched = false;
    const char *file = nullptr;
    long rows = 1000000;
    for (int i = 1; i < argc; ++i) {
        if (strcmp(argv[i], "--touched") == 0) {
            touched = true;
        } else if (strcmp(argv[i], "--file") == 0 && i + 1 < argc) {
            file = argv[++i];
        } else if (argv[i][0] >= '0' && argv[i][0] <= '9') {
            rows = atol(argv[i]);
        } else {
            fputs("usage: tarn_parse_bench [--touched] [ROWS | --file PATH]\n", stderr);
            return 2;
        }
    }
    std::string text;
    if (file == nullptr) {
        text = tarn_bench::big_reply(rows);
    } else if (!read_file(file, &text)) {
        fprintf(stderr, "tarn_parse_bench: cannot read %s\n", file);
        return 2;
    }

    std::vector<char> pool;
    yyjson_alc alc;
    yyjson_alc *use = nullptr;
    if (touched) {
        Counter counter;
        const yyjson_alc counting = {count_malloc, count_realloc, count_free, &counter};
        yyjson_doc *dry = yyjson_read_opts(text.data(), text.size(), 0, &counting, nullptr);
        if (dry == nullptr) return 1;
        yyjson_doc_free(dry);
        // Room for the pool's own chunk headers and alignment.
        pool.resize(counter.peak + counter.peak / 16 + (1 << 20));
        memset(pool.data(), 1, pool.size());
        yyjson_alc_pool_init(&alc, pool.data(), pool.size());
        use = &alc;
    }

    double ms[kRounds];
    for (double &m : ms) {
        auto start = std::chrono::steady_clock::now();
        yyjson_doc *doc = yyjson_read_opts(text.data(), text.size(), 0, use, nullptr);
        m = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count();
        if (doc == nullptr) {
            fputs("tarn_parse_bench: yyjson could not parse the reply\n", stderr);
            return 1;
        }
        yyjson_doc_free(doc);
    }
    std::sort(ms, ms + kRounds);
    if (touched)
        printf("%.1f %zu\n", ms[kRounds / 2], text.size());
    else
        printf("%.1f\n", ms[kRounds / 2]);
    return 0;
}
