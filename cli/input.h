// Words that name their text elsewhere: "-" (standard input) and "@PATH".
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

namespace tarn_cli {

// The text such a word names, NUL-terminated.
class WordText {
public:
    WordText() = default;
    ~WordText();
    WordText(const WordText &) = delete;
    WordText &operator=(const WordText &) = delete;

    const char *c_str() const { return data_ != nullptr ? data_ : ""; }
    size_t size() const { return size_; }

private:
    friend const char *read_all(FILE *f, WordText *text);
    char *data_ = nullptr;
    size_t size_ = 0;
    size_t cap_ = 0;
};

// When word is "-" or starts with "@", reads that source whole into *text
// and returns true; on failure *error holds "cannot read PATH: REASON\n".
// A source larger than 256 MiB or holding a NUL byte is refused as soon as
// that is known. Any other word is left alone (returns false, *error empty).
bool read_word_source(const char *word, WordText *text, std::string *error);

}  // namespace tarn_cli
