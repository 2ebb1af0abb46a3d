// Liveness probe and saved connection profiles.
#include "encode.h"
#include "ops.h"

using namespace tarn;

extern "C" {

TARN_API int tarn_client_ping(void) {
    clear_state();
    return send_and_parse(kGet, "/ping", nullptr, nullptr);
}

TARN_API int tarn_client_list_connections(void) {
    clear_state();
    return send_and_parse(kGet, "/connections", "action=list", nullptr);
}

TARN_API int tarn_client_save_connection(const char *profile_json) {
    clear_state();
    if (absent(profile_json)) return reject("profile_json is required");
    return send_and_parse(kPost, "/connections", "action=save", profile_json);
}

TARN_API int tarn_client_delete_connection(const char *id) {
    clear_state();
    if (absent(id)) return reject("id is required");
    const JsonMember members[] = {json_text("id", id)};
    return send_json_and_parse("/connections", "action=delete", json_object(members, 1));
}

TARN_API int tarn_client_test_connection(const char *profile_json) {
    clear_state();
    if (absent(profile_json)) return reject("profile_json is required");
    return send_and_parse(kPost, "/connections", "action=test", profile_json);
}

}  // extern "C"
