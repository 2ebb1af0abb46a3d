// Opting in to a kept connection for the default backend.
#include "transport/keepalive.h"
#include "state.h"

namespace tarn::keepalive {

bool enabled;
long idle_seconds = 30;

}  // namespace tarn::keepalive

extern "C" {

TARN_API void tarn_client_set_keepalive(int32_t on) {
    tarn::keepalive::enabled = on != 0;
    if (on == 0) tarn::keepalive::close();
}

}  // extern "C"
