// The raw output (reply text and preview) and the choice of format.
#include "output.h"

#include <cerrno>
#include <cstring>
#include <memory>
#include <string>

#include "fields.h"
#include "result_grid.h"
#include "tarn_client.h"

namespace tarn_cli {
namespace {

constexpr int kPreviewRows = 20;
constexpr int kPreviewCols = 32;

void print_preview() {
    int rows = tarn_client_row_count();
    int cols = tarn_client_col_count();
    printf("# grid: %d rows x %d cols\n", rows, cols);
    int show_rows = rows < kPreviewRows ? rows : kPreviewRows;
    int show_cols = cols < kPreviewCols ? cols : kPreviewCols;
    for (int r = 0; r < show_rows; ++r) {
        for (int c = 0; c < show_cols; ++c) {
            if (c != 0) fputs("\t", stdout);
            const char *cell = tarn_client_cell(r, c);
            write_escaped(stdout, cell, strlen(cell));
        }
        fputs("\n", stdout);
    }
}

}  // namespace

void write_escaped(FILE *out, const char *s, size_t n) {
    size_t start = 0;
    for (size_t i = 0; i < n; ++i) {
        auto b = static_cast<unsigned char>(s[i]);
        if (b >= 0x20 && b != 0x7f) continue;
        fwrite(s + start, 1, i - start, out);
        start = i + 1;
        if (b == '\t')
            fputs("\\t", out);
        else if (b == '\n')
            fputs("\\n", out);
        else if (b == '\r')
            fputs("\\r", out);
        else
            fprintf(out, "\\x%02x", b);
    }
    fwrite(s + start, 1, n - start, out);
}

void print_error_line(const char *message) {
    fputs("ERROR: ", stderr);
    write_escaped(stderr, message, strlen(message));
    fputs("\n", stderr);
}

namespace {

void print_grid(Format format, const GridSource &g) {
    switch (format) {
        case Format::Table:
            print_table(g, stdout, stdout_is_terminal() ? terminal_width() : 0);
            break;
        case Format::Csv:
            print_csv(g, stdout);
            break;
        case Format::Tsv:
            print_tsv(g, stdout);
            break;
        case Format::Json:
            print_json_lines(g, stdout);
            break;
        case Format::Raw:
            break;
    }
}

void note_cut(int set, int rows) {
    fprintf(stderr, "tarn: result set %d cut by the service after %d rows\n", set, rows);
}

// Every set of a batched reply in order: a table or CSV/TSV block each,
// an empty line between them; JSON lines run on.
void print_sets(Format format) {
    std::unique_ptr<tarn_result, void (*)(tarn_result *)> r(tarn_client_take_result(),
                                                            tarn_result_free);
    int sets = r ? tarn_result_set_count(r.get()) : 0;
    for (int i = 0; i < sets; ++i) {
        if (i > 0 && format != Format::Json) fputs("\n", stdout);
        ResultGrid g(r.get(), i);
        print_grid(format, g);
        if (tarn_result_truncated(r.get()) != 0) note_cut(i + 1, g.row_count());
    }
}

}  // namespace

void print_reply_without_grid() {
    printf("%s\n", tarn_client_result());
    fputs("tarn: no result grid in the reply\n", stderr);
}

void print_result(Format format) {
    bool grid = tarn_client_row_count() >= 0;
    if (format == Format::Raw) {
        printf("%s\n", tarn_client_result());
        if (grid) print_preview();
        return;
    }
    if (!grid) {
        print_reply_without_grid();
        return;
    }
    if (tarn_client_set_count() > 1) {
        print_sets(format);
        return;
    }
    LastReplyGrid g;
    print_grid(format, g);
    if (tarn_client_truncated() != 0) note_cut(1, g.row_count());
}

namespace {
int g_output_error = 0;
}  // namespace

void note_output_error(int err) {
    g_output_error = err;
}

bool finish_output() {
    // A write that failed earlier left its reason in errno, unless the
    // last flush fails again and gives it afresh.
    int err = g_output_error != 0 ? g_output_error : errno;
    bool failed = ferror(stdout) != 0 || g_output_error != 0;
    if (fflush(stdout) != 0) {
        err = errno;
        failed = true;
    }
    if (!failed) {
        // Nothing is buffered now, so a descriptor that was never open
        // (EBADF) lost nothing: any write to it would have failed above.
        if (fclose(stdout) == 0 || errno == EBADF) return true;
        err = errno;
    }
    std::string line = std::string("cannot write output: ") + strerror(err != 0 ? err : EIO);
    print_error_line(line.c_str());
    return false;
}

int LastReplyGrid::row_count() const {
    return tarn_client_row_count();
}
int LastReplyGrid::col_count() const {
    return tarn_client_col_count();
}
const char *LastReplyGrid::col_name(int col) const {
    return tarn_client_col_name(col);
}
int LastReplyGrid::cell_kind(int row, int col) const {
    return tarn_client_cell_kind(row, col);
}
const char *LastReplyGrid::cell_text(int row, int col, size_t *n) const {
    return tarn_client_cell_text(row, col, n);
}
const char *LastReplyGrid::cell_json(int row, int col, size_t *n) const {
    return tarn_client_cell_json(row, col, n);
}
}  // namespace tarn_cli
