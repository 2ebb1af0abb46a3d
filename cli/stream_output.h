// Result sets printed as their rows arrive, for exports of any size: CSV,
// TSV and JSON lines row by row; a table off a terminal once its set ends,
// its rows waiting in a temporary file until the column widths are known.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "plan.h"
#include "tarn_client.h"

namespace tarn_cli {

// True when a format prints from the streaming reader: all but raw, and
// a table only when standard output is not a terminal.
bool streams(Format format);

class StreamPrinter {
public:
    StreamPrinter(Format format, FILE *out);
    ~StreamPrinter();
    StreamPrinter(const StreamPrinter &) = delete;
    StreamPrinter &operator=(const StreamPrinter &) = delete;

    const tarn_row_callbacks *callbacks() const;
    // Writes what is buffered to out.
    void flush();
    // A write failed (the rows stopped there) or the table's temporary
    // file could not be used: failure() is kWriteFailed or kSpoolFailed,
    // errno_value() says why.
    static constexpr const char *kWriteFailed = "cannot write output";
    static constexpr const char *kSpoolFailed = "cannot use a temporary file";
    bool failed() const { return failed_; }
    const char *failure() const { return what_; }
    int errno_value() const { return errno_; }
    // Result sets printed whole.
    int sets() const { return sets_; }

private:
    static int on_columns(void *self, int set, const tarn_cell *names, size_t count);
    static int on_row(void *self, int set, const tarn_cell *cells, size_t count);
    static int on_set_end(void *self, int set, uint64_t rows, int truncated);

    char *room(size_t need);
    void put(const char *s, size_t n);
    void put(char c);
    void put_csv(const char *s, size_t n);
    void put_tsv(const char *s, size_t n);
    void put_json_string(const char *s, size_t n);
    void put_json(const tarn_cell &cell);
    bool spool_row(const tarn_cell *cells, size_t count);
    bool print_spooled_table(uint64_t rows);
    void fail(int err, const char *what);

    Format format_;
    FILE *out_;
    std::vector<char> buf_;
    size_t len_ = 0;
    bool failed_ = false;
    int errno_ = 0;
    const char *what_ = "";
    int sets_ = 0;
    // The set being printed.
    std::vector<std::string> labels_;  // JSON lines: "label": ready to write
    std::vector<size_t> widths_;       // table
    FILE *spool_ = nullptr;            // table rows until the set ends
};

}  // namespace tarn_cli
