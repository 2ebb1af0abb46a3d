// Times reading every cell of large result grids through tarn_client_cell.
// Reading a whole grid must cost time linear in its size: the cost per cell
// of a 1,000,000-row grid may be at most 1.5 times that of a 10,000-row one,
// and of a row of 40,000 columns at most 1.5 times that of a row of 5,000,
// or the program exits with status 1.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tarn_client.h"

namespace {

constexpr int kCols = 8;
constexpr double kMaxRatio = 1.5;
constexpr int kTrials = 3;
constexpr double kMinTrialSeconds = 0.5;
constexpr double kDeadlineSeconds = 10.0;

const std::string *g_reply;

char *copy_reply() {
    auto *buf = static_cast<char *>(malloc(g_reply->size() + 1));
    memcpy(buf, g_reply->c_str(), g_reply->size() + 1);
    return buf;
}

int32_t serve_get(void *, const char *, const char *, char **out_body, int32_t *out_status,
                  char **) {
    *out_body = copy_reply();
    *out_status = 200;
    return 0;
}

int32_t serve_post(void *, const char *, const char *, const char *, char **out_body,
                   int32_t *out_status, char **) {
    *out_body = copy_reply();
    *out_status = 200;
    return 0;
}

// No free slot: the library releases the bodies with free().
const tarn_client_io kTable = {nullptr, serve_get, serve_post, nullptr, nullptr, nullptr};

void append_cell(std::string &out, long i, int c) {
    char buf[64];
    switch (c % 4) {
        case 0:
            snprintf(buf, sizeof buf, "%ld", i);
            break;
        case 1:
            snprintf(buf, sizeof buf, "\"name-%ld\"", i);
            break;
        case 2:
            snprintf(buf, sizeof buf, "%.3f", static_cast<double>(i) * 0.25 + c);
            break;
        default:
            snprintf(buf, sizeof buf, "%ld", -i * c);
    }
    out += buf;
}

std::string columns_json(int cols = kCols) {
    std::string out = "\"columns\":[";
    for (int c = 0; c < cols; ++c) {
        char name[32];
        snprintf(name, sizeof name, "%s\"c%d\"", c ? "," : "", c);
        out += name;
    }
    out += ']';
    return out;
}

// Each row is an array, so the rows array holds containers and yyjson can
// only reach a row by walking.
std::string array_rows(long n) {
    std::string out = "{";
    out += columns_json();
    out += ",\"rows\":[";
    out.reserve(static_cast<size_t>(n) * 80);
    for (long i = 0; i < n; ++i) {
        out += i ? ",[" : "[";
        for (int c = 0; c < kCols; ++c) {
            if (c) out += ',';
            append_cell(out, i, c);
        }
        out += ']';
    }
    out += "]}";
    return out;
}

// Members in reverse column order, so every lookup by name walks the row.
std::string object_rows(long n) {
    std::string out = "{";
    out += columns_json();
    out += ",\"rows\":[";
    out.reserve(static_cast<size_t>(n) * 120);
    for (long i = 0; i < n; ++i) {
        out += i ? ",{" : "{";
        for (int c = kCols - 1; c >= 0; --c) {
            char key[32];
            snprintf(key, sizeof key, "\"c%d\":", c);
            out += key;
            append_cell(out, i, c);
            if (c) out += ',';
        }
        out += '}';
    }
    out += "]}";
    return out;
}

// Wide rows: a few rows of many columns.
constexpr int kWideRows = 4;

// Object rows with members in reverse column order, read by name.
std::string wide_object_rows(long cols) {
    auto n = static_cast<int>(cols);
    std::string out = "{";
    out += columns_json(n);
    out += ",\"rows\":[";
    for (int i = 0; i < kWideRows; ++i) {
        out += i ? ",{" : "{";
        for (int c = n - 1; c >= 0; --c) {
            char key[32];
            snprintf(key, sizeof key, "\"c%d\":", c);
            out += key;
            append_cell(out, i, c);
            if (c) out += ',';
        }
        out += '}';
    }
    return out + "]}";
}

// Array rows whose cells include containers, so yyjson reaches a cell by
// walking from the first.
std::string wide_container_rows(long cols) {
    auto n = static_cast<int>(cols);
    std::string out = "{\"rows\":[";
    for (int i = 0; i < kWideRows; ++i) {
        out += i ? ",[" : "[";
        for (int c = 0; c < n; ++c) {
            if (c) out += ',';
            if (c % 4 == 3) {
                out += '[';
                out += std::to_string(c);
                out += ']';
            } else {
                append_cell(out, i, c);
            }
        }
        out += ']';
    }
    return out + "]}";
}

size_t g_sink;

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

struct Timing {
    double ns_per_cell;
    bool cut_short;  // a pass ran past the deadline: reading is far from linear
};

// The best of several trials; a trial reads the whole grid again until it
// has run for kMinTrialSeconds, so small grids are read many times.
Timing time_reads(int rows, int cols = kCols) {
    Timing best{1e300, false};
    for (int t = 0; t < kTrials && !best.cut_short; ++t) {
        long cells = 0;
        Clock::time_point start = Clock::now();
        double elapsed = 0;
        do {
            long unchecked = 0;
            for (int r = 0; r < rows; ++r) {
                for (int c = 0; c < cols; ++c) g_sink += strlen(tarn_client_cell(r, c));
                cells += cols;
                unchecked += cols;
                // A quadratic reader would never finish a million rows.
                if (unchecked >= 8192 && seconds_since(start) > kDeadlineSeconds) {
                    best.cut_short = true;
                    break;
                }
                if (unchecked >= 8192) unchecked = 0;
            }
            elapsed = seconds_since(start);
        } while (elapsed < kMinTrialSeconds && !best.cut_short);
        best.ns_per_cell = std::min(best.ns_per_cell, elapsed * 1e9 / static_cast<double>(cells));
    }
    return best;
}

struct Variant {
    const char *name;
    std::string (*make)(long);
    int (*load)();
};

int load_by_query() {
    return tarn_client_query("bench", "db", "select * from t", 0, 0, nullptr);
}

// Returns false when the per-cell cost grows more than linearly.
bool run(const Variant &v) {
    const long sizes[] = {10'000, 100'000, 1'000'000};
    std::vector<double> per_cell;
    bool cut_short = false;
    printf("%s, %d columns\n%10s %10s %9s\n", v.name, kCols, "rows", "cells", "ns/cell");
    for (long n : sizes) {
        std::string reply = v.make(n);
        g_reply = &reply;
        if (v.load() != 0 || tarn_client_row_count() != n || tarn_client_col_count() != kCols) {
            fprintf(stderr, "grid of %ld rows not loaded: %s\n", n, tarn_client_last_error());
            exit(2);
        }
        Timing t = time_reads(static_cast<int>(n));
        per_cell.push_back(t.ns_per_cell);
        cut_short = cut_short || t.cut_short;
        printf("%10ld %10ld %9.1f%s\n", n, n * kCols, t.ns_per_cell,
               t.cut_short ? "  (stopped at the deadline)" : "");
    }
    double ratio = per_cell.back() / per_cell.front();
    printf("ratio 1M/10k: %.2f (limit %.2f)\n\n", ratio, kMaxRatio);
    return ratio <= kMaxRatio && !cut_short;
}

// Returns false when the per-cell cost of a row grows with its width.
bool run_wide(const Variant &v) {
    const long widths[] = {5'000, 40'000};
    std::vector<double> per_cell;
    bool cut_short = false;
    printf("%s, %d rows\n%10s %10s %9s\n", v.name, kWideRows, "columns", "cells", "ns/cell");
    for (long n : widths) {
        std::string reply = v.make(n);
        g_reply = &reply;
        if (v.load() != 0 || tarn_client_row_count() != kWideRows || tarn_client_col_count() != n) {
            fprintf(stderr, "rows of %ld columns not loaded: %s\n", n, tarn_client_last_error());
            exit(2);
        }
        Timing t = time_reads(kWideRows, static_cast<int>(n));
        per_cell.push_back(t.ns_per_cell);
        cut_short = cut_short || t.cut_short;
        printf("%10ld %10ld %9.1f%s\n", n, n * kWideRows, t.ns_per_cell,
               t.cut_short ? "  (stopped at the deadline)" : "");
    }
    double ratio = per_cell.back() / per_cell.front();
    printf("ratio 40k/5k: %.2f (limit %.2f)\n\n", ratio, kMaxRatio);
    return ratio <= kMaxRatio && !cut_short;
}

}  // namespace

int main() {
    tarn_client_init();
    tarn_client_set_host("http://bench");
    tarn_client_set_io(&kTable);
    const Variant variants[] = {
        {"array rows, read by position", array_rows, load_by_query},
        {"object rows, read by column name", object_rows, tarn_client_ping},
    };
    const Variant wide[] = {
        {"wide object rows, read by column name", wide_object_rows, load_by_query},
        {"wide array rows holding containers, read by position", wide_container_rows,
         tarn_client_ping},
    };
    bool linear = true;
    for (const auto &v : variants) linear = run(v) && linear;
    for (const auto &v : wide) linear = run_wide(v) && linear;
    tarn_client_cleanup();
    if (g_sink == 0) return 2;  // keeps the reads from being optimised away
    return linear ? 0 : 1;
}
