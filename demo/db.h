// Opening the service's databases with the guards every connection gets.
#pragma once

#include <sqlite3.h>

#include <string>
#include <vector>

namespace demo {

// True for a database name the service accepts: letters, digits, '_' and
// '-', so a name can never reach outside the data folder.
bool valid_db_name(const std::string &name);
std::string db_path(const std::string &data_dir, const std::string &name);
bool db_exists(const std::string &data_dir, const std::string &name);
// The databases in the data folder (every NAME.db), sorted.
std::vector<std::string> list_dbs(const std::string &data_dir);

// Owns one connection; closes it when it goes.
class Conn {
public:
    Conn() = default;
    ~Conn() { sqlite3_close_v2(db_); }
    Conn(const Conn &) = delete;
    Conn &operator=(const Conn &) = delete;
    sqlite3 *get() const { return db_; }
    // Opens an existing database for reading and writing with only the
    // allowed SQL surface (sql_surface.h), no extension loading and no
    // schema-corrupting statements. On failure returns false with the
    // reason in err and the result code in rc().
    bool open(const std::string &path, std::string &err, bool create = false);
    // Runs statements that return no rows; false with err on failure.
    bool exec(const char *sql, std::string &err);
    // Lets the service's own fixed statements (creating the sample, VACUUM)
    // past the client's SQL surface.
    void trust() { sqlite3_set_authorizer(db_, nullptr, nullptr); }
    // The result code of the last failed open or exec.
    int rc() const { return rc_; }
    // What the authorizer refused last ("" when nothing); clear it before a
    // statement to learn whether that statement was refused.
    std::string &refusal() { return refused_; }

private:
    sqlite3 *db_ = nullptr;
    int rc_ = SQLITE_OK;
    std::string refused_;
};

// Columns a table or result may have.
constexpr int kMaxColumns = 500;

// The HTTP status for an SQLite failure: 503 when the service's storage is
// read-only, full or cannot be opened, 500 for I/O errors and corruption,
// 409 when the database is busy, else otherwise.
int storage_status(int rc, int otherwise);
// The same for an errno from the service's own files.
int errno_status(int err);

// Client SQL that the service refuses before running it (VACUUM INTO can
// write anywhere the service can); empty when allowed.
std::string refused_statement(const char *sql);

// An SQL identifier in double quotes, inner quotes doubled.
std::string ident(const std::string &name);

// Writes the sample "shop" database into the data folder, whole or not at
// all; the same rows every time.
bool create_sample_db(const std::string &data_dir, std::string &err);

// ISO 8601 UTC time of a wall-clock instant in milliseconds.
std::string iso_time(long long epoch_ms);
long long now_ms();

}  // namespace demo
