/* The status, time limit, trace and version functions called from C, with
   a transport table built in C. Returns NULL, or what went wrong. */
#include <stdio.h>
#include <string.h>

#include "tarn_client.h"

const char *c_api_check(void);

static int32_t c_get(void *self, const char *url, const char *headers, char **out_body,
                     int32_t *out_status, char **out_error) {
    (void)self;
    (void)url;
    (void)headers;
    *out_body = NULL;
    *out_error = NULL;
    *out_status = 404;
    return 0;
}

static int32_t c_post(void *self, const char *url, const char *body, const char *headers,
                      char **out_body, int32_t *out_status, char **out_error) {
    (void)self;
    (void)url;
    (void)body;
    (void)headers;
    *out_body = NULL;
    *out_error = NULL;
    *out_status = 0;
    return -1;
}

struct seen_lines {
    int count;
    int malformed;
};

static void c_trace(void *user_data, const char *line) {
    struct seen_lines *seen = (struct seen_lines *)user_data;
    seen->count++;
    if (strncmp(line, "* ", 2) != 0 || strchr(line, '\n') != NULL) seen->malformed++;
}

static int version_has_three_parts(void) {
    unsigned a, b, c, x, y, z;
    char backend[64];
    const char *v = tarn_client_version();
    return v != NULL && sscanf(v, "tarn-client %u.%u.%u %63s yyjson/%u.%u.%u", &a, &b, &c, backend,
                               &x, &y, &z) == 7;
}

const char *c_api_check(void) {
    static const tarn_client_io io = {NULL, c_get, c_post, NULL, NULL, NULL};
    struct seen_lines seen = {0, 0};
    const char *failed = NULL;

    if (!version_has_three_parts()) return "tarn_client_version";
    if (tarn_client_set_max_time(-5) != -1 ||
        strcmp(tarn_client_last_error(), "invalid time limit") != 0)
        return "tarn_client_set_max_time(-5)";
    if (tarn_client_set_max_time(30) != 0) return "tarn_client_set_max_time(30)";

    tarn_client_set_io(&io);
    tarn_client_set_trace(c_trace, &seen);
    if (tarn_client_ping() != -1 || tarn_client_http_status() != 404)
        failed = "tarn_client_http_status after a 404";
    else if (tarn_client_save_connection("{}") != -1 || tarn_client_http_status() != 0)
        failed = "tarn_client_http_status after a transport failure";
    else if (seen.count != 4 || seen.malformed != 0)
        failed = "tarn_client_set_trace: two lines per exchange";
    tarn_client_set_trace(NULL, NULL);
    if (failed == NULL && (tarn_client_ping() != -1 || seen.count != 4))
        failed = "tarn_client_set_trace(NULL)";

    tarn_client_set_max_time(0);
    tarn_client_set_io(NULL);
    return failed;
}
