// Whole-grid readers: column names, cell kinds, and cells never cut (the
// shared 8 KiB cell buffer of tarn_client_cell stays as it is).
#include <yyjson.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "state.h"

namespace tarn {
namespace {

// The text handed out last by cell_text or cell_json, when not the document's.
char *s_copy;
// Scalars other than strings fit here; strings are handed out from the document.
char s_scalar[32];

// Key copies for tarn_client_col_name, one slot per member of the first row.
char **s_key_copies;
size_t s_key_slots;

// A document parsed in place ends its strings at their length, not at a
// NUL (the reply text keeps its quotes), so a string handed out as C text
// is then a copy.
bool terminated(yyjson_val *str) {
    return yyjson_get_str(str)[yyjson_get_len(str)] == '\0';
}

char *copy_of(yyjson_val *str) {
    size_t n = yyjson_get_len(str);
    auto *copy = static_cast<char *>(malloc(n + 1));
    if (copy == nullptr) return nullptr;
    memcpy(copy, yyjson_get_str(str), n);
    copy[n] = '\0';
    return copy;
}

const char *key_text(size_t i, yyjson_val *key, size_t slots) {
    if (terminated(key)) return yyjson_get_str(key);
    if (s_key_copies == nullptr) {
        s_key_copies = static_cast<char **>(calloc(slots, sizeof(char *)));
        if (s_key_copies == nullptr) return "";
        s_key_slots = slots;
    }
    if (i >= s_key_slots) return "";
    if (s_key_copies[i] == nullptr) s_key_copies[i] = copy_of(key);
    return s_key_copies[i] != nullptr ? s_key_copies[i] : "";
}

const char *hand_out(const char *text, size_t n, size_t *len) {
    if (len != nullptr) *len = n;
    return text;
}

const char *hand_out_json(yyjson_val *v, size_t *len) {
    drop_cell_copies();
    size_t n = 0;
    s_copy = yyjson_val_write_opts(v, 0, nullptr, &n, nullptr);
    if (s_copy == nullptr) return hand_out("", 0, len);
    return hand_out(s_copy, n, len);
}

}  // namespace

void drop_cell_copies() {
    free(s_copy);
    s_copy = nullptr;
}

void drop_key_copies() {
    for (size_t i = 0; i < s_key_slots; ++i) free(s_key_copies[i]);
    free(s_key_copies);
    s_key_copies = nullptr;
    s_key_slots = 0;
}

}  // namespace tarn

using namespace tarn;

extern "C" {

TARN_API const char *tarn_client_col_name(int col) {
    if (col < 0) return "";
    if (s_ncol > 0) {
        if (col >= s_ncol || s_col_names == nullptr || s_col_names[col] == nullptr) return "";
        return s_col_names[col];
    }
    // No columns array: an object first row names the columns by its keys.
    yyjson_val *first = grid_row(0);
    if (!yyjson_is_obj(first) || static_cast<size_t>(col) >= yyjson_obj_size(first)) return "";
    size_t i = 0;
    size_t max = 0;
    yyjson_val *key = nullptr;
    yyjson_val *val = nullptr;
    yyjson_obj_foreach(first, i, max, key, val) {
        if (i == static_cast<size_t>(col)) return key_text(i, key, yyjson_obj_size(first));
    }
    return "";
}

TARN_API int tarn_client_cell_kind(int row, int col) {
    switch (yyjson_get_type(cell_value(row, col))) {
        case YYJSON_TYPE_NULL:
            return TARN_CELL_NULL;
        case YYJSON_TYPE_BOOL:
            return TARN_CELL_BOOL;
        case YYJSON_TYPE_NUM:
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

TARN_API const char *tarn_client_cell_text(int row, int col, size_t *len) {
    yyjson_val *v = cell_value(row, col);
    int n = 0;
    switch (yyjson_get_type(v)) {
        case YYJSON_TYPE_STR:
            if (terminated(v)) return hand_out(yyjson_get_str(v), yyjson_get_len(v), len);
            drop_cell_copies();
            s_copy = copy_of(v);
            if (s_copy == nullptr) return hand_out("", 0, len);
            return hand_out(s_copy, yyjson_get_len(v), len);
        case YYJSON_TYPE_BOOL:
            return yyjson_get_bool(v) ? hand_out("true", 4, len) : hand_out("false", 5, len);
        case YYJSON_TYPE_NUM:
            if (yyjson_is_sint(v))
                n = snprintf(s_scalar, sizeof s_scalar, "%lld",
                             static_cast<long long>(yyjson_get_sint(v)));
            else if (yyjson_is_uint(v))
                n = snprintf(s_scalar, sizeof s_scalar, "%llu",
                             static_cast<unsigned long long>(yyjson_get_uint(v)));
            else
                n = snprintf(s_scalar, sizeof s_scalar, "%.15g", yyjson_get_real(v));
            return hand_out(s_scalar, n > 0 ? static_cast<size_t>(n) : 0, len);
        case YYJSON_TYPE_ARR:
        case YYJSON_TYPE_OBJ:
            return hand_out_json(v, len);
        default:  // absent, null
            return hand_out("", 0, len);
    }
}

TARN_API const char *tarn_client_cell_json(int row, int col, size_t *len) {
    yyjson_val *v = cell_value(row, col);
    if (v == nullptr) return hand_out("", 0, len);
    return hand_out_json(v, len);
}

}  // extern "C"
