// The editable data grid: loading a table and applying a change set.
#include <cstdio>

#include "ops.h"

using namespace tarn;

extern "C" {

TARN_API int tarn_client_editgrid_load(const char *server, const char *db, const char *schema,
                                       const char *table, int top) {
    clear_state();
    if (absent(table)) return reject("table is required");
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
    return send_and_parse(kGet, "/editgrid", q, nullptr);
}

TARN_API int tarn_client_editgrid_apply(const char *apply_json) {
    clear_state();
    if (absent(apply_json)) return reject("apply_json is required");
    return send_and_parse(kPost, "/editgrid", "action=apply", apply_json);
}

}  // extern "C"
