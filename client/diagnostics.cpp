// What a caller uses to see into an exchange: its status, a time limit,
// a trace, and the versions in use.
#include <yyjson.h>

#include <cstdio>

#include "state.h"
#include "transport/backends.h"
#include "transport/exchange_limits.h"
#include "transport/trace.h"

using namespace tarn;

extern "C" {

TARN_API int32_t tarn_client_http_status(void) {
    return s_http_status;
}

TARN_API int32_t tarn_client_set_max_time(int32_t seconds) {
    if (seconds < 0) {
        set_error("invalid time limit");
        return -1;
    }
    limits::max_time_s = seconds;
    return 0;
}

TARN_API void tarn_client_set_trace(tarn_client_trace_fn fn, void *user_data) {
    trace::set_sink(fn, user_data);
}

TARN_API const char *tarn_client_version(void) {
    static char text[128];
    if (text[0] == '\0') {
        // The reader linked in, which may differ from the header built against.
        uint32_t v = yyjson_version();
        snprintf(text, sizeof text, "tarn-client %s %s yyjson/%u.%u.%u", TARN_CLIENT_VERSION_STRING,
                 backend_label(), static_cast<unsigned>(v >> 16),
                 static_cast<unsigned>((v >> 8) & 0xFF), static_cast<unsigned>(v & 0xFF));
    }
    return text;
}

}  // extern "C"
