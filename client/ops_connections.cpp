// Liveness probe and saved connection profiles.
#include "encode.h"
#include "ops.h"

using namespace tarn;

extern "C" {

TARN_API int tarn_session_ping(tarn_session *s) {
    Operation op(s);
    return send_and_parse(s, kGet, "/ping", nullptr, nullptr);
}

TARN_API int tarn_session_list_connections(tarn_session *s) {
    Operation op(s);
    return send_and_parse(s, kGet, "/connections", "action=list", nullptr);
}

TARN_API int tarn_session_save_connection(tarn_session *s, const char *profile_json) {
    Operation op(s);
    if (absent(profile_json)) return reject(s, "profile_json is required");
    return send_and_parse(s, kPost, "/connections", "action=save", profile_json);
}

TARN_API int tarn_session_delete_connection(tarn_session *s, const char *id) {
    Operation op(s);
    if (absent(id)) return reject(s, "id is required");
    const JsonMember members[] = {json_text("id", id)};
    return send_json_and_parse(s, "/connections", "action=delete", json_object(members, 1));
}

TARN_API int tarn_session_test_connection(tarn_session *s, const char *profile_json) {
    Operation op(s);
    if (absent(profile_json)) return reject(s, "profile_json is required");
    return send_and_parse(s, kPost, "/connections", "action=test", profile_json);
}

}  // extern "C"
