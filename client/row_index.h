// Wide rows: once a caller reads a second cell of the same wide row, the
// row's entries (and, for object rows, which member each named column
// finds) are indexed, so reading all its cells costs time linear in its
// width whatever the order of its members.
#pragma once

#include <cstddef>

struct yyjson_val;

namespace tarn {

// True when the cell was located through the index (*out may be null: no
// such cell); false when the caller locates it directly, as for every
// narrow row, array of scalars and first visit to a row.
bool indexed_cell(size_t row, yyjson_val *r, int col, yyjson_val **out);

// Forgets the index and the column-name table; drop_grid calls it.
void drop_row_index();

}  // namespace tarn
