// The table the core installs when the caller has set none.
#include "transport/backends.h"

namespace tarn {

const tarn_client_io *default_io() {
#if defined(_WIN32)
    return &drumvale_io_winhttp;
#else
    return &drumvale_io_curl;
#endif
}

}  // namespace tarn

// Lets a caller's own table log, count or retry around the built-in one.
extern "C" TARN_API const tarn_client_io *tarn_client_default_io(void) {
    return tarn::default_io();
}
