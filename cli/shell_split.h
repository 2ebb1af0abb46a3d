// The shell's reading of what is typed: statements end at ";" outside
// quotes and comments, or at \g; a backslash outside them starts a meta
// command that runs to the end of the line; :NAME, :'NAME' and :"NAME"
// are replaced outside quotes.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace tarn_cli {

using ShellVars = std::map<std::string, std::string>;

struct Piece {
    enum Kind { Statement, Meta } kind;
    std::string text;  // a statement without its ";"; a meta command from its "\"
};

class StatementSplitter {
public:
    explicit StatementSplitter(const ShellVars &vars) : vars_(vars) {}

    // Reads one line (without its line end) and returns the statements it
    // ends and the meta commands it holds, in order. "\g" ends the open
    // statement; alone, it comes back as the meta command "\g".
    std::vector<Piece> feed(std::string_view line);
    // A statement has begun and not ended (the continuation prompt).
    bool open() const { return has_text_; }
    // The open statement so far, or "" (what is left at the end of a script).
    std::string pending() const { return has_text_ ? trimmed(buf_) : std::string(); }
    void clear();

private:
    enum class State { Normal, Single, Double, LineComment, BlockComment };
    static std::string trimmed(const std::string &s);
    void end_statement(std::vector<Piece> &out);

    const ShellVars &vars_;
    std::string buf_;
    State state_ = State::Normal;
    bool has_text_ = false;  // buf_ holds more than blanks and comments
};

// Replaces :NAME, :'NAME' and :"NAME" at text[i] when NAME is set: appends
// the replacement to out and returns the bytes read, else returns 0.
size_t substitute_at(std::string_view text, size_t i, const ShellVars &vars, std::string *out);

// A meta command line replaced throughout and cut into words: blanks
// separate them; a word that starts with a quote is quoted ('' for a quote).
std::vector<std::string> meta_words(std::string_view line, const ShellVars &vars);

}  // namespace tarn_cli
