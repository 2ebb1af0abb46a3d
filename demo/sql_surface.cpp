#include "sql_surface.h"

#include <sqlite3.h>

#include <cstdlib>
#include <cstring>

namespace demo {
namespace {

bool in_list(const char *name, const char *const *list) {
    if (name == nullptr) return false;
    for (; *list != nullptr; ++list)
        if (sqlite3_stricmp(name, *list) == 0) return true;
    return false;
}

// Not here, so refused though the system library may have them:
// fts3_tokenizer (hands out and takes code addresses), load_extension,
// fts5 (hands out a pointer), sqlite_log, rtreenode and rtreecheck, the
// compile-option probes, subtype, and any function an extension adds.
const char *const kFunctions[] = {
    // core
    "abs", "changes", "char", "coalesce", "concat", "concat_ws", "format", "glob", "hex", "ifnull",
    "iif", "instr", "last_insert_rowid", "length", "like", "likelihood", "likely", "lower", "ltrim",
    "max", "min", "nullif", "octet_length", "printf", "quote", "random", "randomblob", "replace",
    "round", "rtrim", "sign", "soundex", "sqlite_source_id", "sqlite_version", "substr",
    "substring", "total_changes", "trim", "typeof", "unhex", "unicode", "unlikely", "upper",
    "zeroblob",
    // date and time
    "date", "time", "datetime", "julianday", "unixepoch", "strftime", "timediff", "current_date",
    "current_time", "current_timestamp",
    // math
    "acos", "acosh", "asin", "asinh", "atan", "atan2", "atanh", "ceil", "ceiling", "cos", "cosh",
    "degrees", "exp", "floor", "ln", "log", "log10", "log2", "mod", "pi", "pow", "power", "radians",
    "sin", "sinh", "sqrt", "tan", "tanh", "trunc",
    // aggregate and window
    "avg", "count", "group_concat", "string_agg", "sum", "total", "row_number", "rank",
    "dense_rank", "percent_rank", "cume_dist", "ntile", "lag", "lead", "first_value", "last_value",
    "nth_value",
    // JSON
    "->", "->>", "json", "json_array", "json_array_length", "json_error_position", "json_extract",
    "json_group_array", "json_group_object", "json_insert", "json_object", "json_patch",
    "json_pretty", "json_quote", "json_remove", "json_replace", "json_set", "json_type",
    "json_valid", "jsonb", "jsonb_array", "jsonb_extract", "jsonb_group_array",
    "jsonb_group_object", "jsonb_insert", "jsonb_object", "jsonb_patch", "jsonb_remove",
    "jsonb_replace", "jsonb_set",
    // full-text search
    "match", "snippet", "offsets", "matchinfo", "highlight", "bm25",
    // ALTER TABLE rewrites the schema through these; SQL cannot call them
    "sqlite_rename_column", "sqlite_rename_table", "sqlite_rename_test", "sqlite_rename_quotefix",
    "sqlite_drop_column", nullptr};

// Read-only forms: allowed bare (or as a table-valued function without a
// value), refused when they would set something.
const char *const kReadPragmas[] = {"application_id",
                                    "auto_vacuum",
                                    "automatic_index",
                                    "busy_timeout",
                                    "cache_spill",
                                    "collation_list",
                                    "data_version",
                                    "database_list",
                                    "encoding",
                                    "foreign_keys",
                                    "freelist_count",
                                    "function_list",
                                    "journal_mode",
                                    "journal_size_limit",
                                    "locking_mode",
                                    "max_page_count",
                                    "module_list",
                                    "page_count",
                                    "page_size",
                                    "pragma_list",
                                    "query_only",
                                    "recursive_triggers",
                                    "schema_version",
                                    "secure_delete",
                                    "synchronous",
                                    "temp_store",
                                    "user_version",
                                    "wal_autocheckpoint",
                                    "defer_foreign_keys",
                                    "cache_size",
                                    nullptr};

// Their argument names what to look at, not a setting.
const char *const kArgPragmas[] = {
    "table_info",         "table_xinfo", "table_list",       "index_info",
    "index_xinfo",        "index_list",  "foreign_key_list", "foreign_key_check",
    "integrity_check",    "quick_check", "wal_checkpoint",   "optimize",
    "incremental_vacuum", nullptr};

// Settings that last only as long as the connection (one request) or that
// belong to the database's own data.
const char *const kSetPragmas[] = {"foreign_keys",    "defer_foreign_keys", "recursive_triggers",
                                   "query_only",      "user_version",       "application_id",
                                   "automatic_index", "analysis_limit",     nullptr};

bool cache_size_allowed(const char *arg) {
    char *end = nullptr;
    long long n = strtoll(arg, &end, 10);
    if (end == arg || *end != '\0') return false;
    return n >= 0 ? n <= kMaxCachePages : -n <= kMaxCacheKib;
}

}  // namespace

bool function_allowed(const char *name) {
    return in_list(name, kFunctions);
}

std::string pragma_refusal(const char *name, const char *arg) {
    if (name == nullptr) return "PRAGMA";
    if (in_list(name, kArgPragmas)) return "";
    if (arg == nullptr && in_list(name, kReadPragmas)) return "";
    if (arg != nullptr && in_list(name, kSetPragmas)) return "";
    if (arg != nullptr && sqlite3_stricmp(name, "cache_size") == 0 && cache_size_allowed(arg))
        return "";
    return std::string("PRAGMA ") + name + (arg != nullptr ? std::string("=") + arg : "");
}

int authorize(void *refusal, int action, const char *a, const char *b, const char *, const char *) {
    std::string why;
    switch (action) {
        case SQLITE_ATTACH:
            why = "ATTACH";
            break;
        case SQLITE_DETACH:
            why = "DETACH";
            break;
        case SQLITE_PRAGMA:
            why = pragma_refusal(a, b);
            break;
        case SQLITE_FUNCTION:
            if (!function_allowed(b)) why = std::string("function ") + (b != nullptr ? b : "");
            break;
        default:
            break;
    }
    if (why.empty()) return SQLITE_OK;
    if (refusal != nullptr) *static_cast<std::string *>(refusal) = why;
    return SQLITE_DENY;
}

}  // namespace demo
