// The result grid: locating rows and columns in a reply and reading cells.
#include <yyjson.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "reply_shape.h"
#include "state.h"
#include "transport/huge_pages.h"

namespace tarn {
namespace {

// Numbers stay as the reply wrote them, and strings keep their bytes where
// they are not valid UTF-8: one odd value must not cost the whole grid.
constexpr yyjson_read_flag kReadFlags =
    YYJSON_READ_NUMBER_AS_RAW | YYJSON_READ_ALLOW_INVALID_UNICODE;
constexpr yyjson_write_flag kWriteFlags = YYJSON_WRITE_ALLOW_INVALID_UNICODE;

using reply_shape::has_members;

bool nonempty_arr(yyjson_val *v) {
    return yyjson_is_arr(v) && yyjson_arr_size(v) > 0;
}

// Column names are kept up to a NUL they may hold.
size_t text_len(yyjson_val *str) {
    const char *s = yyjson_get_str(str);
    size_t len = yyjson_get_len(str);
    const void *nul = memchr(s, '\0', len);
    return nul != nullptr ? static_cast<size_t>(static_cast<const char *>(nul) - s) : len;
}

char *copy_text(yyjson_val *str) {
    size_t n = text_len(str);
    auto *copy = static_cast<char *>(mem_malloc(n + 1));
    if (copy != nullptr) {
        memcpy(copy, yyjson_get_str(str), n);
        copy[n] = '\0';
    }
    return copy;
}

// Batched replies: the last qualifying result of the last batch that has one.
bool find_batched(yyjson_val *root, yyjson_val **rows, yyjson_val **cols, yyjson_val **holder) {
    yyjson_val *batches = yyjson_obj_get(root, "batches");
    if (!nonempty_arr(batches)) return false;
    for (size_t b = yyjson_arr_size(batches); b-- > 0;) {
        yyjson_val *batch = yyjson_arr_get(batches, b);
        if (!has_members(batch)) continue;
        yyjson_val *results = yyjson_obj_get(batch, "results");
        if (!nonempty_arr(results)) continue;
        for (size_t r = yyjson_arr_size(results); r-- > 0;) {
            yyjson_val *result = yyjson_arr_get(results, r);
            if (!has_members(result)) continue;
            yyjson_val *found = yyjson_obj_get(result, "rows");
            if (!yyjson_is_arr(found)) continue;
            *rows = found;
            *cols = yyjson_obj_get(result, "columns");
            *holder = result;
            return true;
        }
    }
    return false;
}

// Results with rows in every batch: the sets a taken result reads.
int count_batched(yyjson_val *root) {
    int n = 0;
    reply_shape::for_each_batched_result(root, [&n](yyjson_val *result) {
        if (yyjson_is_arr(yyjson_obj_get(result, "rows"))) ++n;
    });
    return n;
}

// Reading a whole grid through positional access would be quadratic, so
// parse_grid records each row once.
void index_rows(Grid *g) {
    size_t n = yyjson_arr_size(g->rows);
    g->row_count = n;
    if (n == 0) return;
    g->row_index = static_cast<yyjson_val **>(mem_malloc(n * sizeof(yyjson_val *)));
    if (g->row_index == nullptr) return;  // positional access still works
    size_t i = 0;
    size_t max = 0;
    yyjson_val *row = nullptr;
    yyjson_arr_foreach(g->rows, i, max, row) {
        g->row_index[i] = row;
    }
}

yyjson_val *row_at(const Grid &g, size_t i) {
    return g.row_index != nullptr ? g.row_index[i] : yyjson_arr_get(g.rows, i);
}

void take_column_names(Grid *g, yyjson_val *cols) {
    int n = static_cast<int>(yyjson_arr_size(cols));
    size_t slots = n > 0 ? static_cast<size_t>(n) : 1;
    g->col_names = static_cast<char **>(mem_malloc(slots * sizeof(char *)));
    if (g->col_names == nullptr) return;
    memset(g->col_names, 0, slots * sizeof(char *));
    g->ncol = n;
    size_t i = 0;
    size_t max = 0;
    yyjson_val *entry = nullptr;
    yyjson_arr_foreach(cols, i, max, entry) {
        yyjson_val *name = yyjson_is_obj(entry) ? yyjson_obj_get(entry, "name") : entry;
        if (yyjson_is_str(name)) g->col_names[i] = copy_text(name);
    }
}

// The preview shows numbers as it did when the reply was read as doubles:
// each token is read again by those rules. A token past a double's range
// (1e400) cannot be, and shows as sent.
void render_number(const char *token, size_t len, char *out) {
    // Read on the stack where the token fits: previews go cell by cell.
    alignas(16) char pool[512];
    yyjson_alc alc;
    yyjson_alc *stack = yyjson_alc_pool_init(&alc, pool, sizeof pool) ? &alc : nullptr;
    char *text = const_cast<char *>(token);  // not written to: not in place
    yyjson_read_err err;
    yyjson_doc *doc = yyjson_read_opts(text, len, 0, stack, &err);
    if (doc == nullptr && err.code == YYJSON_READ_ERROR_MEMORY_ALLOCATION)
        doc = yyjson_read_opts(text, len, 0, nullptr, nullptr);
    yyjson_val *v = yyjson_doc_get_root(doc);
    if (yyjson_is_sint(v))
        snprintf(out, kCellCap, "%lld", static_cast<long long>(yyjson_get_sint(v)));
    else if (yyjson_is_uint(v))
        snprintf(out, kCellCap, "%llu", static_cast<unsigned long long>(yyjson_get_uint(v)));
    else if (yyjson_is_real(v))
        snprintf(out, kCellCap, "%.15g", yyjson_get_real(v));
    else
        snprintf(out, kCellCap, "%.*s", static_cast<int>(len < kCellCap ? len : kCellCap), token);
    yyjson_doc_free(doc);
}

// Arrays and objects likewise: their text is read again with numbers as
// doubles and written anew; one holding a token past a double's range keeps
// its tokens as sent.
char *container_text(yyjson_val *v) {
    size_t n = 0;
    char *raw = yyjson_val_write_opts(v, kWriteFlags, nullptr, &n, nullptr);
    if (raw == nullptr) return nullptr;
    yyjson_doc *doc = yyjson_read(raw, n, YYJSON_READ_ALLOW_INVALID_UNICODE);
    if (doc == nullptr) return raw;
    char *text = yyjson_write(doc, kWriteFlags, nullptr);
    yyjson_doc_free(doc);
    if (text == nullptr) return raw;
    free(raw);
    return text;
}

void render_cell(yyjson_val *v, char *out) {
    out[0] = '\0';
    switch (yyjson_get_type(v)) {
        case YYJSON_TYPE_STR: {
            size_t n = text_len(v);
            if (n >= kCellCap) n = kCellCap - 1;
            memcpy(out, yyjson_get_str(v), n);
            out[n] = '\0';
            break;
        }
        case YYJSON_TYPE_BOOL:
            snprintf(out, kCellCap, "%s", yyjson_get_bool(v) ? "true" : "false");
            break;
        case YYJSON_TYPE_RAW:
            render_number(yyjson_get_raw(v), yyjson_get_len(v), out);
            break;
        case YYJSON_TYPE_ARR:
        case YYJSON_TYPE_OBJ: {
            char *json = container_text(v);
            if (json != nullptr) {
                snprintf(out, kCellCap, "%s", json);
                free(json);
            }
            break;
        }
        default:  // no value, null
            break;
    }
}

// Object rows: by column name first, then by member position where the
// member's key names no column, so that a row lacking a key never shows
// another column's value in its place.
yyjson_val *object_cell(Grid *g, yyjson_val *row, int col) {
    if (col < g->ncol && g->col_names != nullptr && g->col_names[col] != nullptr &&
        yyjson_obj_size(row) > 0) {
        const char *name = g->col_names[col];
        yyjson_val *v = yyjson_obj_getn(row, name, strlen(name));
        if (v != nullptr) return v;
    }
    if (static_cast<size_t>(col) >= yyjson_obj_size(row)) return nullptr;
    size_t i = 0;
    size_t max = 0;
    yyjson_val *key = nullptr;
    yyjson_val *val = nullptr;
    yyjson_obj_foreach(row, i, max, key, val) {
        if (i != static_cast<size_t>(col)) continue;
        return names_column(g, yyjson_get_str(key), yyjson_get_len(key)) ? nullptr : val;
    }
    return nullptr;
}

// The parsed document of a large reply is as large as the reply again.
void *doc_malloc(void * /*ctx*/, size_t n) {
    void *p = malloc(n);
    huge_pages::advise(p, n);
    return p;
}
void *doc_realloc(void * /*ctx*/, void *p, size_t /*old*/, size_t n) {
    void *q = realloc(p, n);
    huge_pages::advise(q, n);
    return q;
}
void doc_free(void * /*ctx*/, void *p) {
    free(p);
}
const yyjson_alc kDocAlloc = {doc_malloc, doc_realloc, doc_free, nullptr};

}  // namespace

void drop_grid(Grid *g) {
    if (g->doc != nullptr) yyjson_doc_free(g->doc);
    g->doc = nullptr;
    g->rows = nullptr;
    drop_row_index(&g->wide);
    free(g->row_index);
    g->row_index = nullptr;
    g->row_count = 0;
    if (g->col_names != nullptr) {
        for (int i = 0; i < g->ncol; ++i) free(g->col_names[i]);
        free(g->col_names);
        g->col_names = nullptr;
    }
    g->ncol = 0;
    g->set_count = 0;
    g->truncated = false;
    drop_cell_copies(g);
}

void parse_grid(tarn_session *s) {
    Grid *g = &s->grid;
    drop_grid(g);
    if (s->result == nullptr || s->result_len == 0) return;
    // Not in place: the reader would write over the reply text, which
    // tarn_session_result hands out as it came.
    g->doc = yyjson_read_opts(s->result, s->result_len, kReadFlags, &kDocAlloc, nullptr);
    if (g->doc == nullptr) return;

    yyjson_val *root = yyjson_doc_get_root(g->doc);
    yyjson_val *rows = nullptr;
    yyjson_val *cols = nullptr;
    yyjson_val *holder = root;
    bool found = false;
    if (has_members(root)) {
        rows = yyjson_obj_get(root, "rows");
        cols = yyjson_obj_get(root, "columns");
        if (yyjson_is_arr(rows)) {
            found = true;
            g->set_count = 1;
        } else if (!yyjson_is_arr(cols)) {  // a root columns array stops the search
            found = find_batched(root, &rows, &cols, &holder);
            if (found) g->set_count = count_batched(root);
        }
    }
    if (!found) {
        yyjson_doc_free(g->doc);
        g->doc = nullptr;
        return;
    }
    g->rows = rows;
    g->truncated = yyjson_get_bool(yyjson_obj_get(holder, "truncated"));
    index_rows(g);
    if (yyjson_is_arr(cols)) take_column_names(g, cols);
}

yyjson_val *grid_row(const Grid &g, int row) {
    if (g.rows == nullptr || row < 0 || static_cast<size_t>(row) >= g.row_count) return nullptr;
    return row_at(g, static_cast<size_t>(row));
}

yyjson_val *cell_value(Grid *g, int row, int col) {
    yyjson_val *r = grid_row(*g, row);
    if (r == nullptr || col < 0) return nullptr;
    yyjson_val *v = nullptr;
    if (indexed_cell(g, static_cast<size_t>(row), r, col, &v)) return v;
    if (yyjson_is_arr(r))
        return static_cast<size_t>(col) < yyjson_arr_size(r)
                   ? yyjson_arr_get(r, static_cast<size_t>(col))
                   : nullptr;
    if (yyjson_is_obj(r)) return object_cell(g, r, col);
    return nullptr;
}

}  // namespace tarn

using namespace tarn;

extern "C" {

TARN_API int tarn_session_row_count(tarn_session *s) {
    return s->grid.rows != nullptr ? static_cast<int>(s->grid.row_count) : -1;
}

TARN_API int tarn_session_set_count(tarn_session *s) {
    return s->grid.set_count;
}

TARN_API int tarn_session_truncated(tarn_session *s) {
    return s->grid.truncated ? 1 : 0;
}

TARN_API int tarn_session_col_count(tarn_session *s) {
    const Grid &g = s->grid;
    if (g.rows == nullptr) return -1;
    if (g.ncol > 0) return g.ncol;
    if (g.row_count == 0) return 0;
    yyjson_val *first = row_at(g, 0);
    if (yyjson_is_arr(first)) return static_cast<int>(yyjson_arr_size(first));
    if (yyjson_is_obj(first)) return static_cast<int>(yyjson_obj_size(first));
    return 0;
}

TARN_API const char *tarn_session_cell(tarn_session *s, int row, int col) {
    s->cell[0] = '\0';
    yyjson_val *v = cell_value(&s->grid, row, col);
    if (v != nullptr) render_cell(v, s->cell);
    return s->cell;
}

}  // extern "C"
