// Queries whose rows go to the caller as the reply arrives: the backend
// hands a 2xx body to a RowStream instead of keeping it.
#include <cstdlib>
#include <cstring>

#include "body_pipe.h"
#include "ops.h"
#include "row_stream.h"
#include "transport/heap.h"
#include "transport/wire.h"

using namespace tarn;

namespace {

struct Streaming {
    const tarn_row_callbacks *cb;
    void *user;
    int set = 0;
    RowStream *stream = nullptr;
    StreamStatus status = StreamStatus::kOk;
    // The reply's bytes until a set begins: a reply without a grid is
    // handed back whole, and one with a grid keeps nothing.
    bool keep = true;
    char *kept = nullptr;
    size_t kept_len = 0;
    size_t kept_cap = 0;
    bool out_of_memory = false;

    ~Streaming() { free(kept); }

    bool hold(const char *data, size_t n) {
        if (kept_cap - kept_len <= n) {
            size_t cap = kept_cap < 4096 ? 4096 : kept_cap;
            while (cap - kept_len <= n) cap *= 2;
            auto *grown = static_cast<char *>(mem_realloc(kept, cap));
            if (grown == nullptr) return false;
            kept = grown;
            kept_cap = cap;
        }
        memcpy(kept + kept_len, data, n);
        kept_len += n;
        kept[kept_len] = '\0';
        return true;
    }

    void drop_kept() {
        free(kept);
        kept = nullptr;
        kept_len = kept_cap = 0;
        keep = false;
    }

    // Feeds n bytes; false once the stream is to go no further.
    bool feed(const char *data, size_t n) {
        if (keep && !hold(data, n)) {
            out_of_memory = true;
            return false;
        }
        status = stream->feed(data, n);
        if (keep && stream->began()) drop_kept();
        return status == StreamStatus::kOk;
    }
};

int on_columns(void *u, const StreamCell *names, size_t count) {
    auto *st = static_cast<Streaming *>(u);
    return st->cb->columns != nullptr ? st->cb->columns(st->user, st->set, names, count) : 0;
}

int on_row(void *u, const StreamCell *cells, size_t count) {
    auto *st = static_cast<Streaming *>(u);
    return st->cb->row != nullptr ? st->cb->row(st->user, st->set, cells, count) : 0;
}

int on_set_end(void *u, const StreamSetEnd *end) {
    auto *st = static_cast<Streaming *>(u);
    int set = st->set++;
    if (st->cb->set_end == nullptr) return 0;
    return st->cb->set_end(st->user, set, end->rows, end->truncated ? 1 : 0);
}

int on_body(void *u, const char *data, size_t n) {
    return static_cast<Streaming *>(u)->feed(data, n) ? 0 : 1;
}

bool read_piped(void *u, const char *data, size_t n) {
    return static_cast<Streaming *>(u)->feed(data, n);
}

int on_piped_body(void *u, const char *data, size_t n) {
    return static_cast<BodyPipe *>(u)->put(data, n) ? 0 : 1;
}

// The failure the stream itself caused, if any; true when it set one.
bool stream_failure(tarn_session *s, const Streaming &st) {
    if (st.out_of_memory) {
        set_error(s, TARN_E_NOMEM, "out of memory");
    } else if (st.status == StreamStatus::kStopped) {
        set_error(s, TARN_E_STOPPED, "stopped by the row callback");
    } else if (st.status == StreamStatus::kFailed) {
        set_error(s, TARN_E_REPLY, st.stream->error());
    } else {
        return false;
    }
    return true;
}

// Clears the reply text the session holds, keeping its buffer.
void clear_reply(tarn_session *s) {
    if (s->result != nullptr) s->result[0] = '\0';
    s->result_len = 0;
}

int stream_query(tarn_session *s, const char *body, const tarn_row_callbacks *cb, void *user_data) {
    static const tarn_row_callbacks kNone = {nullptr, nullptr, nullptr};
    Streaming st;
    st.cb = cb != nullptr ? cb : &kNone;
    st.user = user_data;
    RowStream stream({on_columns, on_row, on_set_end}, &st);
    st.stream = &stream;

    // A caller's table hands the body whole; only the built-in backend
    // passes it on as it arrives, to a reading thread where there is one.
    bool passes_on = s->io == nullptr;
    BodyPipe pipe(read_piped, &st);
    bool piped = passes_on && pipe.start();
    s->env.body = piped ? backend::BodySink{on_piped_body, &pipe} : backend::BodySink{on_body, &st};
    int32_t rc = do_request(s, kPost, "/query", nullptr, body);
    s->env.body = {};
    // A cut reply still delivers the rows that came; an abort drops what
    // still waits, so no rows follow it.
    if (piped) pipe.close(rc != 0 && s->error_code == TARN_E_ABORTED);
    if (rc != 0) {
        // The stream's own failure says more than the broken transfer.
        stream_failure(s, st);
        return -1;
    }
    if (!passes_on) {
        st.keep = false;  // the session holds the reply already
        st.feed(s->result != nullptr ? s->result : "", s->result_len);
    }
    if (st.status == StreamStatus::kOk) st.status = stream.finish();
    if (st.status == StreamStatus::kNoGrid) {
        // No grid: the reply is the answer, as a plain query keeps it.
        if (passes_on && store_result(s, st.kept != nullptr ? st.kept : "") != 0) return -1;
        return 0;
    }
    clear_reply(s);
    if (stream_failure(s, st)) return -1;
    return static_cast<int>(stream.sets());
}

}  // namespace

extern "C" {

TARN_API int tarn_session_query_rows(tarn_session *s, const char *server, const char *db,
                                     const char *sql, int max_rows, int timeout_s,
                                     const char *query_token, const tarn_row_callbacks *cb,
                                     void *user_data) {
    Operation op(s);
    if (absent(sql)) return reject(s, "sql is required");
    char *body = build_query_body(server, db, sql, max_rows, timeout_s, query_token);
    if (body == nullptr) return reject(s, "out of memory", TARN_E_NOMEM);
    int rc = stream_query(s, body, cb, user_data);
    free(body);
    return rc;
}

}  // extern "C"
