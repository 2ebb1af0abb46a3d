#include "result_grid.h"

#include <cstdio>

#include "fields.h"

namespace tarn_cli {

tarn_result *ResultGrid::select() const {
    tarn_result_select_set(r_, set_);
    return r_;
}

int ResultGrid::row_count() const {
    return tarn_result_row_count(select());
}

int ResultGrid::col_count() const {
    return tarn_result_col_count(select());
}

const char *ResultGrid::col_name(int col) const {
    return tarn_result_col_name(select(), col);
}

int ResultGrid::cell_kind(int row, int col) const {
    return tarn_result_cell_kind(select(), row, col);
}

const char *ResultGrid::cell_text(int row, int col, size_t *n) const {
    return tarn_result_cell_text(select(), row, col, n);
}

const char *ResultGrid::cell_json(int row, int col, size_t *n) const {
    size_t len = 0;
    const char *text = tarn_result_cell_text(select(), row, col, &len);
    switch (tarn_result_cell_kind(r_, row, col)) {
        case TARN_CELL_ABSENT:
            json_.clear();
            break;
        case TARN_CELL_NULL:
            json_ = "null";
            break;
        case TARN_CELL_STRING:
            json_.clear();
            append_json_quoted(&json_, text, len);
            break;
        default:  // numbers, booleans, arrays and objects are JSON already
            json_.assign(text, len);
    }
    if (n != nullptr) *n = json_.size();
    return json_.c_str();
}

}  // namespace tarn_cli
