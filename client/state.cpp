// The client state, its lifecycle, setters and result access.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "state.h"
#include "transport/exchange_limits.h"
#include "transport/keepalive.h"

namespace tarn {

char s_host[kHostCap] = "http://127.0.0.1:8180";
char s_pwd[kPwdCap];
char s_jwt[kJwtCap];
bool s_host_too_long;
bool s_pwd_too_long;
bool s_jwt_too_long;
const tarn_client_io *s_io;
char *s_result;
uint64_t s_result_cap;
size_t s_result_len;
char s_error[kErrorCap];
char s_cell[kCellCap];
yyjson_doc *s_grid_doc;
yyjson_val *s_grid_rows;
char **s_col_names;
int s_ncol;
int32_t s_http_status;

namespace {

void copy_cut(char *dst, size_t cap, const char *src) {
    snprintf(dst, cap, "%s", src == nullptr ? "" : src);
}

// True when src, less the tail the setter drops anyway, needs more than cap.
bool exceeds(const char *src, size_t cap, bool strip_slashes) {
    if (src == nullptr) return false;
    size_t len = strlen(src);
    if (strip_slashes)
        while (len > 0 && src[len - 1] == '/') --len;
    return len >= cap;
}

}  // namespace

void set_error(const char *msg) {
    copy_cut(s_error, kErrorCap, msg);
}

void clear_state() {
    s_error[0] = '\0';
    s_cell[0] = '\0';
    if (s_result != nullptr) s_result[0] = '\0';
    s_result_len = 0;
    drop_grid();
    s_http_status = 0;
    limits::begin_operation();
}

}  // namespace tarn

using namespace tarn;

extern "C" {

TARN_API int32_t tarn_client_init(void) {
    return 0;
}

TARN_API void tarn_client_cleanup(void) {
    clear_state();
    // A large reply's buffer is not kept for the life of the process.
    free(s_result);
    s_result = nullptr;
    s_result_cap = 0;
    s_io = nullptr;
    keepalive::close();
}

TARN_API void tarn_client_set_host(const char *url) {
    if (absent(url)) {
        copy_cut(s_host, kHostCap, kDefaultHost);
        s_host_too_long = false;
        return;
    }
    s_host_too_long = exceeds(url, kHostCap, true);
    copy_cut(s_host, kHostCap, url);
    size_t len = strlen(s_host);
    while (len > 0 && s_host[len - 1] == '/') s_host[--len] = '\0';
}

TARN_API void tarn_client_set_password(const char *pwd) {
    s_pwd_too_long = exceeds(pwd, kPwdCap, false);
    copy_cut(s_pwd, kPwdCap, pwd);
}

TARN_API void tarn_client_set_jwt(const char *jwt) {
    s_jwt_too_long = exceeds(jwt, kJwtCap, false);
    copy_cut(s_jwt, kJwtCap, jwt);
}

TARN_API void tarn_client_set_io(const tarn_client_io *io) {
    s_io = io;
}

TARN_API const char *tarn_client_result(void) {
    return s_result != nullptr ? s_result : "";
}

TARN_API const char *tarn_client_last_error(void) {
    return s_error;
}

}  // extern "C"
