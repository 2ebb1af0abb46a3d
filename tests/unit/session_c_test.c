/* Sessions and taken results called from C, over a transport table whose
   user_data names the reply each session gets. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "tarn_client.h"

static int s_failures;

static int32_t canned_get(void *user_data, const char *url, const char *headers, char **out_body,
                          int32_t *out_status, char **out_error) {
    const char *reply = user_data;
    size_t n = strlen(reply) + 1;
    (void)url;
    (void)headers;
    *out_body = malloc(n);
    if (*out_body == NULL) return -1;
    memcpy(*out_body, reply, n);
    *out_status = 200;
    *out_error = NULL;
    return 0;
}

static int32_t canned_post(void *user_data, const char *url, const char *body, const char *headers,
                           char **out_body, int32_t *out_status, char **out_error) {
    (void)body;
    return canned_get(user_data, url, headers, out_body, out_status, out_error);
}

static void expect_str(const char *what, const char *got, const char *want) {
    if (strcmp(got, want) != 0) {
        fprintf(stderr, "%s: got [%s], want [%s]\n", what, got, want);
        ++s_failures;
    }
}

static void expect_int(const char *what, long got, long want) {
    if (got != want) {
        fprintf(stderr, "%s: got %ld, want %ld\n", what, got, want);
        ++s_failures;
    }
}

static const char kBatches[] =
    "{\"batches\":[{\"results\":[{\"columns\":[\"a\"],\"rows\":[[123456789012345678901234567890]]},"
    "{\"columns\":[{\"name\":\"b\"}],\"rows\":[[\"x\"],[\"y\"]],\"truncated\":true},"
    "{\"columns\":[\"id\",\"name\"],\"rows\":[{\"name\":\"n\"}]}]}]}";
static const char kOther[] = "{\"rows\":[[\"other\"]]}";

int main(void) {
    tarn_client_io batches_io = {(void *)kBatches, canned_get, canned_post, NULL, NULL, NULL};
    tarn_client_io other_io = {(void *)kOther, canned_get, canned_post, NULL, NULL, NULL};
    tarn_session *a = tarn_session_new();
    tarn_session *b = tarn_session_new();
    tarn_result *r;
    size_t len = 0;
    if (a == NULL || b == NULL) return 1;
    tarn_session_set_io(a, &batches_io);
    tarn_session_set_io(b, &other_io);

    expect_int("missing sql", tarn_session_query(a, "s", "d", NULL, 0, 0, NULL), -1);
    expect_int("missing sql code", tarn_session_error_code(a), TARN_E_ARGUMENT);
    expect_str("missing sql text", tarn_session_last_error(a), "sql is required");
    expect_int("no result after a failure", tarn_session_take_result(a) == NULL, 1);

    /* An abort with nothing in flight touches nothing. */
    tarn_session_abort(a);
    expect_int("query", tarn_session_query(a, "s", "d", "select", 0, 0, "t"), 0);
    expect_int("query code", tarn_session_error_code(a), TARN_E_NONE);
    expect_int("b ping", tarn_session_ping(b), 0);
    /* Each session reads its own reply, the last set of a batch. */
    expect_str("a cell", tarn_session_cell(a, 0, 1), "n");
    expect_str("b cell", tarn_session_cell(b, 0, 0), "other");

    r = tarn_session_take_result(a);
    if (r == NULL) return 1;
    expect_int("after take", tarn_session_row_count(a), -1);
    expect_int("sets", tarn_result_set_count(r), 3);
    expect_int("select 0", tarn_result_select_set(r, 0), 0);
    expect_str("exact number", tarn_result_cell_text(r, 0, 0, &len),
               "123456789012345678901234567890");
    expect_int("its length", (long)len, 30);
    expect_int("select 1", tarn_result_select_set(r, 1), 0);
    expect_int("truncated", tarn_result_truncated(r), 1);
    expect_int("rows", tarn_result_row_count(r), 2);
    expect_str("name from an object entry", tarn_result_col_name(r, 0), "b");
    expect_str("second row", tarn_result_cell_text(r, 1, 0, NULL), "y");
    expect_int("select 2", tarn_result_select_set(r, 2), 0);
    /* The row lacks "id": that cell is absent, not the next member. */
    expect_int("missing key", tarn_result_cell_kind(r, 0, 0), TARN_CELL_ABSENT);
    expect_str("present key", tarn_result_cell_text(r, 0, 1, NULL), "n");
    expect_int("out of range", tarn_result_select_set(r, 3), -1);

    tarn_session_free(a);
    tarn_session_free(b);
    /* The result outlives its session. */
    expect_int("status", tarn_result_http_status(r), 200);
    expect_str("still readable", tarn_result_cell_text(r, 0, 1, NULL), "n");
    tarn_result_free(r);
    tarn_session_free(NULL);
    tarn_result_free(NULL);
    tarn_session_abort(NULL);
    /* The default session drops an abort with nothing in flight too. */
    tarn_client_abort();
    tarn_client_set_io(&other_io);
    expect_int("flat ping after abort", tarn_client_ping(), 0);
    expect_str("flat cell", tarn_client_cell(0, 0), "other");
    tarn_client_cleanup();

    if (s_failures != 0) return 1;
    puts("session readers from C: ok");
    return 0;
}
