// Sessions over loopback HTTP and HTTPS: threads each with its own
// session, abort from another thread and from a signal handler, settings
// that stay with their session, and results that outlive it.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/time.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "support/test_server.h"
#include "tarn_client.h"

namespace {

using Clock = std::chrono::steady_clock;
using tarn_test::Reply;
using tarn_test::TestServer;

struct SessionFree {
    void operator()(tarn_session *s) const { tarn_session_free(s); }
};
using Session = std::unique_ptr<tarn_session, SessionFree>;

struct ResultFree {
    void operator()(tarn_result *r) const { tarn_result_free(r); }
};
using Result = std::unique_ptr<tarn_result, ResultFree>;

Session make_session(const std::string &host) {
    Session s(tarn_session_new());
    if (s) tarn_session_set_host(s.get(), host.c_str());
    return s;
}

// A key pin no test certificate has.
constexpr const char *kForeignPin = "pin:sha256//AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA=";

long ms_since(Clock::time_point t) {
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count());
}

// Eight threads, each with a session of its own, mix GETs and POSTs; half
// of them over HTTPS with keep-alive. Every reply must echo its own request.
TEST(Sessions, ThreadsEachWithASessionGetTheirOwnReplies) {
    TestServer plain;
    TestServer tls(true);
    plain.set_default(tarn_test::echo());
    tls.set_default(tarn_test::echo());
    constexpr int kThreads = 8;
    constexpr int kOps = 200;
    std::atomic<int> mismatches{0};
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            bool secure = t % 2 == 1;
            Session s = make_session(secure ? tls.url() : plain.url());
            if (!s) {
                ++failures;
                return;
            }
            std::string pwd = "pw" + std::to_string(t);
            tarn_session_set_password(s.get(), pwd.c_str());
            tarn_session_set_keepalive(s.get(), secure ? 1 : 0);
            for (int i = 0; i < kOps; ++i) {
                std::string mark = std::to_string(t) + "-" + std::to_string(i);
                int rc = i % 2 == 0 ? tarn_session_tree(s.get(), mark.c_str(), "tables", nullptr,
                                                        nullptr, nullptr)
                                    : tarn_session_query(s.get(), "srv", "db", mark.c_str(), 0, 0,
                                                         nullptr);
                if (rc != 0) {
                    ++failures;
                    continue;
                }
                std::string target = tarn_session_cell(s.get(), 0, 0);
                std::string body = tarn_session_cell(s.get(), 0, 3);
                bool own =
                    tarn_session_cell(s.get(), 0, 1) == pwd &&
                    (i % 2 == 0 ? target.find("server=" + mark + "&") != std::string::npos
                                : body.find("\"sql\":\"" + mark + "\"") != std::string::npos);
                if (!own) ++mismatches;
            }
        });
    }
    for (auto &th : threads) th.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(mismatches.load(), 0);
    EXPECT_EQ(plain.count() + tls.count(), static_cast<size_t>(kThreads * kOps));
    // Keep-alive kept each HTTPS session on few connections.
    EXPECT_LT(tls.connections(), static_cast<size_t>(kThreads / 2 * kOps / 10));
}

// What ends an operation against a server that never answers.
struct AbortRun {
    int rc = 0;
    int code = TARN_E_NONE;
    std::string error;
    long after_abort_ms = -1;
};

AbortRun run_until_aborted(tarn_session *s, const std::function<void()> &abort) {
    AbortRun run;
    std::atomic<bool> started{false};
    std::thread worker([&] {
        started = true;
        run.rc = tarn_session_query(s, "srv", "db", "select 1", 0, 0, "tok");
        run.code = tarn_session_error_code(s);
        run.error = tarn_session_last_error(s);
    });
    while (!started) std::this_thread::yield();
    // Long enough for the request to be on the wire and waiting.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    Clock::time_point aborted = Clock::now();
    abort();
    worker.join();
    run.after_abort_ms = ms_since(aborted);
    return run;
}

tarn_session *g_alarm_session = nullptr;

void on_alarm(int) {
    tarn_session_abort(g_alarm_session);
}

TEST(Sessions, AbortEndsAnExchangeThatNeverAnswers) {
    for (bool https : {false, true}) {
        TestServer server(https);
        Reply silent;
        silent.delay_ms = -1;
        server.set_default(silent);
        Session s = make_session(server.url());
        ASSERT_TRUE(s);

        AbortRun run = run_until_aborted(s.get(), [&] { tarn_session_abort(s.get()); });
        EXPECT_EQ(run.rc, -1);
        EXPECT_EQ(run.error, "aborted");
        EXPECT_EQ(run.code, TARN_E_ABORTED);
        // The bound is 100 ms; a loaded or instrumented build gets slack.
        EXPECT_LT(run.after_abort_ms, 1000) << (https ? "https" : "http");
        printf("abort after %ld ms (%s)\n", run.after_abort_ms, https ? "https" : "http");

        // From a signal handler.
        g_alarm_session = s.get();
        struct sigaction sa = {};
        sa.sa_handler = on_alarm;
        sigemptyset(&sa.sa_mask);
        ASSERT_EQ(sigaction(SIGALRM, &sa, nullptr), 0);
        run = run_until_aborted(s.get(), [] {
            itimerval one_shot = {};
            one_shot.it_value.tv_usec = 1000;
            setitimer(ITIMER_REAL, &one_shot, nullptr);
        });
        signal(SIGALRM, SIG_DFL);
        EXPECT_EQ(run.error, "aborted");
        EXPECT_EQ(run.code, TARN_E_ABORTED);
        EXPECT_LT(run.after_abort_ms, 1000);
    }
}

TEST(Sessions, AbortWithNothingInFlightIsDropped) {
    TestServer server;
    server.set_default(Reply{200, R"({"ok":true})"});
    Session s = make_session(server.url());
    ASSERT_TRUE(s);
    tarn_session_abort(s.get());
    tarn_session_abort(s.get());
    EXPECT_EQ(tarn_session_ping(s.get()), 0) << tarn_session_last_error(s.get());
    EXPECT_EQ(tarn_session_error_code(s.get()), TARN_E_NONE);
    // An abort meant for a finished operation does not reach the next one.
    ASSERT_EQ(tarn_session_ping(s.get()), 0);
    tarn_session_abort(s.get());
    EXPECT_EQ(tarn_session_ping(s.get()), 0) << tarn_session_last_error(s.get());
}

// Two sessions in one process: each request carries only its own session's
// settings, and the one whose policy refuses never reaches its server.
TEST(Sessions, SettingsStayWithTheirSession) {
    TestServer open_server(true);
    TestServer pinned_server(true);
    TestServer plain;
    for (TestServer *srv : {&open_server, &pinned_server, &plain})
        srv->set_default(tarn_test::echo());

    Session a = make_session(open_server.url());
    Session b = make_session(pinned_server.url());
    ASSERT_TRUE(a && b);
    tarn_session_set_password(a.get(), "alpha");
    tarn_session_set_jwt(a.get(), "tok-a");
    ASSERT_EQ(tarn_session_set_tls(a.get(), "any"), 0);
    tarn_session_set_keepalive(a.get(), 1);
    tarn_session_set_password(b.get(), "beta");
    ASSERT_EQ(tarn_session_set_tls(b.get(), kForeignPin), 0);

    for (int round = 0; round < 3; ++round) {
        ASSERT_EQ(tarn_session_ping(a.get()), 0) << tarn_session_last_error(a.get());
        EXPECT_STREQ(tarn_session_cell(a.get(), 0, 1), "alpha");
        EXPECT_STREQ(tarn_session_cell(a.get(), 0, 2), "Bearer tok-a");
        EXPECT_EQ(tarn_session_ping(b.get()), -1);
        EXPECT_STREQ(tarn_session_last_error(b.get()), "server certificate rejected");
        EXPECT_EQ(tarn_session_error_code(b.get()), TARN_E_CERTIFICATE);
    }
    EXPECT_EQ(open_server.count(), 3u);
    EXPECT_EQ(open_server.connections(), 1u);  // kept alive
    EXPECT_EQ(pinned_server.count(), 0u);

    // The second session on plain HTTP sends no credential of the first.
    tarn_session_set_host(b.get(), plain.url().c_str());
    ASSERT_EQ(tarn_session_ping(b.get()), 0) << tarn_session_last_error(b.get());
    EXPECT_STREQ(tarn_session_cell(b.get(), 0, 1), "beta");
    EXPECT_STREQ(tarn_session_cell(b.get(), 0, 2), "");
    EXPECT_EQ(plain.last().target, "/ping?pwd=beta");
}

TEST(Sessions, ErrorCodesBesideTheTexts) {
    TestServer server;
    server.route("/ping", Reply{503, R"({"error":"busy"})"});
    Reply slow;
    slow.delay_ms = 3000;
    server.route("/query", slow);
    struct Case {
        const char *what;
        std::function<int(tarn_session *)> op;
        int code;
        const char *error;
    } cases[] = {
        {"argument", [](tarn_session *s) { return tarn_session_query(s, "", "", "", 0, 0, ""); },
         TARN_E_ARGUMENT, "sql is required"},
        {"settings",
         [](tarn_session *s) {
             tarn_session_set_host(s, "http://h/?x");
             return tarn_session_ping(s);
         },
         TARN_E_SETTINGS, "invalid base url"},
        {"policy", [](tarn_session *s) { return tarn_session_set_tls(s, "bogus"); },
         TARN_E_SETTINGS, "invalid tls policy"},
        {"transport",
         [](tarn_session *s) {
             tarn_session_set_host(s, "http://127.0.0.1:1");
             return tarn_session_ping(s);
         },
         TARN_E_TRANSPORT, nullptr},
        {"http", [](tarn_session *s) { return tarn_session_ping(s); }, TARN_E_HTTP,
         "HTTP 503: busy"},
        {"timeout",
         [](tarn_session *s) {
             tarn_session_set_max_time(s, 1);
             return tarn_session_query(s, "", "", "select 1", 0, 0, "");
         },
         TARN_E_TIMEOUT, "timed out after 1 s"},
    };
    for (const auto &c : cases) {
        Session s = make_session(server.url());
        ASSERT_TRUE(s);
        EXPECT_EQ(c.op(s.get()), -1) << c.what;
        EXPECT_EQ(tarn_session_error_code(s.get()), c.code) << c.what;
        if (c.error != nullptr) {
            EXPECT_STREQ(tarn_session_last_error(s.get()), c.error) << c.what;
        }
    }
}

TEST(Sessions, TakenResultOutlivesTheNextOperationAndTheSession) {
    TestServer server;
    server.route("/query", Reply{200, R"({"batches":[{"results":[
        {"columns":[{"name":"a"}],"rows":[[1],[2]]},
        {"columns":["b","c"],"rows":[["x",18446744073709551616]],"truncated":true}]},
        {"results":[{"changes":3},{"rows":[{"id":1.50,"v":"last"}]}]}]})"});
    server.route("/ping", Reply{200, R"({"rows":[["other"]]})"});
    Session s = make_session(server.url());
    ASSERT_TRUE(s);
    EXPECT_EQ(tarn_session_take_result(s.get()), nullptr);
    ASSERT_EQ(tarn_session_query(s.get(), "", "", "select", 0, 0, ""), 0);
    Result r(tarn_session_take_result(s.get()));
    ASSERT_TRUE(r);
    EXPECT_STREQ(tarn_session_result(s.get()), "");
    EXPECT_EQ(tarn_session_take_result(s.get()), nullptr);
    ASSERT_EQ(tarn_session_ping(s.get()), 0);
    s.reset();

    EXPECT_EQ(tarn_result_http_status(r.get()), 200);
    ASSERT_EQ(tarn_result_set_count(r.get()), 3);
    // Like the session's readers, the result starts on the last set.
    EXPECT_STREQ(tarn_result_cell_text(r.get(), 0, 1, nullptr), "last");
    struct Want {
        int rows, cols, truncated;
        const char *name0, *cell00, *last;
    } want[] = {
        {2, 1, 0, "a", "1", "2"},
        {1, 2, 1, "b", "x", "18446744073709551616"},
        {1, 2, 0, "id", "1.50", "last"},
    };
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(tarn_result_select_set(r.get(), i), 0);
        const Want &w = want[i];
        EXPECT_EQ(tarn_result_row_count(r.get()), w.rows) << i;
        EXPECT_EQ(tarn_result_col_count(r.get()), w.cols) << i;
        EXPECT_EQ(tarn_result_truncated(r.get()), w.truncated) << i;
        EXPECT_STREQ(tarn_result_col_name(r.get(), 0), w.name0) << i;
        EXPECT_STREQ(tarn_result_cell_text(r.get(), 0, 0, nullptr), w.cell00) << i;
        int last_row = w.rows - 1, last_col = w.cols - 1;
        size_t len = 0;
        const char *text = tarn_result_cell_text(r.get(), last_row, last_col, &len);
        EXPECT_EQ(std::string(text, len), w.last) << i;
    }
    EXPECT_EQ(tarn_result_select_set(r.get(), 3), -1);
    EXPECT_EQ(tarn_result_cell_kind(r.get(), 0, 0), TARN_CELL_NUMBER);
}

// A result is read from many threads at once, array and object cells too,
// each thread seeing the same texts.
TEST(Sessions, ResultIsReadFromManyThreads) {
    TestServer server;
    server.route("/query", Reply{200, R"({"columns":["n","doc"],"rows":[[1,{"k":[1,2]}],)"
                                      R"([2,[true,null]],[3,"three"]]})"});
    Session s = make_session(server.url());
    ASSERT_TRUE(s);
    ASSERT_EQ(tarn_session_query(s.get(), "", "", "select", 0, 0, ""), 0);
    Result r(tarn_session_take_result(s.get()));
    ASSERT_TRUE(r);
    const std::vector<std::string> want = {"1", R"({"k":[1,2]})", "2", "[true,null]", "3", "three"};
    std::atomic<int> wrong{0};
    std::vector<std::thread> readers;
    for (int t = 0; t < 4; ++t) {
        readers.emplace_back([&] {
            for (int round = 0; round < 200; ++round)
                for (int row = 0; row < 3; ++row)
                    for (int col = 0; col < 2; ++col)
                        if (tarn_result_cell_text(r.get(), row, col, nullptr) !=
                            want[static_cast<size_t>(row * 2 + col)])
                            ++wrong;
        });
    }
    for (auto &th : readers) th.join();
    EXPECT_EQ(wrong.load(), 0);
}

}  // namespace
