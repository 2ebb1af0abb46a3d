/*
 * Cancels a running query from the same program: one thread runs the query
 * with a token on its session, the main thread cancels that token on a
 * session of its own, and the query returns the service's answer. When the
 * service does not answer in time, tarn_session_abort ends the exchange.
 *
 *   cancel_query BASE_URL SERVER DB SQL [SECONDS]
 *
 * Cancels after SECONDS (default 1); exits 0 when the query ended as
 * cancelled, printing its error line.
 */
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

#include "tarn_client.h"

struct job {
    tarn_session *session;
    const char *server, *db, *sql;
    int rc;
};

static void *run_query(void *arg) {
    struct job *job = arg;
    job->rc =
        tarn_session_query(job->session, job->server, job->db, job->sql, 0, 0, "cancel-example");
    return NULL;
}

static void sleep_ms(long ms) {
    struct timespec ts = {ms / 1000, (ms % 1000) * 1000000L};
    nanosleep(&ts, NULL);
}

int main(int argc, char **argv) {
    if (argc < 5) {
        fputs("usage: cancel_query BASE_URL SERVER DB SQL [SECONDS]\n", stderr);
        return 2;
    }
    struct job job = {tarn_session_new(), argv[2], argv[3], argv[4], 0};
    tarn_session *control = tarn_session_new();
    if (job.session == NULL || control == NULL) return 1;
    tarn_session_set_host(job.session, argv[1]);
    tarn_session_set_host(control, argv[1]);

    pthread_t worker;
    if (pthread_create(&worker, NULL, run_query, &job) != 0) return 1;
    sleep_ms(argc > 5 ? atol(argv[5]) * 1000 : 1000);

    /* The cancel goes out on the control session: the query's own is busy. */
    if (tarn_session_cancel(control, argv[2], "cancel-example") != 0) {
        fprintf(stderr, "cancel: %s\n", tarn_session_last_error(control));
        /* Nothing will end the query on the service; stop waiting for it. */
        tarn_session_abort(job.session);
    }
    pthread_join(worker, NULL);

    int cancelled = job.rc != 0 && tarn_session_error_code(job.session) == TARN_E_HTTP &&
                    tarn_session_http_status(job.session) == 409;
    printf("query: %s\n", job.rc == 0 ? "finished" : tarn_session_last_error(job.session));
    tarn_session_free(control);
    tarn_session_free(job.session);
    return cancelled ? 0 : 1;
}
