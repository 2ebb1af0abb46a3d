// Wide rows: once a caller reads a second cell of the same wide row, the
// row's entries are indexed, so reading all its cells costs time linear in
// its width whatever the order of its members.
#include <yyjson.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "state.h"

namespace tarn {
namespace {

// Up to this many entries a row is cheap to walk on every call.
constexpr size_t kWideRow = 16;

size_t hash_bytes(const char *s, size_t n) {
    uint64_t h = 1469598103934665603ULL;
    for (size_t i = 0; i < n; ++i) h = (h ^ static_cast<unsigned char>(s[i])) * 1099511628211ULL;
    return static_cast<size_t>(h ^ (h >> 29));
}

// The column whose name is these bytes, or -1.
int find_column(const Grid &g, const char *key, size_t len) {
    const WideRows &w = g.wide;
    for (size_t i = hash_bytes(key, len) & w.mask;; i = (i + 1) & w.mask) {
        uint32_t slot = w.slots[i];
        if (slot == 0) return -1;
        const char *name = g.col_names[slot - 1];
        if (strlen(name) == len && memcmp(name, key, len) == 0) return static_cast<int>(slot - 1);
    }
}

bool build_names(Grid *g) {
    WideRows &w = g->wide;
    if (w.names_built) return w.slots != nullptr;
    w.names_built = true;
    auto n = static_cast<size_t>(g->ncol);
    size_t size = 16;
    while (size < 2 * n) size *= 2;
    w.slots = static_cast<uint32_t *>(mem_malloc(size * sizeof(uint32_t)));
    w.canon = static_cast<int *>(mem_malloc(n * sizeof(int)));
    if (w.slots == nullptr || w.canon == nullptr) {
        free(w.slots);
        free(w.canon);
        w.slots = nullptr;
        w.canon = nullptr;
        return false;
    }
    memset(w.slots, 0, size * sizeof(uint32_t));
    w.mask = size - 1;
    for (size_t c = 0; c < n; ++c) {
        w.canon[c] = -1;
        const char *name = g->col_names[c];
        if (name == nullptr) continue;
        size_t len = strlen(name);
        int first = find_column(*g, name, len);
        if (first >= 0) {
            w.canon[c] = first;
            continue;
        }
        w.canon[c] = static_cast<int>(c);
        size_t i = hash_bytes(name, len) & w.mask;
        while (w.slots[i] != 0) i = (i + 1) & w.mask;
        w.slots[i] = static_cast<uint32_t>(c + 1);
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

bool build(Grid *g, size_t row_no, yyjson_val *r) {
    WideRows &w = g->wide;
    bool obj = yyjson_is_obj(r);
    size_t n = obj ? yyjson_obj_size(r) : yyjson_arr_size(r);
    w.row = nullptr;
    if (!reserve(&w.vals, &w.cap, n)) return false;
    bool named = obj && g->ncol > 0 && g->col_names != nullptr;
    // Without the name table a lookup by name cannot be answered here.
    if (named && !build_names(g)) return false;
    auto ncol = static_cast<size_t>(g->ncol);
    if (named) {
        if (!reserve(&w.by_col, &w.cols_cap, ncol)) return false;
        memset(w.by_col, 0, ncol * sizeof(yyjson_val *));
    }
    size_t i = 0;
    size_t max = 0;
    yyjson_val *v = nullptr;
    if (obj) {
        yyjson_val *key = nullptr;
        yyjson_obj_foreach(r, i, max, key, v) {
            w.vals[i] = v;
            if (!named) continue;
            // The first member of a name wins, as in a lookup by name; a
            // member named for a column is never another column's by position.
            int c = find_column(*g, yyjson_get_str(key), yyjson_get_len(key));
            if (c >= 0 && w.by_col[c] == nullptr) w.by_col[c] = v;
            if (c >= 0) w.vals[i] = nullptr;
        }
    } else {
        yyjson_arr_foreach(r, i, max, v) {
            w.vals[i] = v;
        }
    }
    w.row = r;
    w.row_no = row_no;
    return true;
}

bool is_wide(yyjson_val *r) {
    if (yyjson_is_obj(r)) return yyjson_obj_size(r) > kWideRow;
    // An array of scalars is reached by position directly.
    return yyjson_is_arr(r) && yyjson_arr_size(r) > kWideRow && !unsafe_yyjson_arr_is_flat(r);
}

}  // namespace

bool names_column(Grid *g, const char *key, size_t len) {
    if (g->ncol <= 0 || g->col_names == nullptr) return false;
    if (build_names(g)) return find_column(*g, key, len) >= 0;
    // Without the table, a walk over the names answers too.
    for (int c = 0; c < g->ncol; ++c) {
        const char *name = g->col_names[c];
        if (name != nullptr && strlen(name) == len && memcmp(name, key, len) == 0) return true;
    }
    return false;
}

bool indexed_cell(Grid *g, size_t row, yyjson_val *r, int col, yyjson_val **out) {
    if (!is_wide(r)) return false;
    WideRows &w = g->wide;
    if (w.row != r || w.row_no != row) {
        // The first visit walks as a narrow row does, so reading one
        // column down many rows costs no index builds.
        if (w.last_row != row) {
            w.last_row = row;
            return false;
        }
        if (!build(g, row, r)) return false;
    }
    auto c = static_cast<size_t>(col);
    *out = nullptr;
    if (yyjson_is_obj(r)) {
        if (col < g->ncol && g->col_names != nullptr && g->col_names[c] != nullptr) {
            *out = w.by_col[w.canon[c]];
            if (*out != nullptr) return true;
        }
        if (c < yyjson_obj_size(r)) *out = w.vals[c];
    } else if (c < yyjson_arr_size(r)) {
        *out = w.vals[c];
    }
    return true;
}

void drop_row_index(WideRows *w) {
    free(w->slots);
    free(w->canon);
    free(w->vals);
    free(w->by_col);
    *w = WideRows{};
}

}  // namespace tarn
