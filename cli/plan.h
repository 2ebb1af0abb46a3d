// One command line read into what the run will do, before anything is sent.
#pragma once

#include <string>
#include <vector>

#include "commands.h"

namespace tarn_cli {

enum class Format { Raw, Table, Csv, Tsv, Json };

enum class Step {
    Usage,        // no command word: the usage line, status 2
    CommandList,  // a help word alone or before a word that is no command
    CommandHelp,  // a help word before a command word
    Version,      // --version or -V
    UsageError,   // error holds the text for standard error, status 2
    Unknown,      // an unknown command word, or too few words after one
    Run,
};

struct Plan {
    Step step = Step::Usage;
    std::vector<const char *> words;   // the command word first; references into argv
    const Command *command = nullptr;  // Run, CommandHelp; Unknown when the word is known
    const char *host = nullptr;        // the last --host value
    Format format = Format::Raw;
    bool format_given = false;
    bool keep_going = false;  // shell: a script goes on past an error
    int max_time = -1;        // -1: not given
    bool verbose = false;
    std::string error;
};

// Reads argv[1..argc-1]. Reads no file and no environment variable.
Plan make_plan(int argc, const char *const *argv);

// raw, table, csv, tsv or json; false for any other word.
bool parse_format(const char *word, Format *out);

// "usage: tarn WORD WORDS\n" for one command.
std::string usage_line(const Command &c);

}  // namespace tarn_cli
