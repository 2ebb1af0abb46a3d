/* Compiled as C: the public header must stay usable from C and any FFI. */
#include "tarn_client.h"

static int32_t no_get(void *user_data, const char *url, const char *headers, char **out_body,
                      int32_t *out_status, char **out_error) {
    (void)user_data;
    (void)url;
    (void)headers;
    *out_body = 0;
    *out_status = 0;
    *out_error = 0;
    return -1;
}

int tarn_header_c_check(void) {
    tarn_client_io io = {0, no_get, 0, 0, 0, 0};
    tarn_client_set_io(&io);
    return tarn_client_init() + tarn_client_row_count();
}
