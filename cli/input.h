// Words that name their text elsewhere: "-" (standard input) and "@PATH".
#pragma once

#include <string>

namespace tarn_cli {

// When word is "-" or starts with "@", reads that source whole into *text
// and returns true; on failure *error holds "cannot read PATH: REASON\n".
// Any other word is left alone (returns false, *error empty).
bool read_word_source(const char *word, std::string *text, std::string *error);

}  // namespace tarn_cli
