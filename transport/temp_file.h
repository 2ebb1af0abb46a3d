// A temporary file for rows that wait: the reader's rows that come before
// their columns, the program's table rows before their widths are known.
#pragma once

#include <cstdio>

namespace tarn {

// Opened for reading and writing, removed when closed; null on failure
// with errno set.
FILE *open_temp_file();

}  // namespace tarn
