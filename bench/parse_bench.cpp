// One yyjson parse of the large reply, as an application would parse a
// body it downloaded (the parser copies the text): the parse half of the
// floor that `tarn query` is measured against. Prints the median of five
// in milliseconds, each parse into fresh memory as in a new process.
//
// usage: tarn_parse_bench [ROWS]   (1000000)
#include <yyjson.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "big_reply.h"

int main(int argc, char **argv) {
    std::string text = tarn_bench::big_reply(argc > 1 ? atol(argv[1]) : 1000000);
    double ms[5];
    for (double &m : ms) {
        auto start = std::chrono::steady_clock::now();
        yyjson_doc *doc = yyjson_read_opts(text.data(), text.size(), 0, nullptr, nullptr);
        m = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count();
        if (doc == nullptr) return 1;
        yyjson_doc_free(doc);
    }
    std::sort(ms, ms + 5);
    printf("%.1f\n", ms[2]);
    return 0;
}
