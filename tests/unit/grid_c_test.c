/* The whole-grid readers called from C, over a canned reply. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "tarn_client.h"

static const char *s_reply;
static int s_failures;

static int32_t canned_get(void *user_data, const char *url, const char *headers, char **out_body,
                          int32_t *out_status, char **out_error) {
    size_t n = strlen(s_reply) + 1;
    (void)user_data;
    (void)url;
    (void)headers;
    *out_body = malloc(n);
    memcpy(*out_body, s_reply, n);
    *out_status = 200;
    *out_error = NULL;
    return 0;
}

static int32_t canned_post(void *user_data, const char *url, const char *body, const char *headers,
                           char **out_body, int32_t *out_status, char **out_error) {
    (void)body;
    return canned_get(user_data, url, headers, out_body, out_status, out_error);
}

static void expect_text(const char *what, const char *got, size_t got_len, const char *want,
                        size_t want_len) {
    if (got_len != want_len || memcmp(got, want, want_len) != 0) {
        fprintf(stderr, "%s: got [%.*s] (%zu bytes), want [%s]\n", what, (int)got_len, got, got_len,
                want);
        ++s_failures;
    }
}

static void expect_int(const char *what, int got, int want) {
    if (got != want) {
        fprintf(stderr, "%s: got %d, want %d\n", what, got, want);
        ++s_failures;
    }
}

static void fetch(const char *reply) {
    s_reply = reply;
    if (tarn_client_ping() != 0) {
        fprintf(stderr, "ping failed: %s\n", tarn_client_last_error());
        ++s_failures;
    }
}

int main(void) {
    static const struct {
        int row, col, kind;
        const char *text, *json;
    } cells[] = {
        {0, 0, TARN_CELL_NUMBER, "2.5", "2.5"},
        {0, 1, TARN_CELL_NULL, "", "null"},
        {0, 2, TARN_CELL_BOOL, "false", "false"},
        {1, 0, TARN_CELL_STRING, "t\"x", "\"t\\\"x\""},
        {1, 1, TARN_CELL_ARRAY, "[1,{}]", "[1,{}]"},
        {1, 2, TARN_CELL_OBJECT, "{\"k\":null}", "{\"k\":null}"},
        {2, 0, TARN_CELL_ABSENT, "", ""},
        {0, 3, TARN_CELL_ABSENT, "", ""},
        {-1, 0, TARN_CELL_ABSENT, "", ""},
        {0, -1, TARN_CELL_ABSENT, "", ""},
    };
    tarn_client_io io = {NULL, canned_get, canned_post, NULL, NULL, NULL};
    size_t i;
    size_t len = 0;
    const char *text;
    char *big;

    tarn_client_init();
    tarn_client_set_io(&io);

    fetch(
        "{\"columns\":[\"a\",{\"title\":\"b\"},{\"name\":\"c\"}],"
        "\"rows\":[[2.5,null,false],[\"t\\\"x\",[1,{}],{\"k\":null}],7]}");
    expect_text("col 0", tarn_client_col_name(0), strlen(tarn_client_col_name(0)), "a", 1);
    expect_text("col 1 unnamed", tarn_client_col_name(1), strlen(tarn_client_col_name(1)), "", 0);
    expect_text("col 2", tarn_client_col_name(2), strlen(tarn_client_col_name(2)), "c", 1);
    expect_text("col 3", tarn_client_col_name(3), strlen(tarn_client_col_name(3)), "", 0);
    for (i = 0; i < sizeof cells / sizeof cells[0]; ++i) {
        expect_int("kind", tarn_client_cell_kind(cells[i].row, cells[i].col), cells[i].kind);
        text = tarn_client_cell_text(cells[i].row, cells[i].col, &len);
        expect_text("text", text, len, cells[i].text, strlen(cells[i].text));
        text = tarn_client_cell_json(cells[i].row, cells[i].col, &len);
        expect_text("json", text, len, cells[i].json, strlen(cells[i].json));
    }

    /* Without columns, an object first row names them; NUL bytes and
       texts past the 8 KiB cell buffer come back whole. */
    big = malloc(20001);
    memset(big, 'x', 20000);
    big[20000] = '\0';
    {
        char *reply = malloc(20100);
        snprintf(reply, 20100, "{\"rows\":[{\"id\":\"a\\u0000b\",\"v\":\"%s\"}]}", big);
        fetch(reply);
        free(reply);
    }
    expect_text("key name", tarn_client_col_name(1), strlen(tarn_client_col_name(1)), "v", 1);
    text = tarn_client_cell_text(0, 0, &len);
    expect_text("NUL inside", text, len, "a\0b", 3);
    text = tarn_client_cell_text(0, 1, NULL);
    expect_int("whole text", (int)strlen(text), 20000);
    expect_int("cut cell", (int)strlen(tarn_client_cell(0, 1)), 8191);
    free(big);

    /* No grid: every reader answers empty. */
    fetch("[1]");
    expect_text("no grid name", tarn_client_col_name(0), strlen(tarn_client_col_name(0)), "", 0);
    expect_int("no grid kind", tarn_client_cell_kind(0, 0), TARN_CELL_ABSENT);
    text = tarn_client_cell_json(0, 0, &len);
    expect_text("no grid json", text, len, "", 0);

    tarn_client_cleanup();
    if (s_failures == 0) puts("grid readers from C: all passed");
    return s_failures == 0 ? 0 : 1;
}
