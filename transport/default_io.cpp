// The table the core installs when the caller has set none.
#include "client/state.h"

namespace {

// No transport is built yet: requests fail until the caller installs one.
const tarn_client_io kNoBackend = {nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};

}  // namespace

namespace tarn {

const tarn_client_io *default_io() {
    return &kNoBackend;
}

}  // namespace tarn
