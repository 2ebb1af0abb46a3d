// Internal client state and the helpers every operation shares.
#pragma once

#include <cstddef>
#include <cstdint>

#include "tarn_client.h"
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

// The one process-wide client state.
extern char s_host[kHostCap];
extern char s_pwd[kPwdCap];
extern char s_jwt[kJwtCap];
// Set when a setter was given more than its buffer holds: requests then
// fail instead of going out with a cut value.
extern bool s_host_too_long;
extern bool s_pwd_too_long;
extern bool s_jwt_too_long;
extern const tarn_client_io *s_io;
extern char *s_result;
extern uint64_t s_result_cap;
// Length of the text in s_result, measured once when it was stored.
extern size_t s_result_len;
extern char s_error[kErrorCap];
extern char s_cell[kCellCap];
extern yyjson_doc *s_grid_doc;
extern yyjson_val *s_grid_rows;
extern char **s_col_names;
extern int s_ncol;
// Status of the last exchange; 0 until a response arrives.
extern int32_t s_http_status;

enum Method : int32_t { kGet = 0, kPost = 1 };

void clear_state();
void set_error(const char *msg);

// Sends one request through the installed backend and stores the reply.
// Returns 0 on a 2xx reply, -1 with s_error set otherwise.
int32_t do_request(int32_t method, const char *path, const char *query, const char *body);

// Copies a text in as the reply; -1 with "out of memory" when it cannot grow.
int32_t store_result(const char *body);

// Grid lifetime (grid.cpp).
void drop_grid();
void parse_grid();

// Grid lookups shared by the cell readers (grid.cpp): nullptr when absent.
yyjson_val *grid_row(int row);
yyjson_val *cell_value(int row, int col);

// Releases the whole-cell texts (grid_cells.cpp).
void drop_cell_copies();
void drop_key_copies();

// Null and "" are both an absent argument.
inline bool absent(const char *s) {
    return s == nullptr || *s == '\0';
}

}  // namespace tarn
