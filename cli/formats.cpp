// The whole grid as table, CSV, TSV or JSON lines. Each writer reads cell
// by cell and writes as it goes: nothing but column widths is kept.
#include <cstring>
#include <vector>

#include "fields.h"
#include "grid_source.h"
#include "output.h"
#include "tarn_client.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/ioctl.h>
#include <unistd.h>
#endif

namespace tarn_cli {
namespace {

// A cell's text for the formats, uncut; numbers as the reply wrote them, so
// no digit is lost.
const char *cell_text(const GridSource &g, int row, int col, size_t *n) {
    return g.cell_text(row, col, n);
}

const char *label_of(const GridSource &g, int col, char *buf, size_t cap) {
    return column_label(g.col_name(col), col, buf, cap);
}

// Header and rows of a separated-values format.
void print_separated(const GridSource &g, FILE *out, char sep, const char *eol,
                     void (*put)(FILE *, const char *, size_t)) {
    int rows = g.row_count();
    int cols = g.col_count();
    char buf[kLabelCap];
    for (int c = 0; c < cols; ++c) {
        if (c != 0) fputc(sep, out);
        const char *label = label_of(g, c, buf, sizeof buf);
        put(out, label, strlen(label));
    }
    fputs(eol, out);
    for (int r = 0; r < rows; ++r) {
        for (int c = 0; c < cols; ++c) {
            if (c != 0) fputc(sep, out);
            size_t n = 0;
            const char *cell = cell_text(g, r, c, &n);
            put(out, cell, n);
        }
        fputs(eol, out);
    }
}

// Each column's widest text, header included.
std::vector<size_t> natural_widths(const GridSource &g) {
    int rows = g.row_count();
    int cols = g.col_count();
    char buf[kLabelCap];
    std::vector<size_t> width(static_cast<size_t>(cols > 0 ? cols : 0));
    for (int c = 0; c < cols; ++c) {
        const char *label = label_of(g, c, buf, sizeof buf);
        width[c] = display_width(label, strlen(label));
    }
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < cols; ++c) {
            size_t n = 0;
            const char *cell = cell_text(g, r, c, &n);
            size_t w = display_width(cell, n);
            if (w > width[c]) width[c] = w;
        }
    return width;
}

}  // namespace

size_t terminal_width() {
#ifdef _WIN32
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info))
        return static_cast<size_t>(info.srWindow.Right - info.srWindow.Left + 1);
#else
    winsize ws{};
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0) return ws.ws_col;
#endif
    return 80;
}

void print_csv(const GridSource &g, FILE *out) {
    print_separated(g, out, ',', "\r\n", put_csv_field);
}

void print_tsv(const GridSource &g, FILE *out) {
    print_separated(g, out, '\t', "\n", put_tsv_field);
}

void print_json_lines(const GridSource &g, FILE *out) {
    int rows = g.row_count();
    int cols = g.col_count();
    char buf[kLabelCap];
    for (int r = 0; r < rows; ++r) {
        fputc('{', out);
        bool first = true;
        for (int c = 0; c < cols; ++c) {
            size_t n = 0;
            const char *json = g.cell_json(r, c, &n);
            if (n == 0) continue;  // the row has no such cell
            if (!first) fputc(',', out);
            first = false;
            put_json_string(out, label_of(g, c, buf, sizeof buf));
            fputc(':', out);
            fwrite(json, 1, n, out);
        }
        fputs("}\n", out);
    }
}

size_t table_width(const GridSource &g) {
    std::vector<size_t> width = natural_widths(g);
    if (width.empty()) return 0;
    size_t total = 3 * (width.size() - 1);
    for (size_t w : width) total += w;
    return total;
}

void print_table_body(const GridSource &g, FILE *out, size_t max_width) {
    int rows = g.row_count();
    int cols = g.col_count();
    char buf[kLabelCap];
    std::vector<size_t> width = natural_widths(g);
    if (max_width > 0 && cols > 0) {
        size_t total = 3 * static_cast<size_t>(cols - 1);
        for (size_t w : width) total += w;
        while (total > max_width) {
            size_t widest = 0;
            for (size_t c = 1; c < width.size(); ++c)
                if (width[c] > width[widest]) widest = c;
            if (width[widest] <= 3) break;
            --width[widest];
            --total;
        }
    }
    for (int c = 0; c < cols; ++c) {
        if (c != 0) fputs(" | ", out);
        const char *label = label_of(g, c, buf, sizeof buf);
        put_table_cell(out, label, strlen(label), width[c], c + 1 < cols);
    }
    fputc('\n', out);
    for (int c = 0; c < cols; ++c) {
        if (c != 0) fputs("-+-", out);
        for (size_t i = 0; i < width[c]; ++i) fputc('-', out);
    }
    fputc('\n', out);
    for (int r = 0; r < rows; ++r) {
        for (int c = 0; c < cols; ++c) {
            if (c != 0) fputs(" | ", out);
            size_t n = 0;
            const char *cell = cell_text(g, r, c, &n);
            put_table_cell(out, cell, n, width[c], c + 1 < cols);
        }
        fputc('\n', out);
    }
}

void print_table(const GridSource &g, FILE *out, size_t max_width) {
    print_table_body(g, out, max_width);
    int rows = g.row_count();
    fprintf(out, "(%d %s)\n", rows, rows == 1 ? "row" : "rows");
}

void print_expanded(const GridSource &g, FILE *out) {
    int rows = g.row_count();
    int cols = g.col_count();
    char buf[kLabelCap];
    size_t label_w = 0;
    for (int c = 0; c < cols; ++c) {
        const char *label = label_of(g, c, buf, sizeof buf);
        size_t w = display_width(label, strlen(label));
        if (w > label_w) label_w = w;
    }
    for (int r = 0; r < rows; ++r) {
        fprintf(out, "-[ row %d ]-\n", r + 1);
        for (int c = 0; c < cols; ++c) {
            const char *label = label_of(g, c, buf, sizeof buf);
            put_table_cell(out, label, strlen(label), label_w, true);
            fputs(" | ", out);
            size_t n = 0;
            const char *cell = cell_text(g, r, c, &n);
            write_escaped(out, cell, n);
            fputc('\n', out);
        }
    }
}

}  // namespace tarn_cli
