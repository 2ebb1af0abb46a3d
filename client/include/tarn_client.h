/*
 * tarn_client.h: C interface of the tarn client library.
 *
 * One call sends one HTTP request to the management service (the admin
 * views may send a second on their fallback path), keeps the reply text and
 * locates a result grid (`rows`, optional `columns`) in it.
 *
 * A session (tarn_session_new) owns everything a client has: settings, the
 * connection, the last reply and its error. The tarn_client_* functions are
 * the same operations on one default session of the process.
 *
 * Threads: a session is used by one thread at a time, tarn_session_abort
 * excepted (any thread, or a signal handler); different sessions run on
 * different threads at once; a tarn_result is immutable and readable from
 * any thread. The tarn_client_* functions share the default session and so
 * stay single-threaded.
 *
 * Every operation returns 0 on success and -1 on failure; on failure
 * tarn_session_last_error() says why and tarn_session_error_code() gives a
 * TARN_E_* code. Text arguments are NUL-terminated UTF-8, borrowed for the
 * call only; a text argument that is NULL or "" counts as absent. Texts
 * returned for a session belong to it and stay valid until its next
 * operation, tarn_session_free() or (default session) tarn_client_cleanup().
 */
#ifndef TARN_CLIENT_H
#define TARN_CLIENT_H

#include <stddef.h>
#include <stdint.h>

/* TARN_CLIENT_VERSION_MAJOR, _MINOR, _PATCH and _STRING. */
#include "tarn_client_version.h"

/* Windows: programs using tarn-client.dll import its functions; define
   TARN_CLIENT_STATIC to link the static library instead. */
#if defined(_WIN32)
#if defined(TARN_CLIENT_BUILD)
#define TARN_API __declspec(dllexport)
#elif defined(TARN_CLIENT_STATIC)
#define TARN_API
#else
#define TARN_API __declspec(dllimport)
#endif
#else
#define TARN_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/** A client session: its settings, connection, last reply and error. */
typedef struct tarn_session tarn_session;

/** A reply taken from a session: immutable, owned by the caller. */
typedef struct tarn_result tarn_result;

/* ==================================================================== */
/* Transport table                                                       */
/* ==================================================================== */

/**
 * An IO backend: the HTTP transport the library calls. Slots run on the
 * caller's thread and block until the exchange ends.
 *
 * Every request slot returns 0 when a response was received (status and
 * body are then meaningful, whatever the status class) and non-zero on a
 * transport failure, with an optional message in *out_error. Buffers handed
 * out through *out_body and *out_error are NUL-terminated and pass to the
 * library, which returns each exactly once through free_buf with user_data;
 * when free_buf is NULL they are released with free(), so they must then
 * come from malloc(). `headers` is NULL or header lines separated by "\n".
 * The library calls only get, post and free_buf.
 */
typedef struct tarn_client_io {
    void *user_data;
    int32_t (*get)(void *user_data, const char *url, const char *headers, char **out_body,
                   int32_t *out_status, char **out_error);
    int32_t (*post)(void *user_data, const char *url, const char *body, const char *headers,
                    char **out_body, int32_t *out_status, char **out_error);
    int32_t (*put)(void *user_data, const char *url, const char *body, const char *headers,
                   char **out_body, int32_t *out_status, char **out_error);
    int32_t (*del)(void *user_data, const char *url, char **out_body, int32_t *out_status,
                   char **out_error);
    void (*free_buf)(void *user_data, void *buf);
} tarn_client_io;

/* ==================================================================== */
/* Lifecycle                                                             */
/* ==================================================================== */

/** Formal first call. Always returns 0; resets nothing. */
TARN_API int32_t tarn_client_init(void);

/** Drops the reply, grid and error text and uninstalls the transport.
    Base URL, password and token keep their values. */
TARN_API void tarn_client_cleanup(void);

/* ==================================================================== */
/* Settings                                                              */
/* ==================================================================== */

/** Sets the base URL (trailing "/" removed). NULL or "" restores
    "http://127.0.0.1:8180". Over 511 bytes, requests fail with "base url too
    long"; holding "?" or "#", with "invalid base url". */
TARN_API void tarn_client_set_host(const char *url);

/** Sets the node password; NULL or "" clears it. Sent as the `pwd` query
    parameter and the X-Bot-Password header. Over 511 bytes, requests fail
    with "password too long". */
TARN_API void tarn_client_set_password(const char *pwd);

/** Sets the bearer token; NULL or "" clears it. Over 8191 bytes, requests
    fail with "token too long". */
TARN_API void tarn_client_set_jwt(const char *jwt);

/** Installs a transport table. The table is not copied: keep it alive while
    installed. NULL makes the next request install the default backend. */
TARN_API void tarn_client_set_io(const tarn_client_io *io);

/** Sets the TLS policy of the built-in transports for https: "any" (the
    default; NULL or "" restore it) accepts every certificate, "system"
    checks chain and host name against the platform's trust store,
    "ca:PATH" against the PEM bundle at PATH, "pin:sha256//BASE64" accepts
    only the server key of that pin. A refused server receives no request
    and the call fails with "server certificate rejected". Returns 0, or -1
    with "invalid tls policy" leaving the policy in force unchanged. An
    installed transport table ignores the policy. */
TARN_API int32_t tarn_client_set_tls(const char *policy);

/** Connects to the base URL (https) and sends no request; on success
    tarn_client_result() is the server's key pin, "sha256//BASE64" (SHA-256
    of its SubjectPublicKeyInfo). Ignores the policy and any installed
    transport table. */
TARN_API int32_t tarn_client_tls_pin(void);
/** Nonzero keeps the default backend's connection (and TLS session) to the
    last origin between calls, unless idle for over 30 s; 0 (the default)
    closes it, as does tarn_client_cleanup. A request that finds its kept
    connection closed by the server before any reply byte is sent once more
    on a new connection; in no other case is a request sent twice. */
TARN_API void tarn_client_set_keepalive(int32_t on);

/** The built-in backend (libcurl; WinHTTP on Windows), never NULL: for tables that wrap it. */
TARN_API const tarn_client_io *tarn_client_default_io(void);

/* ==================================================================== */
/* Results                                                               */
/* ==================================================================== */

/** Text of the last successful reply, or "" when there is none. Never NULL. */
TARN_API const char *tarn_client_result(void);

/** Last-error text; "" after a successful operation. Never NULL. */
TARN_API const char *tarn_client_last_error(void);

/* ==================================================================== */
/* Diagnostics: status, time limit, trace, version                       */
/* ==================================================================== */

/** HTTP status of the last exchange of the last operation; 0 when no
    response arrived (transport failure, time limit, or nothing sent). */
TARN_API int32_t tarn_client_http_status(void);

/** Limits all exchanges of one operation together (both requests of an
    admin fallback share it) to `seconds`; 0, the default, keeps the
    transport's own timeouts. On expiry the operation fails with "timed out
    after N s". Binds the built-in transports; a caller-installed table is
    not interrupted, but no request starts once the limit has passed.
    Returns 0, or -1 for a negative value ("invalid time limit"). */
TARN_API int32_t tarn_client_set_max_time(int32_t seconds);

/** Receives one trace line: NUL-terminated, no newline, starting with
    "* " (information), "> " (sent) or "< " (received). */
typedef void (*tarn_client_trace_fn)(void *user_data, const char *line);

/** Installs a trace sink (NULL turns tracing off). Every exchange traces
    its URL and then its status, size and time or its failure; the built-in
    transports add the request and reply headers, redirects followed and
    the system's reason for a failure. A caller-installed table gets only
    the former. The `pwd` query value and credential header values show as
    "***". The line is valid only during the call. */
TARN_API void tarn_client_set_trace(tarn_client_trace_fn fn, void *user_data);

/** One line naming the library version, the transport with its version and
    the JSON reader's version, e.g. "tarn-client 1.0.0 libcurl/7.88.1
    yyjson/0.10.0". Never NULL. */
TARN_API const char *tarn_client_version(void);

/* ==================================================================== */
/* Result grid                                                           */
/* ==================================================================== */

/** Rows of the grid located in the last reply, or -1 when there is none. */
TARN_API int tarn_client_row_count(void);

/** Columns of the grid: the `columns` entries when there are any, else the
    size of the first row; -1 when there is no grid. */
TARN_API int tarn_client_col_count(void);

/**
 * Text of one cell, rows and columns counted from 0. Object rows are looked
 * up by column name, then by member position where the member's key names
 * no column (a row lacking a key never shows another column's value in its
 * place). Out-of-range indices give "".
 * Never NULL; the buffer (at most 8191 bytes) is shared and overwritten by
 * the next call. Reading every cell of a grid, or of one wide row, costs time
 * linear in its size.
 */
TARN_API const char *tarn_client_cell(int row, int col);

/** Result sets in the last reply, as tarn_result_set_count counts them;
    0 without a grid. The readers above read the last of them. */
TARN_API int tarn_client_set_count(void);

/** 1 when the set the readers read says `"truncated": true`, else 0. */
TARN_API int tarn_client_truncated(void);

/* ==================================================================== */
/* Whole grid: column names, cell kinds, cells never cut                 */
/* ==================================================================== */

/* JSON kinds of a cell, as tarn_client_cell_kind returns them. */
#define TARN_CELL_ABSENT 0
#define TARN_CELL_NULL 1
#define TARN_CELL_BOOL 2
#define TARN_CELL_NUMBER 3
#define TARN_CELL_STRING 4
#define TARN_CELL_ARRAY 5
#define TARN_CELL_OBJECT 6

/** Name of column col: its `columns` entry's name; without a `columns` array,
    the key of member col of an object first row; else "". Never NULL; valid
    until the next operation (not overwritten by other calls). */
TARN_API const char *tarn_client_col_name(int col);

/** JSON kind of cell (row, col), a TARN_CELL_* value; TARN_CELL_ABSENT when
    the row has no such cell or the indices are out of range. */
TARN_API int tarn_client_cell_kind(int row, int col);

/** The text tarn_client_cell gives, never cut: whole strings, NUL bytes
    included, and numbers as their token in the reply (where tarn_client_cell
    shows the nearest double); *len (when len is not NULL) gets its length in
    bytes. Never NULL; valid until the next call of this function or
    tarn_client_cell_json, or the next operation. */
TARN_API const char *tarn_client_cell_text(int row, int col, size_t *len);

/** The cell's value as compact JSON text ("null" for null, "" when absent,
    numbers as their token in the reply), never cut; *len and lifetime as
    for tarn_client_cell_text. */
TARN_API const char *tarn_client_cell_json(int row, int col, size_t *len);

/* ==================================================================== */
/* Connections, tree, query, cancel                                      */
/* ==================================================================== */

/** GET /ping. */
TARN_API int tarn_client_ping(void);

/** GET /connections?action=list: the saved connection profiles. */
TARN_API int tarn_client_list_connections(void);

/** POST /connections?action=save with `profile_json` (required) as body. */
TARN_API int tarn_client_save_connection(const char *profile_json);

/** POST /connections?action=delete with {"id":...}; `id` required. */
TARN_API int tarn_client_delete_connection(const char *id);

/** POST /connections?action=test with `profile_json` (required) as body. */
TARN_API int tarn_client_test_connection(const char *profile_json);

/** GET /tree?server=&node=&db=&schema=&obj=; `node_kind` required, the
    others sent only when present. */
TARN_API int tarn_client_tree(const char *server, const char *node_kind, const char *db,
                              const char *schema, const char *obj);

/** POST /query with server, db, sql (required), and max_rows, timeout_s
    (sent when > 0) and query_token (sent when present). */
TARN_API int tarn_client_query(const char *server, const char *db, const char *sql, int max_rows,
                               int timeout_s, const char *query_token);

/** POST /query?action=cancel by token; `query_token` required. */
TARN_API int tarn_client_cancel(const char *server, const char *query_token);

/** POST /query?action=cancel by server process id; `spid` must be > 0. */
TARN_API int tarn_client_cancel_spid(const char *server, int spid);

/* ==================================================================== */
/* Edit grid, script, activity, storage, admin, jobs                     */
/* ==================================================================== */

/** GET /editgrid?action=load...; `table` required, `top` sent when > 0. */
TARN_API int tarn_client_editgrid_load(const char *server, const char *db, const char *schema,
                                       const char *table, int top);

/** POST /editgrid?action=apply with `apply_json` (required) as body. */
TARN_API int tarn_client_editgrid_apply(const char *apply_json);

/** GET /script; `action` required, the others sent when present. */
TARN_API int tarn_client_script(const char *server, const char *action, const char *kind,
                                const char *db, const char *schema, const char *obj);

/** GET /activity; `action` defaults to "sessions". */
TARN_API int tarn_client_activity(const char *server, const char *action);

/** POST /activity?action=kill; `spid` must be > 0. */
TARN_API int tarn_client_activity_kill(const char *server, int spid);

/** GET /storage; `action` defaults to "files". */
TARN_API int tarn_client_storage(const char *server, const char *action, const char *db);

/** POST /storage?action=<action> with `json_body` as body; both required. */
TARN_API int tarn_client_storage_post(const char *action, const char *json_body);

/** GET /admin; `action` required. When /admin fails and the action has a
    fallback view, the same query is sent once to /agent, /security or /logs
    and that answer decides the outcome. */
TARN_API int tarn_client_admin(const char *server, const char *action, const char *db,
                               const char *extra);

/** POST /agent?action=<verb>; `job_id` required, `verb` one of start, stop,
    enable, disable, toggle (absent means start). */
TARN_API int tarn_client_job_control(const char *server, const char *job_id, const char *verb);

/* ==================================================================== */
/* Error codes                                                           */
/* ==================================================================== */

/* What the last operation's failure was, beside its text. */
#define TARN_E_NONE 0        /* success */
#define TARN_E_ARGUMENT 1    /* a required argument missing or out of range */
#define TARN_E_SETTINGS 2    /* a setting too long, an invalid URL or policy */
#define TARN_E_TRANSPORT 3   /* no reply: connection, send or receive failed */
#define TARN_E_TIMEOUT 4     /* the time limit ended the operation */
#define TARN_E_CERTIFICATE 5 /* the TLS policy refused the server */
#define TARN_E_HTTP 6        /* the service answered with a status outside 2xx */
#define TARN_E_ABORTED 7     /* tarn_session_abort ended the operation */
#define TARN_E_NOMEM 8       /* out of memory */
#define TARN_E_REPLY 9       /* a streamed reply was malformed or cut short */
#define TARN_E_STOPPED 10    /* a row callback returned non-zero */

/** The default session's error code: a TARN_E_* value. */
TARN_API int tarn_client_error_code(void);

/* ==================================================================== */
/* Sessions                                                              */
/* ==================================================================== */

/** A new session with default settings; NULL when out of memory. */
TARN_API tarn_session *tarn_session_new(void);

/** Closes the session's connection and frees all it owns. NULL allowed. */
TARN_API void tarn_session_free(tarn_session *s);

/** Ends the session's operation in flight within 100 ms; it fails with
    "aborted" and TARN_E_ABORTED. Callable from any thread and from a signal
    handler (async-signal-safe outside Windows). With nothing in flight the
    abort is dropped: it never touches the next operation. A caller-installed
    transport table is not interrupted; its result is then discarded. */
TARN_API void tarn_session_abort(tarn_session *s);

/** tarn_session_abort on the default session: the one tarn_client_* call
    allowed from another thread or a signal handler. */
TARN_API void tarn_client_abort(void);

/** The session's error code: a TARN_E_* value, TARN_E_NONE after success. */
TARN_API int tarn_session_error_code(const tarn_session *s);

/* Each function below is its tarn_client_* namesake on session s: the same
   arguments after s, the same contract on that session's state alone. */

/* Settings */
TARN_API void tarn_session_set_host(tarn_session *s, const char *url);
TARN_API void tarn_session_set_password(tarn_session *s, const char *pwd);
TARN_API void tarn_session_set_jwt(tarn_session *s, const char *jwt);
TARN_API void tarn_session_set_io(tarn_session *s, const tarn_client_io *io);
TARN_API int32_t tarn_session_set_tls(tarn_session *s, const char *policy);
TARN_API int32_t tarn_session_tls_pin(tarn_session *s);
TARN_API void tarn_session_set_keepalive(tarn_session *s, int32_t on);
/** The built-in backend bound to session s; valid while s lives. */
TARN_API const tarn_client_io *tarn_session_default_io(tarn_session *s);
TARN_API int32_t tarn_session_set_max_time(tarn_session *s, int32_t seconds);
TARN_API void tarn_session_set_trace(tarn_session *s, tarn_client_trace_fn fn, void *user_data);

/* Last reply, error and grid */
TARN_API const char *tarn_session_result(tarn_session *s);
TARN_API const char *tarn_session_last_error(tarn_session *s);
TARN_API int32_t tarn_session_http_status(tarn_session *s);
TARN_API int tarn_session_row_count(tarn_session *s);
TARN_API int tarn_session_col_count(tarn_session *s);
TARN_API int tarn_session_set_count(tarn_session *s);
TARN_API int tarn_session_truncated(tarn_session *s);
TARN_API const char *tarn_session_cell(tarn_session *s, int row, int col);
TARN_API const char *tarn_session_col_name(tarn_session *s, int col);
TARN_API int tarn_session_cell_kind(tarn_session *s, int row, int col);
TARN_API const char *tarn_session_cell_text(tarn_session *s, int row, int col, size_t *len);
TARN_API const char *tarn_session_cell_json(tarn_session *s, int row, int col, size_t *len);

/* Operations */
TARN_API int tarn_session_ping(tarn_session *s);
TARN_API int tarn_session_list_connections(tarn_session *s);
TARN_API int tarn_session_save_connection(tarn_session *s, const char *profile_json);
TARN_API int tarn_session_delete_connection(tarn_session *s, const char *id);
TARN_API int tarn_session_test_connection(tarn_session *s, const char *profile_json);
TARN_API int tarn_session_tree(tarn_session *s, const char *server, const char *node_kind,
                               const char *db, const char *schema, const char *obj);
TARN_API int tarn_session_query(tarn_session *s, const char *server, const char *db,
                                const char *sql, int max_rows, int timeout_s,
                                const char *query_token);
TARN_API int tarn_session_cancel(tarn_session *s, const char *server, const char *query_token);
TARN_API int tarn_session_cancel_spid(tarn_session *s, const char *server, int spid);
TARN_API int tarn_session_editgrid_load(tarn_session *s, const char *server, const char *db,
                                        const char *schema, const char *table, int top);
TARN_API int tarn_session_editgrid_apply(tarn_session *s, const char *apply_json);
TARN_API int tarn_session_script(tarn_session *s, const char *server, const char *action,
                                 const char *kind, const char *db, const char *schema,
                                 const char *obj);
TARN_API int tarn_session_activity(tarn_session *s, const char *server, const char *action);
TARN_API int tarn_session_activity_kill(tarn_session *s, const char *server, int spid);
TARN_API int tarn_session_storage(tarn_session *s, const char *server, const char *action,
                                  const char *db);
TARN_API int tarn_session_storage_post(tarn_session *s, const char *action, const char *json_body);
TARN_API int tarn_session_admin(tarn_session *s, const char *server, const char *action,
                                const char *db, const char *extra);
TARN_API int tarn_session_job_control(tarn_session *s, const char *server, const char *job_id,
                                      const char *verb);

/* ==================================================================== */
/* Results that outlive the next operation                               */
/* ==================================================================== */

/**
 * Hands the session's last successful reply and its grid to the caller,
 * or returns NULL when there is none (after a failure, or taken already)
 * or when out of memory. The session then holds no reply, as after a
 * failure. Free the result with tarn_result_free.
 *
 * A result reads every cell whole and as the reply wrote it: a number's
 * text is its token in the reply, byte for byte. Object rows are looked up
 * by column name; by member position only where the member's key names no
 * column. Texts it returns stay valid as long as the result. Reading a
 * cell of a wide row costs time linear in the row's width.
 */
TARN_API tarn_result *tarn_session_take_result(tarn_session *s);

/** tarn_session_take_result on the default session. */
TARN_API tarn_result *tarn_client_take_result(void);

/** Frees a result and every text it handed out. NULL allowed. */
TARN_API void tarn_result_free(tarn_result *r);

/** The reply text, up to its first NUL byte. Never NULL. */
TARN_API const char *tarn_result_text(const tarn_result *r);

/** HTTP status of the exchange the reply came with. */
TARN_API int32_t tarn_result_http_status(const tarn_result *r);

/** Result sets in the reply: 1 for a top-level grid, one per result with
    `rows` in a batched reply, 0 without a grid. */
TARN_API int tarn_result_set_count(const tarn_result *r);

/** Makes the grid readers read set i (from 0). Returns 0, or -1 leaving the
    selection as it was when i is out of range. Initially the set the
    tarn_client_* readers locate (the last of a batched reply) is selected.
    Do not call it while another thread reads the same result. */
TARN_API int tarn_result_select_set(tarn_result *r, int i);

/** 1 when the selected set says `"truncated": true`, else 0. */
TARN_API int tarn_result_truncated(const tarn_result *r);

/** Rows of the selected set, or -1 without a grid. */
TARN_API int tarn_result_row_count(const tarn_result *r);

/** Columns of the selected set: its `columns` entries when there are any,
    else the size of its first row; -1 without a grid. */
TARN_API int tarn_result_col_count(const tarn_result *r);

/** Name of column col, as tarn_client_col_name finds it; "" when none.
    Never NULL. */
TARN_API const char *tarn_result_col_name(const tarn_result *r, int col);

/** JSON kind of cell (row, col) of the selected set, a TARN_CELL_* value. */
TARN_API int tarn_result_cell_kind(const tarn_result *r, int row, int col);

/** Text of cell (row, col) of the selected set, never cut: strings whole
    (NUL bytes included), numbers as their token in the reply, "true" or
    "false", arrays and objects as compact JSON, "" for null or absent.
    *len (when len is not NULL) gets its length. Never NULL. */
TARN_API const char *tarn_result_cell_text(const tarn_result *r, int row, int col, size_t *len);

/* ==================================================================== */
/* Rows as the reply arrives                                             */
/* ==================================================================== */

/**
 * A cell or column name handed to a row callback. kind is a TARN_CELL_*
 * value; text holds len bytes and a NUL after them, valid until the
 * callback returns. Strings come unescaped with their bytes as sent (NUL
 * and invalid UTF-8 included), numbers as their token in the reply, true
 * and false as those words, arrays and objects as their JSON as sent
 * without insignificant white space, null and absent cells as "".
 */
typedef struct tarn_cell {
    int kind;
    const char *text;
    size_t len;
} tarn_cell;

/**
 * What tarn_session_query_rows calls while the caller waits: on a thread
 * of the library that reads the download as it arrives (or the caller's
 * own), never two at once, never after the call returned. set counts
 * result sets from 0. Each returns 0 to go on, non-zero to stop the operation, which
 * then fails with TARN_E_STOPPED. Any member may be NULL. A callback must
 * not use the same session.
 */
typedef struct tarn_row_callbacks {
    /** A set begins: its column names, from `columns`, else from its first
        row (an object row's keys; an array row's width, unnamed: kind
        TARN_CELL_ABSENT). */
    int (*columns)(void *user_data, int set, const tarn_cell *names, size_t count);
    /** One row: an array row's elements however many; an object row's cell
        for each column, looked up as tarn_result_cell_text does. */
    int (*row)(void *user_data, int set, const tarn_cell *cells, size_t count);
    /** The set ended after rows rows; truncated is 1 when the service cut it. */
    int (*set_end)(void *user_data, int set, uint64_t rows, int truncated);
} tarn_row_callbacks;

/**
 * tarn_session_query, with every result set's rows handed to cb as the
 * reply downloads instead of kept: memory stays near the largest row,
 * whatever the size of the reply (rows that come before their set's
 * `columns` wait in a temporary file). Returns the number of result sets
 * delivered, or -1 on failure; a malformed or cut reply fails
 * (TARN_E_REPLY) after the rows read so far. With 0 sets the reply is in
 * tarn_session_result; after sets were delivered that is "". The grid
 * readers find no grid after this call.
 */
TARN_API int tarn_session_query_rows(tarn_session *s, const char *server, const char *db,
                                     const char *sql, int max_rows, int timeout_s,
                                     const char *query_token, const tarn_row_callbacks *cb,
                                     void *user_data);

/** tarn_session_query_rows on the default session. */
TARN_API int tarn_client_query_rows(const char *server, const char *db, const char *sql,
                                    int max_rows, int timeout_s, const char *query_token,
                                    const tarn_row_callbacks *cb, void *user_data);

#ifdef __cplusplus
}
#endif

#endif /* TARN_CLIENT_H */
