// The session object and the helpers every operation shares.
#pragma once

#include <cstddef>
#include <cstdint>

#include "tarn_client.h"
#include "transport/backend.h"
#include "transport/heap.h"

struct yyjson_doc;
struct yyjson_val;

namespace tarn {

constexpr const char *kDefaultHost = "http://127.0.0.1:8180";
constexpr size_t kHostCap = 512;
constexpr size_t kPwdCap = 512;
constexpr size_t kJwtCap = 8192;
constexpr size_t kErrorCap = 1024;
constexpr size_t kCellCap = 8192;
constexpr size_t kQueryCap = 3072;
constexpr size_t kUrlCap = 4096;
// Content type, password and token lines, each whole, with their breaks.
constexpr size_t kHeaderCap = 31 + 16 + (kPwdCap - 1) + 1 + 22 + (kJwtCap - 1) + 1;
constexpr size_t kResultFloor = 65536;

// Wide rows: once a caller reads a second cell of the same wide row, the
// row's entries (and, for object rows, which member each named column
// finds) are indexed (row_index.cpp).
struct WideRows {
    // Column names by hash: slot holds column index + 1, 0 is empty.
    // canon[c] is the first column carrying column c's name, since a
    // lookup by name finds the same member for both.
    uint32_t *slots = nullptr;
    size_t mask = 0;
    int *canon = nullptr;
    bool names_built = false;  // tried, even if the allocation failed

    yyjson_val *row = nullptr;
    size_t row_no = SIZE_MAX;
    yyjson_val **vals = nullptr;    // entries in document order
    yyjson_val **by_col = nullptr;  // object rows: value per canonical column
    size_t cap = 0;
    size_t cols_cap = 0;
    size_t last_row = SIZE_MAX;  // last wide row read without an index
};

// The grid located in a session's reply, and what its readers hand out.
struct Grid {
    yyjson_doc *doc = nullptr;
    yyjson_val *rows = nullptr;
    // Row values by position: yyjson reaches element n of an array of
    // containers by walking from the first.
    yyjson_val **row_index = nullptr;
    size_t row_count = 0;
    char **col_names = nullptr;
    int ncol = 0;
    int set_count = 0;       // result sets in the reply
    bool truncated = false;  // the located set says "truncated": true
    WideRows wide;

    // The text handed out last by cell_text or cell_json, when not the
    // document's.
    char *copy = nullptr;
};

}  // namespace tarn

struct tarn_session {
    tarn_session() = default;
    ~tarn_session();
    tarn_session(const tarn_session &) = delete;
    tarn_session &operator=(const tarn_session &) = delete;

    char host[tarn::kHostCap] = "http://127.0.0.1:8180";
    char pwd[tarn::kPwdCap] = "";
    char jwt[tarn::kJwtCap] = "";
    // Set when a setter was given more than its buffer holds: requests then
    // fail instead of going out with a cut value.
    bool host_too_long = false;
    bool pwd_too_long = false;
    bool jwt_too_long = false;

    // The caller's table, or null for the built-in backend.
    const tarn_client_io *io = nullptr;
    tarn::backend::Env env;
    tarn::backend::Context *backend = nullptr;  // opened on first use
    tarn_client_io own_io{};                    // the built-in table bound to backend

    // The last reply: its text (length measured once, when stored) and
    // whether there is one to hand out.
    char *result = nullptr;
    uint64_t result_cap = 0;
    size_t result_len = 0;
    bool has_reply = false;
    // Status of the last exchange; 0 until a response arrives.
    int32_t http_status = 0;

    char error[tarn::kErrorCap] = "";
    int error_code = TARN_E_NONE;
    char cell[tarn::kCellCap] = "";
    tarn::Grid grid;
};

namespace tarn {

enum Method : int32_t { kGet = 0, kPost = 1 };

// The session behind the tarn_client_* functions.
tarn_session *flat();

// Opens the built-in backend's context; false when out of memory.
bool ensure_backend(tarn_session *s);

// Brackets one operation: clears the last reply and error, starts the time
// limit's clock, and lets tarn_session_abort reach it.
class Operation {
public:
    explicit Operation(tarn_session *s);
    ~Operation();
    Operation(const Operation &) = delete;
    Operation &operator=(const Operation &) = delete;

private:
    tarn_session *s_;
};

void clear_state(tarn_session *s);
void set_error(tarn_session *s, int code, const char *msg);

// Sends one request through the session's backend and stores the reply.
// Returns 0 on a 2xx reply, -1 with the error set otherwise.
int32_t do_request(tarn_session *s, int32_t method, const char *path, const char *query,
                   const char *body);

// Copies a text in as the reply; -1 with "out of memory" when it cannot grow.
int32_t store_result(tarn_session *s, const char *body);

// Grid lifetime (grid.cpp).
void drop_grid(Grid *g);
void parse_grid(tarn_session *s);

// Grid lookups shared by the cell readers (grid.cpp): nullptr when absent.
yyjson_val *grid_row(const Grid &g, int row);
yyjson_val *cell_value(Grid *g, int row, int col);

// Releases the whole-cell texts (grid_cells.cpp).
void drop_cell_copies(Grid *g);

// True when the cell was located through the wide-row index (*out may be
// null: no such cell); false when the caller locates it directly, as for
// every narrow row, array of scalars and first visit to a row.
bool indexed_cell(Grid *g, size_t row, yyjson_val *r, int col, yyjson_val **out);
void drop_row_index(WideRows *w);

// Whether the key (len bytes) is the name of one of the grid's columns.
bool names_column(Grid *g, const char *key, size_t len);

// Null and "" are both an absent argument.
inline bool absent(const char *s) {
    return s == nullptr || *s == '\0';
}

}  // namespace tarn
