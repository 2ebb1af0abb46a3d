// A reply body through an operation, every grid accessor and the taken
// result's readers: the first byte picks the status class and the
// operation, the rest is the body.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tarn_client.h"

namespace {

std::string g_body;
int32_t g_status = 200;

char *copy(const std::string &text) {
    auto *out = static_cast<char *>(malloc(text.size() + 1));
    memcpy(out, text.c_str(), text.size() + 1);
    return out;
}

int32_t fake_get(void *, const char *, const char *, char **out_body, int32_t *out_status,
                 char **out_error) {
    *out_body = copy(g_body);
    *out_status = g_status;
    *out_error = nullptr;
    return 0;
}

int32_t fake_post(void *, const char *, const char *, const char *, char **out_body,
                  int32_t *out_status, char **out_error) {
    return fake_get(nullptr, nullptr, nullptr, out_body, out_status, out_error);
}

const tarn_client_io kIo = {nullptr, fake_get, fake_post, nullptr, nullptr, nullptr};

// One session for the whole run, as a long-lived caller keeps one.
tarn_session *const g_session = tarn_session_new();

// Reads a grid cell by cell, one past each edge included, as a caller
// would; a cell text must always be a terminated string within its bound.
void read_grid() {
    int rows = tarn_session_row_count(g_session);
    int cols = tarn_session_col_count(g_session);
    if ((rows < 0) != (cols < 0)) abort();
    // Bounded, so one wide input cannot stall the run.
    int max_rows = rows < 64 ? rows : 64;
    int max_cols = cols < 64 ? cols : 64;
    for (int c = -1; c <= max_cols; ++c)
        if (tarn_session_col_name(g_session, c) == nullptr) abort();
    for (int r = -1; r <= max_rows; ++r)
        for (int c = -1; c <= max_cols; ++c) {
            if (strlen(tarn_session_cell(g_session, r, c)) > 8191) abort();
            int kind = tarn_session_cell_kind(g_session, r, c);
            if (kind < TARN_CELL_ABSENT || kind > TARN_CELL_OBJECT) abort();
            size_t len = 0;
            const char *text = tarn_session_cell_text(g_session, r, c, &len);
            if (text == nullptr || text[len] != '\0') abort();
            const char *json = tarn_session_cell_json(g_session, r, c, &len);
            if (json == nullptr || json[len] != '\0') abort();
            // A cell that is there always has some JSON text.
            if (kind != TARN_CELL_ABSENT && len == 0) abort();
        }
    tarn_session_cell(g_session, rows, cols);
    tarn_session_cell(g_session, 2147483647, -2147483647 - 1);
}

// Takes the reply and reads every result set the same way; a taken result
// holds the text the session held.
void read_result(int rc) {
    tarn_result *r = tarn_session_take_result(g_session);
    if ((r != nullptr) != (rc == 0)) abort();
    if (r == nullptr) return;
    if (strcmp(tarn_result_text(r), g_body.c_str()) != 0) abort();
    int sets = tarn_result_set_count(r);
    for (int i = 0; i < sets && i < 8; ++i) {
        if (tarn_result_select_set(r, i) != 0) abort();
        int rows = tarn_result_row_count(r);
        int cols = tarn_result_col_count(r);
        if (rows < 0 || cols < 0) abort();
        int max_rows = rows < 16 ? rows : 16;
        int max_cols = cols < 16 ? cols : 16;
        for (int c = -1; c <= max_cols; ++c)
            if (tarn_result_col_name(r, c) == nullptr) abort();
        for (int row = -1; row <= max_rows; ++row)
            for (int c = -1; c <= max_cols; ++c) {
                int kind = tarn_result_cell_kind(r, row, c);
                size_t len = 0;
                const char *text = tarn_result_cell_text(r, row, c, &len);
                if (text == nullptr || text[len] != '\0') abort();
                if ((kind == TARN_CELL_ABSENT || kind == TARN_CELL_NULL) && len != 0) abort();
            }
    }
    if (tarn_result_select_set(r, sets) != -1) abort();
    tarn_result_free(r);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0) return 0;
    static const int32_t kStatus[] = {200, 204, 299, 302, 400, 404, 500, 0};
    g_status = kStatus[data[0] & 7];
    g_body.assign(reinterpret_cast<const char *>(data + 1), size - 1);
    if (g_session == nullptr) abort();
    tarn_session *s = g_session;
    tarn_session_set_io(s, &kIo);
    int rc;
    switch ((data[0] >> 3) & 3) {
        case 0:
            rc = tarn_session_query(s, "s", "d", "q", 0, 0, nullptr);
            break;
        case 1:
            rc = tarn_session_admin(s, nullptr, "jobs", nullptr, nullptr);  // may take its fallback
            break;
        case 2:
            rc = tarn_session_editgrid_load(s, nullptr, nullptr, nullptr, "t", 5);
            break;
        default:
            rc = tarn_session_ping(s);
    }
    if (strlen(tarn_session_last_error(s)) > 1023) abort();
    if ((rc == 0) != (tarn_session_last_error(s)[0] == '\0')) abort();
    if ((rc == 0) != (tarn_session_error_code(s) == TARN_E_NONE)) abort();
    // The reply text is kept up to the body's first NUL.
    if (rc == 0 && strcmp(tarn_session_result(s), g_body.c_str()) != 0) abort();
    read_grid();
    read_result(rc);
    return 0;
}
