// Where the shell's lines come from: libedit with history and completion on
// a terminal (the console's own line input on Windows), plain lines from a
// script otherwise.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "shell_complete.h"

namespace tarn_cli {

// What Tab completes against: the open statement and where it stands.
struct CompletionContext {
    std::function<std::string()> pending;  // the open statement, "" when none
    std::function<Completion(std::string_view text, size_t cursor)> complete;
};

class LineInput {
public:
    enum class Read { Line, Interrupted, End };
    virtual ~LineInput() = default;
    // Reads one line without its line end; Interrupted when Ctrl-C cleared it.
    virtual Read read(const std::string &prompt, std::string *line) = 0;
    // Keeps a line in the history (and its file), when there is one.
    virtual void remember(const std::string &line) = 0;
};

// Editing with history in history_path (none when empty) when interactive;
// otherwise plain lines with no prompt.
std::unique_ptr<LineInput> open_line_input(bool interactive, const std::string &history_path,
                                           CompletionContext context);

// $XDG_STATE_HOME/tarn/history (an absolute XDG_STATE_HOME only), else
// ~/.local/state/tarn/history; "" when neither can be named.
std::string history_file_path();

}  // namespace tarn_cli
