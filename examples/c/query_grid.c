/*
 * query_grid: runs one query through a transport table of its own, which
 * logs each request to standard error and hands it to the library's
 * built-in backend, then prints the result grid.
 *
 *   query_grid BASE_URL [SERVER DB SQL]
 */
#include <stdio.h>
#include <stdlib.h>

#include <tarn_client.h>

/* The table this one wraps; set before the first request. */
static const tarn_client_io *inner;

static void log_result(int32_t rc, const int32_t *status) {
    if (rc == 0)
        fprintf(stderr, "<   HTTP %d\n", (int)*status);
    else
        fprintf(stderr, "<   transport failure\n");
}

static int32_t logged_get(void *user_data, const char *url, const char *headers, char **out_body,
                          int32_t *out_status, char **out_error) {
    int32_t rc;
    (void)user_data;
    fprintf(stderr, "> GET %s\n", url);
    rc = inner->get(inner->user_data, url, headers, out_body, out_status, out_error);
    log_result(rc, out_status);
    return rc;
}

static int32_t logged_post(void *user_data, const char *url, const char *body, const char *headers,
                           char **out_body, int32_t *out_status, char **out_error) {
    int32_t rc;
    (void)user_data;
    fprintf(stderr, "> POST %s\n>   %s\n", url, body);
    rc = inner->post(inner->user_data, url, body, headers, out_body, out_status, out_error);
    log_result(rc, out_status);
    return rc;
}

/* Buffers come from the inner table, so they go back to it. */
static void inner_free(void *user_data, void *buf) {
    (void)user_data;
    if (inner->free_buf != NULL)
        inner->free_buf(inner->user_data, buf);
    else
        free(buf);
}

static void print_grid(void) {
    int rows = tarn_client_row_count();
    int cols = tarn_client_col_count();
    int r, c;
    if (rows < 0) {
        printf("(no grid in the reply)\n%s\n", tarn_client_result());
        return;
    }
    for (c = 0; c < cols; c++) printf("%s%s", c > 0 ? "\t" : "", tarn_client_col_name(c));
    printf("\n");
    for (r = 0; r < rows; r++) {
        /* Each cell is printed before the next is read: the library hands
           out one shared buffer. */
        for (c = 0; c < cols; c++) printf("%s%s", c > 0 ? "\t" : "", tarn_client_cell(r, c));
        printf("\n");
    }
    printf("(%d rows)\n", rows);
}

int main(int argc, char **argv) {
    static tarn_client_io logging_io = {NULL, logged_get, logged_post, NULL, NULL, inner_free};
    const char *server = argc > 4 ? argv[2] : "local";
    const char *db = argc > 4 ? argv[3] : "shop";
    const char *sql = argc > 4 ? argv[4] : "select * from customers";
    int status = 0;

    if (argc != 2 && argc != 5) {
        fprintf(stderr, "usage: %s BASE_URL [SERVER DB SQL]\n", argv[0]);
        return 2;
    }
    printf("built against tarn-client %s, running %s\n", TARN_CLIENT_VERSION_STRING,
           tarn_client_version());
    inner = tarn_client_default_io();

    tarn_client_init();
    tarn_client_set_host(argv[1]);
    tarn_client_set_io(&logging_io);
    if (tarn_client_query(server, db, sql, 0, 0, NULL) == 0) {
        print_grid();
    } else {
        fprintf(stderr, "query failed: %s\n", tarn_client_last_error());
        status = 1;
    }
    tarn_client_cleanup();
    return status;
}
