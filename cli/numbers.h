// Number words on the command line.
#pragma once

namespace tarn_cli {

// True when word is an optional sign and decimal digits within the 32-bit
// signed range, or empty (which reads as 0); *out then holds the value.
bool parse_number_word(const char *word, int *out);

}  // namespace tarn_cli
