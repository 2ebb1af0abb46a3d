#include "shell_split.h"

#include <cctype>

namespace tarn_cli {
namespace {

bool name_char(char c) {
    return isalnum(static_cast<unsigned char>(c)) != 0 || c == '_';
}

bool blank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v';
}

std::string quoted(const std::string &value, char q) {
    std::string out(1, q);
    for (char c : value) {
        if (c == q) out += q;
        out += c;
    }
    return out + q;
}

}  // namespace

size_t substitute_at(std::string_view text, size_t i, const ShellVars &vars, std::string *out) {
    if (text[i] != ':' || i + 1 >= text.size()) return 0;
    // "::" is a cast, never a variable.
    if (text[i + 1] == ':' || (i > 0 && text[i - 1] == ':')) return 0;
    char q = text[i + 1];
    size_t start = q == '\'' || q == '"' ? i + 2 : i + 1;
    size_t end = start;
    while (end < text.size() && name_char(text[end])) ++end;
    if (end == start) return 0;
    if (start == i + 2 && (end >= text.size() || text[end] != q)) return 0;
    auto it = vars.find(std::string(text.substr(start, end - start)));
    if (it == vars.end()) return 0;
    if (start == i + 2) {
        *out += quoted(it->second, q);
        return end + 1 - i;
    }
    *out += it->second;
    return end - i;
}

std::string StatementSplitter::trimmed(const std::string &s) {
    size_t b = 0;
    size_t e = s.size();
    while (b < e && blank(s[b])) ++b;
    while (e > b && blank(s[e - 1])) --e;
    return s.substr(b, e - b);
}

void StatementSplitter::clear() {
    buf_.clear();
    state_ = State::Normal;
    has_text_ = false;
}

void StatementSplitter::end_statement(std::vector<Piece> &out) {
    if (has_text_) out.push_back({Piece::Statement, trimmed(buf_)});
    buf_.clear();
    has_text_ = false;
}

std::vector<Piece> StatementSplitter::feed(std::string_view line) {
    std::vector<Piece> out;
    size_t line_start = buf_.size();
    if (!buf_.empty()) buf_ += '\n';
    for (size_t i = 0; i < line.size(); ++i) {
        char c = line[i];
        char next = i + 1 < line.size() ? line[i + 1] : '\0';
        switch (state_) {
            case State::Single:
            case State::Double:
                // A doubled quote reads as the quote again, which leaves
                // and enters the state: no look-ahead needed.
                if (c == (state_ == State::Single ? '\'' : '"')) state_ = State::Normal;
                buf_ += c;
                continue;
            case State::LineComment:
                buf_ += c;
                continue;
            case State::BlockComment:
                buf_ += c;
                if (c == '*' && next == '/') {
                    buf_ += next;
                    ++i;
                    state_ = State::Normal;
                }
                continue;
            case State::Normal:
                break;
        }
        if (c == '\\') {
            std::string_view meta = line.substr(i);
            if (meta.substr(0, 2) == "\\g" && (meta.size() == 2 || blank(meta[2]))) {
                if (has_text_)
                    end_statement(out);
                else
                    out.push_back({Piece::Meta, "\\g"});
            } else {
                out.push_back({Piece::Meta, std::string(meta)});
            }
            // A line that held only the meta command adds nothing.
            if (buf_.size() == line_start + 1) buf_.resize(line_start);
            return out;
        }
        if (c == ';') {
            end_statement(out);
            continue;
        }
        if (c == '-' && next == '-') {
            state_ = State::LineComment;
            buf_ += c;
            continue;
        }
        if (c == '/' && next == '*') {
            state_ = State::BlockComment;
            buf_ += "/*";
            ++i;
            continue;
        }
        if (c == '\'') state_ = State::Single;
        if (c == '"') state_ = State::Double;
        size_t used = substitute_at(line, i, vars_, &buf_);
        if (used > 0) {
            i += used - 1;
            has_text_ = true;
            continue;
        }
        if (!blank(c)) has_text_ = true;
        buf_ += c;
    }
    if (state_ == State::LineComment) state_ = State::Normal;
    // Only blanks and comments so far: nothing is open yet.
    if (!has_text_ && state_ == State::Normal) buf_.clear();
    return out;
}

std::vector<std::string> meta_words(std::string_view line, const ShellVars &vars) {
    std::string text;
    for (size_t i = 0; i < line.size();) {
        size_t used = substitute_at(line, i, vars, &text);
        if (used > 0) {
            i += used;
            continue;
        }
        text += line[i++];
    }
    std::vector<std::string> words;
    size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && blank(text[i])) ++i;
        if (i >= text.size()) break;
        std::string word;
        // A quote opens only at a word's start, so O'Brien stays one word.
        if (text[i] != '\'') {
            while (i < text.size() && !blank(text[i])) word += text[i++];
            words.push_back(word);
            continue;
        }
        while (i < text.size() && !blank(text[i])) {
            if (text[i] != '\'') {
                word += text[i++];
                continue;
            }
            for (++i; i < text.size(); ++i) {
                if (text[i] == '\'') {
                    if (i + 1 < text.size() && text[i + 1] == '\'') {
                        word += '\'';
                        ++i;
                        continue;
                    }
                    ++i;
                    break;
                }
                word += text[i];
            }
        }
        words.push_back(word);
    }
    return words;
}

}  // namespace tarn_cli
