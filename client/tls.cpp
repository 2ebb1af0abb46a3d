// The TLS policy setter and the trust-on-first-use pin reader.
#include <cstring>

#include "state.h"
#include "transport/tls_policy.h"

using namespace tarn;

extern "C" {

TARN_API int32_t tarn_client_set_tls(const char *policy) {
    tls::Policy parsed;
    if (!tls::parse(policy, &parsed)) {
        set_error("invalid tls policy");
        return -1;
    }
    tls::set(parsed);
    s_error[0] = '\0';
    return 0;
}

TARN_API int32_t tarn_client_tls_pin(void) {
    clear_state();
    char pin[tls::kPinLen + 1];
    if (const char *failure = tls::fetch_pin(s_host, pin)) {
        set_error(failure);
        return -1;
    }
    return store_result(pin);
}

}  // extern "C"
