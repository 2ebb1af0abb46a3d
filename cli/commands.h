// The command words: what each needs, its help text and the operation it calls.
#pragma once

#include <cstddef>

namespace tarn_cli {

// The words after the command word; an optional word that is missing reads
// as the empty text. Number words have been checked before a run.
class StreamPrinter;

struct Args {
    const char *const *words;       // words[0] is the command word
    int count;                      // entries in words, command word included
    StreamPrinter *rows = nullptr;  // query: print each row as it arrives

    const char *text(int i) const { return i < count ? words[i] : ""; }
    const char *text_or_null(int i) const { return i < count ? words[i] : nullptr; }
    int number(int i, int absent_value) const;
};

// A word that must be a number, by its position after the command word.
struct NumberWord {
    int pos;  // 0: none
    const char *name;
};

struct Command {
    const char *word;
    int needed;         // words required after the command word
    const char *words;  // the usage line's words, optional ones in brackets
    const char *help;   // what each word means, defaults, one example
    NumberWord numbers[2];
    int file_word;              // position of the word that may be "-" or "@PATH"; 0: none
    int (*run)(const Args &a);  // nullptr: the shell, which runs by itself
};

extern const Command kCommands[];
extern const size_t kCommandCount;

// The command with this exact word, or nullptr.
const Command *find_command(const char *word);

}  // namespace tarn_cli
