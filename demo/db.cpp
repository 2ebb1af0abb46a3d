#include "db.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>

#include "sql_surface.h"

namespace demo {

bool valid_db_name(const std::string &name) {
    if (name.empty() || name.size() > 64) return false;
    return std::all_of(name.begin(), name.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_' || c == '-';
    });
}

std::string db_path(const std::string &data_dir, const std::string &name) {
    return data_dir + "/" + name + ".db";
}

bool db_exists(const std::string &data_dir, const std::string &name) {
    struct stat st {};
    return valid_db_name(name) && stat(db_path(data_dir, name).c_str(), &st) == 0 &&
           S_ISREG(st.st_mode);
}

std::vector<std::string> list_dbs(const std::string &data_dir) {
    std::vector<std::string> out;
    DIR *d = opendir(data_dir.c_str());
    if (d == nullptr) return out;
    while (dirent *e = readdir(d)) {
        std::string n = e->d_name;
        if (n.size() > 3 && n.compare(n.size() - 3, 3, ".db") == 0) {
            n.resize(n.size() - 3);
            if (db_exists(data_dir, n)) out.push_back(n);
        }
    }
    closedir(d);
    std::sort(out.begin(), out.end());
    return out;
}

bool Conn::open(const std::string &path, std::string &err, bool create) {
    int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_FULLMUTEX | (create ? SQLITE_OPEN_CREATE : 0);
    rc_ = sqlite3_open_v2(path.c_str(), &db_, flags, nullptr);
    if (rc_ != SQLITE_OK) {
        err = db_ != nullptr ? sqlite3_errmsg(db_) : "out of memory";
        sqlite3_close_v2(db_);
        db_ = nullptr;
        return false;
    }
    sqlite3_db_config(db_, SQLITE_DBCONFIG_ENABLE_LOAD_EXTENSION, 0, nullptr);
    sqlite3_db_config(db_, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
    sqlite3_db_config(db_, SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);
    sqlite3_db_config(db_, SQLITE_DBCONFIG_ENABLE_FTS3_TOKENIZER, 0, nullptr);
    sqlite3_limit(db_, SQLITE_LIMIT_ATTACHED, 0);
    sqlite3_limit(db_, SQLITE_LIMIT_COLUMN, kMaxColumns);
    sqlite3_limit(db_, SQLITE_LIMIT_LENGTH, 16 * 1024 * 1024);
    sqlite3_limit(db_, SQLITE_LIMIT_SQL_LENGTH, 1024 * 1024);
    sqlite3_busy_timeout(db_, 5000);
    sqlite3_extended_result_codes(db_, 1);
    sqlite3_set_authorizer(db_, authorize, &refused_);
    return true;
}

bool Conn::exec(const char *sql, std::string &err) {
    char *msg = nullptr;
    rc_ = sqlite3_exec(db_, sql, nullptr, nullptr, &msg);
    if (rc_ == SQLITE_OK) return true;
    err = msg != nullptr ? msg : sqlite3_errmsg(db_);
    sqlite3_free(msg);
    return false;
}

int storage_status(int rc, int otherwise) {
    switch (rc & 0xff) {
        case SQLITE_READONLY:
        case SQLITE_FULL:
        case SQLITE_CANTOPEN:
        case SQLITE_PERM:
            return 503;
        case SQLITE_IOERR:
        case SQLITE_CORRUPT:
        case SQLITE_NOTADB:
        case SQLITE_NOMEM:
            return 500;
        case SQLITE_BUSY:
        case SQLITE_LOCKED:
            return 409;
        default:
            return otherwise;
    }
}

int errno_status(int err) {
    return err == EROFS || err == EACCES || err == EPERM || err == ENOSPC || err == EDQUOT ? 503
                                                                                           : 500;
}

std::string ident(const std::string &name) {
    std::string out = "\"";
    for (char c : name) {
        out.push_back(c);
        if (c == '"') out.push_back('"');
    }
    return out + "\"";
}

std::string refused_statement(const char *sql) {
    const char *p = sql;
    for (;;) {  // past blanks and comments to the first keyword
        while (*p != '\0' && std::isspace(static_cast<unsigned char>(*p)) != 0) ++p;
        if (p[0] == '-' && p[1] == '-') {
            const char *nl = strchr(p, '\n');
            p = nl != nullptr ? nl : p + strlen(p);
        } else if (p[0] == '/' && p[1] == '*') {
            const char *end = strstr(p + 2, "*/");
            p = end != nullptr ? end + 2 : p + strlen(p);
        } else {
            break;
        }
    }
    if (sqlite3_strnicmp(p, "vacuum", 6) == 0)
        return "VACUUM is run by the storage action \"vacuum\", not as a query";
    return "";
}

std::string iso_time(long long epoch_ms) {
    time_t secs = static_cast<time_t>(epoch_ms / 1000);
    tm t{};
    gmtime_r(&secs, &t);
    char buf[40];
    size_t n = strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%S", &t);
    snprintf(buf + n, sizeof buf - n, ".%03dZ", static_cast<int>(epoch_ms % 1000));
    return buf;
}

long long now_ms() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

}  // namespace demo
