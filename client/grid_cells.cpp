// Whole-grid readers: column names, cell kinds, and cells never cut (the
// shared 8 KiB cell buffer of tarn_client_cell stays as it is).
#include <yyjson.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "state.h"

namespace tarn {
namespace {

const char *hand_out(const char *text, size_t n, size_t *len) {
    if (len != nullptr) *len = n;
    return text;
}

const char *hand_out_json(Grid *g, yyjson_val *v, size_t *len) {
    drop_cell_copies(g);
    size_t n = 0;
    g->copy = yyjson_val_write_opts(v, YYJSON_WRITE_ALLOW_INVALID_UNICODE, nullptr, &n, nullptr);
    if (g->copy == nullptr) return hand_out("", 0, len);
    return hand_out(g->copy, n, len);
}

}  // namespace

void drop_cell_copies(Grid *g) {
    free(g->copy);
    g->copy = nullptr;
}

}  // namespace tarn

using namespace tarn;

extern "C" {

TARN_API const char *tarn_session_col_name(tarn_session *s, int col) {
    Grid *g = &s->grid;
    if (col < 0) return "";
    if (g->ncol > 0) {
        if (col >= g->ncol || g->col_names == nullptr || g->col_names[col] == nullptr) return "";
        return g->col_names[col];
    }
    // No columns array: an object first row names the columns by its keys.
    yyjson_val *first = grid_row(*g, 0);
    if (!yyjson_is_obj(first) || static_cast<size_t>(col) >= yyjson_obj_size(first)) return "";
    size_t i = 0;
    size_t max = 0;
    yyjson_val *key = nullptr;
    yyjson_val *val = nullptr;
    yyjson_obj_foreach(first, i, max, key, val) {
        if (i == static_cast<size_t>(col)) return yyjson_get_str(key);
    }
    return "";
}

TARN_API int tarn_session_cell_kind(tarn_session *s, int row, int col) {
    switch (yyjson_get_type(cell_value(&s->grid, row, col))) {
        case YYJSON_TYPE_NULL:
            return TARN_CELL_NULL;
        case YYJSON_TYPE_BOOL:
            return TARN_CELL_BOOL;
        case YYJSON_TYPE_RAW:  // numbers are read as their tokens
            return TARN_CELL_NUMBER;
        case YYJSON_TYPE_STR:
            return TARN_CELL_STRING;
        case YYJSON_TYPE_ARR:
            return TARN_CELL_ARRAY;
        case YYJSON_TYPE_OBJ:
            return TARN_CELL_OBJECT;
        default:
            return TARN_CELL_ABSENT;
    }
}

TARN_API const char *tarn_session_cell_text(tarn_session *s, int row, int col, size_t *len) {
    Grid *g = &s->grid;
    yyjson_val *v = cell_value(g, row, col);
    switch (yyjson_get_type(v)) {
        case YYJSON_TYPE_STR:
            return hand_out(yyjson_get_str(v), yyjson_get_len(v), len);
        case YYJSON_TYPE_BOOL:
            return yyjson_get_bool(v) ? hand_out("true", 4, len) : hand_out("false", 5, len);
        case YYJSON_TYPE_RAW:
            return hand_out(yyjson_get_raw(v), yyjson_get_len(v), len);
        case YYJSON_TYPE_ARR:
        case YYJSON_TYPE_OBJ:
            return hand_out_json(g, v, len);
        default:  // absent, null
            return hand_out("", 0, len);
    }
}

TARN_API const char *tarn_session_cell_json(tarn_session *s, int row, int col, size_t *len) {
    yyjson_val *v = cell_value(&s->grid, row, col);
    if (v == nullptr) return hand_out("", 0, len);
    if (yyjson_is_raw(v)) return hand_out(yyjson_get_raw(v), yyjson_get_len(v), len);
    return hand_out_json(&s->grid, v, len);
}

}  // extern "C"
