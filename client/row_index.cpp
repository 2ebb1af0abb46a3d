#include "row_index.h"

#include <yyjson.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "state.h"

namespace tarn {
namespace {

// Up to this many entries a row is cheap to walk on every call.
constexpr size_t kWideRow = 16;
constexpr size_t kNoRow = SIZE_MAX;

// Column names by hash: slot holds column index + 1, 0 is empty.
// canon[c] is the first column carrying column c's name, since a
// lookup by name finds the same member for both.
struct NameTable {
    uint32_t *slots = nullptr;
    size_t mask = 0;
    int *canon = nullptr;
    bool built = false;  // tried, even if the allocation failed
};

struct RowIndex {
    yyjson_val *row = nullptr;
    size_t row_no = kNoRow;
    yyjson_val **vals = nullptr;    // entries in document order
    yyjson_val **by_col = nullptr;  // object rows: value per canonical column
    size_t cap = 0;
    size_t cols_cap = 0;
};

NameTable s_names;
RowIndex s_index;
size_t s_last_row = kNoRow;  // last wide row read without an index

size_t hash_bytes(const char *s, size_t n) {
    uint64_t h = 1469598103934665603ULL;
    for (size_t i = 0; i < n; ++i) h = (h ^ static_cast<unsigned char>(s[i])) * 1099511628211ULL;
    return static_cast<size_t>(h ^ (h >> 29));
}

// The column whose name is these bytes, or -1.
int find_column(const char *key, size_t len) {
    for (size_t i = hash_bytes(key, len) & s_names.mask;; i = (i + 1) & s_names.mask) {
        uint32_t slot = s_names.slots[i];
        if (slot == 0) return -1;
        const char *name = s_col_names[slot - 1];
        if (strlen(name) == len && memcmp(name, key, len) == 0) return static_cast<int>(slot - 1);
    }
}

bool build_names() {
    if (s_names.built) return s_names.slots != nullptr;
    s_names.built = true;
    auto n = static_cast<size_t>(s_ncol);
    size_t size = 16;
    while (size < 2 * n) size *= 2;
    s_names.slots = static_cast<uint32_t *>(mem_malloc(size * sizeof(uint32_t)));
    s_names.canon = static_cast<int *>(mem_malloc(n * sizeof(int)));
    if (s_names.slots == nullptr || s_names.canon == nullptr) {
        free(s_names.slots);
        free(s_names.canon);
        s_names.slots = nullptr;
        s_names.canon = nullptr;
        return false;
    }
    memset(s_names.slots, 0, size * sizeof(uint32_t));
    s_names.mask = size - 1;
    for (size_t c = 0; c < n; ++c) {
        s_names.canon[c] = -1;
        const char *name = s_col_names[c];
        if (name == nullptr) continue;
        size_t len = strlen(name);
        int first = find_column(name, len);
        if (first >= 0) {
            s_names.canon[c] = first;
            continue;
        }
        s_names.canon[c] = static_cast<int>(c);
        size_t i = hash_bytes(name, len) & s_names.mask;
        while (s_names.slots[i] != 0) i = (i + 1) & s_names.mask;
        s_names.slots[i] = static_cast<uint32_t>(c + 1);
    }
    return true;
}

bool reserve(yyjson_val ***arr, size_t *cap, size_t n) {
    if (*cap >= n) return true;
    auto *grown = static_cast<yyjson_val **>(mem_realloc(*arr, n * sizeof(yyjson_val *)));
    if (grown == nullptr) return false;
    *arr = grown;
    *cap = n;
    return true;
}

bool build(size_t row_no, yyjson_val *r) {
    bool obj = yyjson_is_obj(r);
    size_t n = obj ? yyjson_obj_size(r) : yyjson_arr_size(r);
    s_index.row = nullptr;
    if (!reserve(&s_index.vals, &s_index.cap, n)) return false;
    bool named = obj && s_ncol > 0 && s_col_names != nullptr;
    // Without the name table a lookup by name cannot be answered here.
    if (named && !build_names()) return false;
    auto ncol = static_cast<size_t>(s_ncol);
    if (named) {
        if (!reserve(&s_index.by_col, &s_index.cols_cap, ncol)) return false;
        memset(s_index.by_col, 0, ncol * sizeof(yyjson_val *));
    }
    size_t i = 0;
    size_t max = 0;
    yyjson_val *v = nullptr;
    if (obj) {
        yyjson_val *key = nullptr;
        yyjson_obj_foreach(r, i, max, key, v) {
            s_index.vals[i] = v;
            if (!named) continue;
            // The first member of a name wins, as in a lookup by name.
            int c = find_column(yyjson_get_str(key), yyjson_get_len(key));
            if (c >= 0 && s_index.by_col[c] == nullptr) s_index.by_col[c] = v;
        }
    } else {
        yyjson_arr_foreach(r, i, max, v) {
            s_index.vals[i] = v;
        }
    }
    s_index.row = r;
    s_index.row_no = row_no;
    return true;
}

bool is_wide(yyjson_val *r) {
    if (yyjson_is_obj(r)) return yyjson_obj_size(r) > kWideRow;
    // An array of scalars is reached by position directly.
    return yyjson_is_arr(r) && yyjson_arr_size(r) > kWideRow && !unsafe_yyjson_arr_is_flat(r);
}

}  // namespace

bool indexed_cell(size_t row, yyjson_val *r, int col, yyjson_val **out) {
    if (!is_wide(r)) return false;
    if (s_index.row != r || s_index.row_no != row) {
        // The first visit walks as a narrow row does, so reading one
        // column down many rows costs no index builds.
        if (s_last_row != row) {
            s_last_row = row;
            return false;
        }
        if (!build(row, r)) return false;
    }
    auto c = static_cast<size_t>(col);
    *out = nullptr;
    if (yyjson_is_obj(r)) {
        if (col < s_ncol && s_col_names != nullptr && s_col_names[c] != nullptr) {
            *out = s_index.by_col[s_names.canon[c]];
            if (*out != nullptr) return true;
        }
        if (c < yyjson_obj_size(r)) *out = s_index.vals[c];
    } else if (c < yyjson_arr_size(r)) {
        *out = s_index.vals[c];
    }
    return true;
}

void drop_row_index() {
    free(s_names.slots);
    free(s_names.canon);
    s_names = NameTable{};
    free(s_index.vals);
    free(s_index.by_col);
    s_index = RowIndex{};
    s_last_row = kNoRow;
}

}  // namespace tarn
