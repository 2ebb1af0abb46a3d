// The tarn_client_* functions: each is its tarn_session_* twin on the
// default session.
#include "state.h"

using tarn::flat;

extern "C" {

TARN_API void tarn_client_set_host(const char *url) {
    tarn_session_set_host(flat(), url);
}

TARN_API void tarn_client_set_password(const char *pwd) {
    tarn_session_set_password(flat(), pwd);
}

TARN_API void tarn_client_set_jwt(const char *jwt) {
    tarn_session_set_jwt(flat(), jwt);
}

TARN_API void tarn_client_set_io(const tarn_client_io *io) {
    tarn_session_set_io(flat(), io);
}

TARN_API int32_t tarn_client_set_tls(const char *policy) {
    return tarn_session_set_tls(flat(), policy);
}

TARN_API int32_t tarn_client_tls_pin(void) {
    return tarn_session_tls_pin(flat());
}

TARN_API void tarn_client_set_keepalive(int32_t on) {
    tarn_session_set_keepalive(flat(), on);
}

TARN_API const tarn_client_io *tarn_client_default_io(void) {
    return tarn_session_default_io(flat());
}

TARN_API const char *tarn_client_result(void) {
    return tarn_session_result(flat());
}

TARN_API const char *tarn_client_last_error(void) {
    return tarn_session_last_error(flat());
}

TARN_API int32_t tarn_client_http_status(void) {
    return tarn_session_http_status(flat());
}

TARN_API int32_t tarn_client_set_max_time(int32_t seconds) {
    return tarn_session_set_max_time(flat(), seconds);
}

TARN_API void tarn_client_set_trace(tarn_client_trace_fn fn, void *user_data) {
    tarn_session_set_trace(flat(), fn, user_data);
}

TARN_API int tarn_client_row_count(void) {
    return tarn_session_row_count(flat());
}

TARN_API int tarn_client_col_count(void) {
    return tarn_session_col_count(flat());
}

TARN_API const char *tarn_client_cell(int row, int col) {
    return tarn_session_cell(flat(), row, col);
}

TARN_API const char *tarn_client_col_name(int col) {
    return tarn_session_col_name(flat(), col);
}

TARN_API int tarn_client_cell_kind(int row, int col) {
    return tarn_session_cell_kind(flat(), row, col);
}

TARN_API const char *tarn_client_cell_text(int row, int col, size_t *len) {
    return tarn_session_cell_text(flat(), row, col, len);
}

TARN_API const char *tarn_client_cell_json(int row, int col, size_t *len) {
    return tarn_session_cell_json(flat(), row, col, len);
}

TARN_API int tarn_client_ping(void) {
    return tarn_session_ping(flat());
}

TARN_API int tarn_client_list_connections(void) {
    return tarn_session_list_connections(flat());
}

TARN_API int tarn_client_save_connection(const char *profile_json) {
    return tarn_session_save_connection(flat(), profile_json);
}

TARN_API int tarn_client_delete_connection(const char *id) {
    return tarn_session_delete_connection(flat(), id);
}

TARN_API int tarn_client_test_connection(const char *profile_json) {
    return tarn_session_test_connection(flat(), profile_json);
}

TARN_API int tarn_client_tree(const char *server, const char *node_kind, const char *db,
                              const char *schema, const char *obj) {
    return tarn_session_tree(flat(), server, node_kind, db, schema, obj);
}

TARN_API int tarn_client_query(const char *server, const char *db, const char *sql, int max_rows,
                               int timeout_s, const char *query_token) {
    return tarn_session_query(flat(), server, db, sql, max_rows, timeout_s, query_token);
}

TARN_API int tarn_client_query_rows(const char *server, const char *db, const char *sql,
                                    int max_rows, int timeout_s, const char *query_token,
                                    const tarn_row_callbacks *cb, void *user_data) {
    return tarn_session_query_rows(flat(), server, db, sql, max_rows, timeout_s, query_token, cb,
                                   user_data);
}

TARN_API int tarn_client_cancel(const char *server, const char *query_token) {
    return tarn_session_cancel(flat(), server, query_token);
}

TARN_API int tarn_client_cancel_spid(const char *server, int spid) {
    return tarn_session_cancel_spid(flat(), server, spid);
}

TARN_API int tarn_client_editgrid_load(const char *server, const char *db, const char *schema,
                                       const char *table, int top) {
    return tarn_session_editgrid_load(flat(), server, db, schema, table, top);
}

TARN_API int tarn_client_editgrid_apply(const char *apply_json) {
    return tarn_session_editgrid_apply(flat(), apply_json);
}

TARN_API int tarn_client_script(const char *server, const char *action, const char *kind,
                                const char *db, const char *schema, const char *obj) {
    return tarn_session_script(flat(), server, action, kind, db, schema, obj);
}

TARN_API int tarn_client_activity(const char *server, const char *action) {
    return tarn_session_activity(flat(), server, action);
}

TARN_API int tarn_client_activity_kill(const char *server, int spid) {
    return tarn_session_activity_kill(flat(), server, spid);
}

TARN_API int tarn_client_storage(const char *server, const char *action, const char *db) {
    return tarn_session_storage(flat(), server, action, db);
}

TARN_API int tarn_client_storage_post(const char *action, const char *json_body) {
    return tarn_session_storage_post(flat(), action, json_body);
}

TARN_API int tarn_client_admin(const char *server, const char *action, const char *db,
                               const char *extra) {
    return tarn_session_admin(flat(), server, action, db, extra);
}

TARN_API int tarn_client_job_control(const char *server, const char *job_id, const char *verb) {
    return tarn_session_job_control(flat(), server, job_id, verb);
}

TARN_API int tarn_client_set_count(void) {
    return tarn_session_set_count(flat());
}

TARN_API int tarn_client_truncated(void) {
    return tarn_session_truncated(flat());
}

TARN_API tarn_result *tarn_client_take_result(void) {
    return tarn_session_take_result(flat());
}

TARN_API void tarn_client_abort(void) {
    tarn_session_abort(flat());
}

TARN_API int tarn_client_error_code(void) {
    return tarn_session_error_code(flat());
}

}  // extern "C"
