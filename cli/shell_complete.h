// Tab completion: meta commands, SQL keywords, server and database names,
// tables and views, and the columns of the tables a statement names. Names
// come from the object tree, read once per database and kept until drop().
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace tarn_cli {

// One node of the object tree as a list of names.
class TreeReader {
public:
    virtual ~TreeReader() = default;
    // kind: "servers", "databases", "tables", "views" or "columns" (of obj).
    // False when the service cannot answer; names is then left empty.
    virtual bool names(const std::string &server, const std::string &kind, const std::string &db,
                       const std::string &obj, std::vector<std::string> *names) = 0;
};

// Reads through tarn_client_tree and tarn_client_list_connections.
class ServiceTreeReader : public TreeReader {
public:
    bool names(const std::string &server, const std::string &kind, const std::string &db,
               const std::string &obj, std::vector<std::string> *names) override;
};

class Catalog {
public:
    explicit Catalog(TreeReader &reader) : reader_(reader) {}
    const std::vector<std::string> &servers();
    const std::vector<std::string> &databases(const std::string &server);
    // Tables and views together.
    const std::vector<std::string> &relations(const std::string &server, const std::string &db);
    // True when name (any case) is a table or view of that database.
    bool is_relation(const std::string &server, const std::string &db, const std::string &name);
    const std::vector<std::string> &columns(const std::string &server, const std::string &db,
                                            const std::string &table);
    void drop();

private:
    struct Relations {
        std::vector<std::string> names;
        std::unordered_set<std::string> lower;
    };
    TreeReader &reader_;
    bool have_servers_ = false;
    std::vector<std::string> servers_;
    std::map<std::string, std::vector<std::string>> databases_;  // by server
    std::map<std::string, Relations> relations_;                 // by server "\n" db
    std::map<std::string, std::vector<std::string>> columns_;    // by server "\n" db "\n" table
};

struct Completion {
    size_t word_start = 0;  // where the word being completed begins in text
    std::vector<std::string> candidates;
};

// Candidates for the word that ends at cursor. text is the open statement
// and the line being edited, joined by "\n".
Completion complete(std::string_view text, size_t cursor, const std::string &server,
                    const std::string &db, Catalog &catalog);

// The longest prefix all candidates share.
std::string common_prefix(const std::vector<std::string> &candidates);

// The meta commands, for \? and completion.
extern const char *const kMetaCommands[];

}  // namespace tarn_cli
