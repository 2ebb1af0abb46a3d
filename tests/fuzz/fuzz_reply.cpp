// A reply body through an operation and every grid accessor: the first
// byte picks the status class and the operation, the rest is the body.
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

// Reads a grid cell by cell, one past each edge included, as a caller
// would; a cell text must always be a terminated string within its bound.
void read_grid() {
    int rows = tarn_client_row_count();
    int cols = tarn_client_col_count();
    if ((rows < 0) != (cols < 0)) abort();
    // Bounded, so one wide input cannot stall the run.
    int max_rows = rows < 64 ? rows : 64;
    int max_cols = cols < 64 ? cols : 64;
    for (int c = -1; c <= max_cols; ++c)
        if (tarn_client_col_name(c) == nullptr) abort();
    for (int r = -1; r <= max_rows; ++r)
        for (int c = -1; c <= max_cols; ++c) {
            if (strlen(tarn_client_cell(r, c)) > 8191) abort();
            int kind = tarn_client_cell_kind(r, c);
            if (kind < TARN_CELL_ABSENT || kind > TARN_CELL_OBJECT) abort();
            size_t len = 0;
            const char *text = tarn_client_cell_text(r, c, &len);
            if (text == nullptr || text[len] != '\0') abort();
            const char *json = tarn_client_cell_json(r, c, &len);
            if (json == nullptr || json[len] != '\0') abort();
            // A cell that is there always has some JSON text.
            if (kind != TARN_CELL_ABSENT && len == 0) abort();
        }
    tarn_client_cell(rows, cols);
    tarn_client_cell(2147483647, -2147483647 - 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0) return 0;
    static const int32_t kStatus[] = {200, 204, 299, 302, 400, 404, 500, 0};
    g_status = kStatus[data[0] & 7];
    g_body.assign(reinterpret_cast<const char *>(data + 1), size - 1);
    tarn_client_set_io(&kIo);
    int rc;
    switch ((data[0] >> 3) & 3) {
        case 0:
            rc = tarn_client_query("s", "d", "q", 0, 0, nullptr);
            break;
        case 1:
            rc = tarn_client_admin(nullptr, "jobs", nullptr, nullptr);  // may take its fallback
            break;
        case 2:
            rc = tarn_client_editgrid_load(nullptr, nullptr, nullptr, "t", 5);
            break;
        default:
            rc = tarn_client_ping();
    }
    if (strlen(tarn_client_last_error()) > 1023) abort();
    if ((rc == 0) != (tarn_client_last_error()[0] == '\0')) abort();
    // The reply text is kept up to the body's first NUL.
    if (rc == 0 && strcmp(tarn_client_result(), g_body.c_str()) != 0) abort();
    read_grid();
    tarn_client_cleanup();
    return 0;
}
