// How one field is written in each format; shared by the whole-grid
// printers and the streaming ones.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

namespace tarn_cli {

// Room for a column's number as its label.
constexpr size_t kLabelCap = 16;

// The column's name, or its number from 1 when it has none (written to buf).
const char *column_label(const char *name, int col, char *buf, size_t cap);

// Screen columns of one byte sequence as the table writes it: one per
// UTF-8 character, the escape's length for a control byte.
size_t display_width(const char *s, size_t n);

// Writes the cell in `width` columns: padded when `pad`, cut with an
// ellipsis when wider.
void put_table_cell(FILE *out, const char *s, size_t n, size_t width, bool pad);

void put_csv_field(FILE *out, const char *s, size_t n);
void put_tsv_field(FILE *out, const char *s, size_t n);

// n bytes as a JSON string appended to out: quote and backslash escaped,
// control bytes as \u00xx (the keys of JSON lines, the shell's cells).
void append_json_quoted(std::string *out, const char *s, size_t n);

// A NUL-terminated text as a JSON string (the keys of JSON lines).
void put_json_string(FILE *out, const char *s);

// Whether standard output is a terminal.
bool stdout_is_terminal();

}  // namespace tarn_cli
