#include "shell_complete.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "tarn_client.h"

namespace tarn_cli {
namespace {

const char *const kKeywords[] = {
    "ALL",      "ALTER",    "AND",    "AS",    "ASC",    "AVG",     "BEGIN",     "BETWEEN",
    "BY",       "CASE",     "COMMIT", "COUNT", "CREATE", "CROSS",   "DEFAULT",   "DELETE",
    "DESC",     "DISTINCT", "DROP",   "ELSE",  "END",    "EXISTS",  "FROM",      "GROUP",
    "HAVING",   "IN",       "INDEX",  "INNER", "INSERT", "INTO",    "IS",        "JOIN",
    "KEY",      "LEFT",     "LIKE",   "LIMIT", "MAX",    "MIN",     "NOT",       "NULL",
    "OFFSET",   "ON",       "OR",     "ORDER", "OUTER",  "PRIMARY", "RECURSIVE", "RIGHT",
    "ROLLBACK", "SELECT",   "SET",    "SUM",   "TABLE",  "THEN",    "UNION",     "UPDATE",
    "VALUES",   "VIEW",     "WHEN",   "WHERE", "WITH",
};

// Words after which only a table or view fits.
const char *const kRelationWords[] = {"from", "join", "into", "update", "table"};

std::string lower(std::string_view s) {
    std::string out(s);
    for (char &c : out) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return out;
}

bool word_char(char c) {
    return isalnum(static_cast<unsigned char>(c)) != 0 || c == '_' || c == '$' ||
           (static_cast<unsigned char>(c) & 0x80) != 0;
}

bool starts_with_nocase(const std::string &name, std::string_view prefix) {
    if (name.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i)
        if (tolower(static_cast<unsigned char>(name[i])) !=
            tolower(static_cast<unsigned char>(prefix[i])))
            return false;
    return true;
}

void add_matches(const std::vector<std::string> &names, std::string_view prefix,
                 std::vector<std::string> *out) {
    for (const std::string &n : names)
        if (starts_with_nocase(n, prefix)) out->push_back(n);
}

// Words of text, skipping quoted strings and comments.
std::vector<std::string> sql_words(std::string_view text) {
    std::vector<std::string> words;
    size_t i = 0;
    while (i < text.size()) {
        char c = text[i];
        if (c == '\'') {
            i = text.find('\'', i + 1);
            i = i == std::string_view::npos ? text.size() : i + 1;
        } else if (c == '-' && i + 1 < text.size() && text[i + 1] == '-') {
            i = text.find('\n', i);
            if (i == std::string_view::npos) i = text.size();
        } else if (c == '"') {
            size_t end = text.find('"', i + 1);
            if (end == std::string_view::npos) end = text.size();
            words.emplace_back(text.substr(i + 1, end - i - 1));
            i = end + 1;
        } else if (word_char(c)) {
            size_t start = i;
            while (i < text.size() && word_char(text[i])) ++i;
            words.emplace_back(text.substr(start, i - start));
        } else {
            if (c == '.' || c == ',' || c == '(' || c == ')' || c == ';' || c == '*' || c == '=')
                words.emplace_back(1, c);
            ++i;
        }
    }
    return words;
}

// True when text ends inside a string literal or a comment.
bool inside_quotes(std::string_view text) {
    size_t i = 0;
    while (i < text.size()) {
        char c = text[i];
        size_t end = i;
        if (c == '\'' || c == '"') {
            end = text.find(c, i + 1);
        } else if (c == '-' && i + 1 < text.size() && text[i + 1] == '-') {
            end = text.find('\n', i);
        } else if (c == '/' && i + 1 < text.size() && text[i + 1] == '*') {
            end = text.find("*/", i + 2);
            if (end != std::string_view::npos) ++end;
        }
        if (end == std::string_view::npos) return true;
        i = end + 1;
    }
    return false;
}

std::string match_case(const char *keyword, std::string_view typed) {
    bool lower_typed = !typed.empty() && islower(static_cast<unsigned char>(typed[0])) != 0;
    return lower_typed ? lower(keyword) : std::string(keyword);
}

}  // namespace

const char *const kMetaCommands[] = {
    "\\?",      "\\activity", "\\c",      "\\d",     "\\di", "\\dt",  "\\dv", "\\format",
    "\\g",      "\\i",        "\\jobs",   "\\kill",  "\\l",  "\\o",   "\\q",  "\\refresh",
    "\\script", "\\set",      "\\timing", "\\watch", "\\x",  nullptr,
};

bool ServiceTreeReader::names(const std::string &server, const std::string &kind,
                              const std::string &db, const std::string &obj,
                              std::vector<std::string> *names) {
    names->clear();
    int rc = kind == "servers"
                 ? tarn_client_list_connections()
                 : tarn_client_tree(server.c_str(), kind.c_str(), db.c_str(), "", obj.c_str());
    if (rc != 0 || tarn_client_row_count() < 0) return false;
    int name_col = -1;
    for (int c = 0; c < tarn_client_col_count() && name_col < 0; ++c)
        if (strcmp(tarn_client_col_name(c), "name") == 0) name_col = c;
    if (name_col < 0) return false;
    int rows = tarn_client_row_count();
    names->reserve(static_cast<size_t>(rows));
    for (int r = 0; r < rows; ++r) {
        size_t n = 0;
        const char *text = tarn_client_cell_text(r, name_col, &n);
        names->emplace_back(text, n);
    }
    return true;
}

const std::vector<std::string> &Catalog::servers() {
    if (!have_servers_) {
        reader_.names("", "servers", "", "", &servers_);
        have_servers_ = true;
    }
    return servers_;
}

const std::vector<std::string> &Catalog::databases(const std::string &server) {
    auto it = databases_.find(server);
    if (it == databases_.end()) {
        it = databases_.emplace(server, std::vector<std::string>()).first;
        reader_.names(server, "databases", "", "", &it->second);
    }
    return it->second;
}

const std::vector<std::string> &Catalog::relations(const std::string &server,
                                                   const std::string &db) {
    std::string key = server + "\n" + db;
    auto it = relations_.find(key);
    if (it == relations_.end()) {
        it = relations_.emplace(key, Relations()).first;
        std::vector<std::string> views;
        reader_.names(server, "tables", db, "", &it->second.names);
        reader_.names(server, "views", db, "", &views);
        it->second.names.insert(it->second.names.end(), views.begin(), views.end());
        std::sort(it->second.names.begin(), it->second.names.end());
        for (const std::string &n : it->second.names) it->second.lower.insert(lower(n));
    }
    return it->second.names;
}

bool Catalog::is_relation(const std::string &server, const std::string &db,
                          const std::string &name) {
    relations(server, db);
    return relations_[server + "\n" + db].lower.count(lower(name)) > 0;
}

const std::vector<std::string> &Catalog::columns(const std::string &server, const std::string &db,
                                                 const std::string &table) {
    std::string key = server + "\n" + db + "\n" + lower(table);
    auto it = columns_.find(key);
    if (it == columns_.end()) {
        it = columns_.emplace(key, std::vector<std::string>()).first;
        reader_.names(server, "columns", db, table, &it->second);
    }
    return it->second;
}

void Catalog::drop() {
    have_servers_ = false;
    servers_.clear();
    databases_.clear();
    relations_.clear();
    columns_.clear();
}

std::string common_prefix(const std::vector<std::string> &candidates) {
    if (candidates.empty()) return "";
    std::string prefix = candidates[0];
    for (const std::string &c : candidates) {
        size_t n = 0;
        while (n < prefix.size() && n < c.size() && prefix[n] == c[n]) ++n;
        prefix.resize(n);
    }
    return prefix;
}

Completion complete(std::string_view text, size_t cursor, const std::string &server,
                    const std::string &db, Catalog &catalog) {
    Completion out;
    cursor = std::min(cursor, text.size());
    size_t start = cursor;
    while (start > 0 && (word_char(text[start - 1]) || text[start - 1] == '\\')) --start;
    out.word_start = start;
    std::string_view word = text.substr(start, cursor - start);

    size_t line_start = text.rfind('\n', cursor == 0 ? 0 : cursor - 1);
    line_start = line_start == std::string_view::npos ? 0 : line_start + 1;
    std::string_view line = text.substr(line_start, cursor - line_start);
    size_t first = line.find_first_not_of(" \t");
    if (first != std::string_view::npos && line[first] == '\\') {
        // A meta command: its name, then what its words name.
        std::vector<std::string> words = sql_words(line.substr(first + 1));
        if (start <= line_start + first) {
            for (const char *const *m = kMetaCommands; *m != nullptr; ++m)
                if (starts_with_nocase(*m, word)) out.candidates.emplace_back(*m);
            return out;
        }
        std::string cmd = words.empty() ? "" : words[0];
        size_t arg = words.size() - (word.empty() ? 0 : 1);  // 1: the first word after it
        if (cmd == "c") {
            if (arg == 1) add_matches(catalog.servers(), word, &out.candidates);
            if (arg == 2 && words.size() > 1)
                add_matches(catalog.databases(words[1]), word, &out.candidates);
        } else if (cmd == "d" || cmd == "dt" || cmd == "dv" || cmd == "di" || cmd == "script") {
            add_matches(catalog.relations(server, db), word, &out.candidates);
        } else if (cmd == "format") {
            add_matches({"raw", "table", "csv", "tsv", "json"}, word, &out.candidates);
        } else if (cmd == "x") {
            add_matches({"on", "off", "auto"}, word, &out.candidates);
        } else if (cmd == "timing") {
            add_matches({"on", "off"}, word, &out.candidates);
        }
        return out;
    }

    if (inside_quotes(text.substr(0, start))) return out;
    std::vector<std::string> before = sql_words(text.substr(0, start));
    std::string previous = before.empty() ? "" : lower(before.back());
    bool relation_only = std::find(std::begin(kRelationWords), std::end(kRelationWords),
                                   previous) != std::end(kRelationWords);
    const std::vector<std::string> &relations = catalog.relations(server, db);
    if (relation_only) {
        add_matches(relations, word, &out.candidates);
        return out;
    }
    // The tables this statement names, before or after the cursor.
    std::vector<std::string> named;
    for (const std::string &w : sql_words(text.substr(0, start)))
        if (catalog.is_relation(server, db, w)) named.push_back(w);
    for (const std::string &w : sql_words(text.substr(cursor)))
        if (catalog.is_relation(server, db, w)) named.push_back(w);
    std::sort(named.begin(), named.end());
    named.erase(std::unique(named.begin(), named.end()), named.end());
    for (const std::string &t : named)
        add_matches(catalog.columns(server, db, t), word, &out.candidates);
    if (!word.empty()) {
        for (const char *k : kKeywords)
            if (starts_with_nocase(k, word)) out.candidates.push_back(match_case(k, word));
        add_matches(relations, word, &out.candidates);
    }
    std::sort(out.candidates.begin(), out.candidates.end());
    out.candidates.erase(std::unique(out.candidates.begin(), out.candidates.end()),
                         out.candidates.end());
    return out;
}

}  // namespace tarn_cli
