// Results a caller takes from a session: the reply, every result set in
// it, and cell texts that live as long as the result.
#include <yyjson.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "reply_shape.h"
#include "state.h"

namespace {

struct ResultSet {
    yyjson_val *rows = nullptr;
    std::vector<yyjson_val *> row_index;
    std::vector<const char *> col_names;  // null where an entry has no name
    std::unordered_set<std::string_view> names;
    bool truncated = false;
};

using tarn::reply_shape::has_members;

}  // namespace

struct tarn_result {
    char *text = nullptr;
    size_t len = 0;
    int32_t status = 0;
    yyjson_doc *doc = nullptr;
    std::vector<ResultSet> sets;
    std::atomic<int> selected{0};

    // JSON texts of array and object cells, made on first read.
    std::mutex json_mu;
    std::unordered_map<const yyjson_val *, char *> json;

    tarn_result() = default;
    tarn_result(const tarn_result &) = delete;
    tarn_result &operator=(const tarn_result &) = delete;
    ~tarn_result() {
        for (auto &entry : json) free(entry.second);
        yyjson_doc_free(doc);
        free(text);
    }

    const ResultSet *set() const {
        int i = selected.load(std::memory_order_relaxed);
        return i >= 0 && static_cast<size_t>(i) < sets.size() ? &sets[static_cast<size_t>(i)]
                                                              : nullptr;
    }
};

namespace {

void add_set(tarn_result *r, yyjson_val *holder, yyjson_val *rows) {
    ResultSet set;
    set.rows = rows;
    set.truncated = yyjson_get_bool(yyjson_obj_get(holder, "truncated"));
    set.row_index.reserve(yyjson_arr_size(rows));
    size_t i = 0;
    size_t max = 0;
    yyjson_val *v = nullptr;
    yyjson_arr_foreach(rows, i, max, v) {
        set.row_index.push_back(v);
    }
    yyjson_val *cols = yyjson_obj_get(holder, "columns");
    yyjson_arr_foreach(cols, i, max, v) {
        yyjson_val *name = yyjson_is_obj(v) ? yyjson_obj_get(v, "name") : v;
        const char *text = yyjson_is_str(name) ? yyjson_get_str(name) : nullptr;
        set.col_names.push_back(text);
        if (text != nullptr) set.names.emplace(text, yyjson_get_len(name));
    }
    r->sets.push_back(std::move(set));
}

// The grids the session's readers would find, and every other result set
// of a batched reply beside them.
void locate_sets(tarn_result *r) {
    yyjson_val *root = yyjson_doc_get_root(r->doc);
    if (!has_members(root)) return;
    yyjson_val *rows = yyjson_obj_get(root, "rows");
    if (yyjson_is_arr(rows)) {
        add_set(r, root, rows);
        return;
    }
    // A root columns array stops the search.
    if (yyjson_is_arr(yyjson_obj_get(root, "columns"))) return;
    tarn::reply_shape::for_each_batched_result(root, [r](yyjson_val *result) {
        yyjson_val *found = yyjson_obj_get(result, "rows");
        if (yyjson_is_arr(found)) add_set(r, result, found);
    });
    // The session's readers read the last one.
    r->selected = r->sets.empty() ? 0 : static_cast<int>(r->sets.size() - 1);
}

yyjson_val *row_of(const ResultSet &set, int row) {
    if (row < 0 || static_cast<size_t>(row) >= set.row_index.size()) return nullptr;
    return set.row_index[static_cast<size_t>(row)];
}

// Object rows: by column name, then by member position where the member's
// key names no column, so that a row lacking a key never shows another
// column's value in its place.
yyjson_val *object_cell(const ResultSet &set, yyjson_val *row, size_t col) {
    if (col < set.col_names.size() && set.col_names[col] != nullptr) {
        yyjson_val *v = yyjson_obj_get(row, set.col_names[col]);
        if (v != nullptr) return v;
    }
    if (col >= yyjson_obj_size(row)) return nullptr;
    size_t i = 0;
    size_t max = 0;
    yyjson_val *key = nullptr;
    yyjson_val *val = nullptr;
    yyjson_obj_foreach(row, i, max, key, val) {
        if (i != col) continue;
        std::string_view name(yyjson_get_str(key), yyjson_get_len(key));
        return set.names.count(name) != 0 ? nullptr : val;
    }
    return nullptr;
}

yyjson_val *cell_of(const tarn_result *r, int row, int col) {
    const ResultSet *set = r->set();
    yyjson_val *v = set != nullptr ? row_of(*set, row) : nullptr;
    if (v == nullptr || col < 0) return nullptr;
    auto c = static_cast<size_t>(col);
    if (yyjson_is_arr(v)) return c < yyjson_arr_size(v) ? yyjson_arr_get(v, c) : nullptr;
    if (yyjson_is_obj(v)) return object_cell(*set, v, c);
    return nullptr;
}

const char *hand_out(const char *text, size_t n, size_t *len) {
    if (len != nullptr) *len = n;
    return text;
}

const char *json_of(tarn_result *r, yyjson_val *v, size_t *len) {
    std::lock_guard<std::mutex> lock(r->json_mu);
    auto found = r->json.find(v);
    if (found == r->json.end()) {
        char *text =
            yyjson_val_write_opts(v, YYJSON_WRITE_ALLOW_INVALID_UNICODE, nullptr, nullptr, nullptr);
        if (text == nullptr) return hand_out("", 0, len);
        try {
            found = r->json.emplace(v, text).first;
        } catch (...) {
            free(text);
            return hand_out("", 0, len);
        }
    }
    return hand_out(found->second, strlen(found->second), len);
}

}  // namespace

using namespace tarn;

extern "C" {

TARN_API tarn_result *tarn_session_take_result(tarn_session *s) {
    if (!s->has_reply) return nullptr;
    auto *r = new (std::nothrow) tarn_result;
    if (r == nullptr) return nullptr;
    // The session's grid is the reply's, which the session is about to lose.
    drop_grid(&s->grid);
    r->status = s->http_status;
    r->len = s->result != nullptr ? s->result_len : 0;
    r->text = s->result;
    s->result = nullptr;
    s->result_cap = 0;
    s->result_len = 0;
    s->has_reply = false;
    if (r->text == nullptr) return r;
    // Numbers stay as the reply wrote them; strings come out whole even
    // where their bytes are not valid UTF-8.
    r->doc =
        yyjson_read(r->text, r->len, YYJSON_READ_NUMBER_AS_RAW | YYJSON_READ_ALLOW_INVALID_UNICODE);
    if (r->doc != nullptr) {
        try {
            locate_sets(r);
        } catch (...) {
            delete r;
            return nullptr;
        }
    }
    return r;
}

TARN_API void tarn_result_free(tarn_result *r) {
    delete r;
}

TARN_API const char *tarn_result_text(const tarn_result *r) {
    return r->text != nullptr ? r->text : "";
}

TARN_API int32_t tarn_result_http_status(const tarn_result *r) {
    return r->status;
}

TARN_API int tarn_result_set_count(const tarn_result *r) {
    return static_cast<int>(r->sets.size());
}

TARN_API int tarn_result_select_set(tarn_result *r, int i) {
    if (i < 0 || static_cast<size_t>(i) >= r->sets.size()) return -1;
    r->selected = i;
    return 0;
}

TARN_API int tarn_result_truncated(const tarn_result *r) {
    const ResultSet *set = r->set();
    return set != nullptr && set->truncated ? 1 : 0;
}

TARN_API int tarn_result_row_count(const tarn_result *r) {
    const ResultSet *set = r->set();
    return set != nullptr ? static_cast<int>(set->row_index.size()) : -1;
}

TARN_API int tarn_result_col_count(const tarn_result *r) {
    const ResultSet *set = r->set();
    if (set == nullptr) return -1;
    if (!set->col_names.empty()) return static_cast<int>(set->col_names.size());
    yyjson_val *first = row_of(*set, 0);
    if (yyjson_is_arr(first)) return static_cast<int>(yyjson_arr_size(first));
    if (yyjson_is_obj(first)) return static_cast<int>(yyjson_obj_size(first));
    return 0;
}

TARN_API const char *tarn_result_col_name(const tarn_result *r, int col) {
    const ResultSet *set = r->set();
    if (set == nullptr || col < 0) return "";
    auto c = static_cast<size_t>(col);
    if (!set->col_names.empty()) {
        const char *name = c < set->col_names.size() ? set->col_names[c] : nullptr;
        return name != nullptr ? name : "";
    }
    // No columns array: an object first row names the columns by its keys.
    yyjson_val *first = row_of(*set, 0);
    if (!yyjson_is_obj(first) || c >= yyjson_obj_size(first)) return "";
    size_t i = 0;
    size_t max = 0;
    yyjson_val *key = nullptr;
    yyjson_val *val = nullptr;
    yyjson_obj_foreach(first, i, max, key, val) {
        if (i == c) return yyjson_get_str(key);
    }
    return "";
}

TARN_API int tarn_result_cell_kind(const tarn_result *r, int row, int col) {
    switch (yyjson_get_type(cell_of(r, row, col))) {
        case YYJSON_TYPE_NULL:
            return TARN_CELL_NULL;
        case YYJSON_TYPE_BOOL:
            return TARN_CELL_BOOL;
        case YYJSON_TYPE_NUM:
        case YYJSON_TYPE_RAW:
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

TARN_API const char *tarn_result_cell_text(const tarn_result *r, int row, int col, size_t *len) {
    yyjson_val *v = cell_of(r, row, col);
    switch (yyjson_get_type(v)) {
        case YYJSON_TYPE_STR:
            return hand_out(yyjson_get_str(v), yyjson_get_len(v), len);
        case YYJSON_TYPE_RAW:
            return hand_out(yyjson_get_raw(v), yyjson_get_len(v), len);
        case YYJSON_TYPE_BOOL:
            return yyjson_get_bool(v) ? hand_out("true", 4, len) : hand_out("false", 5, len);
        case YYJSON_TYPE_ARR:
        case YYJSON_TYPE_OBJ:
            // The cache is the one part of a result that changes; it is locked.
            return json_of(const_cast<tarn_result *>(r), v, len);
        default:  // absent, null
            return hand_out("", 0, len);
    }
}

}  // extern "C"
