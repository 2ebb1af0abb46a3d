// The editable data grid: loading a table and applying a change set.
#include <cstdio>

#include "ops.h"

using namespace tarn;

extern "C" {

TARN_API int tarn_session_editgrid_load(tarn_session *s, const char *server, const char *db,
                                        const char *schema, const char *table, int top) {
    Operation op(s);
    if (absent(table)) return reject(s, "table is required");
    Query q;
    q_add(&q, "action", "load");
    if (!absent(server)) q_add(&q, "server", server);
    if (!absent(db)) q_add(&q, "db", db);
    if (!absent(schema)) q_add(&q, "schema", schema);
    q_add(&q, "table", table);
    if (top > 0) {
        char num[32];
        snprintf(num, sizeof num, "%d", top);
        q_add(&q, "top", num);
    }
    return send_and_parse(s, kGet, "/editgrid", q, nullptr);
}

TARN_API int tarn_session_editgrid_apply(tarn_session *s, const char *apply_json) {
    Operation op(s);
    if (absent(apply_json)) return reject(s, "apply_json is required");
    return send_and_parse(s, kPost, "/editgrid", "action=apply", apply_json);
}

}  // extern "C"
