// What a successful run prints, and text that reaches the terminal safely.
#pragma once

#include <cstddef>
#include <cstdio>

#include "grid_source.h"
#include "plan.h"

namespace tarn_cli {

// Writes n bytes of s with bytes 0x00-0x1F and 0x7F as \t, \n, \r or \xHH,
// so server text cannot move the cursor or forge lines.
void write_escaped(FILE *out, const char *s, size_t n);

// The "ERROR: " line for a failed operation, on standard error.
void print_error_line(const char *message);

// The reply text and grid preview (raw), or the grid in another format.
void print_result(Format format);

// A reply without a grid in a format other than raw: the reply, and a note
// on standard error that it had none.
void print_reply_without_grid();

// A write to standard output failed with err outside stdio's view; the
// message of finish_output gives it.
void note_output_error(int err);

// Flushes and closes standard output. False, after printing "ERROR: cannot
// write output: REASON" on standard error, when any write to it failed.
bool finish_output();

// A whole grid in one of the formats other than raw (formats.cpp).
// max_width 0: no limit; otherwise the widest columns are narrowed, their
// cells cut with an ellipsis, until a line fits (3 columns at the least).
void print_table(const GridSource &g, FILE *out, size_t max_width);
void print_csv(const GridSource &g, FILE *out);
void print_tsv(const GridSource &g, FILE *out);
void print_json_lines(const GridSource &g, FILE *out);
// The table without its "(N rows)" footer, for callers with footers of their own.
void print_table_body(const GridSource &g, FILE *out, size_t max_width);
// One "column | value" block per row.
void print_expanded(const GridSource &g, FILE *out);
// Columns the table takes when nothing is cut.
size_t table_width(const GridSource &g);

// Columns of the terminal on standard output (80 when unknown).
size_t terminal_width();

}  // namespace tarn_cli
