// Sessions on the WinHTTP backend: abort from another thread, settings that
// stay with their session, and threads each with a session of its own.
#include <winsock2.h>
// winsock2.h must come before windows.h.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "loopback_server.h"
#include "tarn_client.h"

namespace {

using Clock = std::chrono::steady_clock;
using tarn_win_test::LoopbackServer;
using tarn_win_test::reply;
using tarn_win_test::Request;

struct SessionFree {
    void operator()(tarn_session *s) const { tarn_session_free(s); }
};
using Session = std::unique_ptr<tarn_session, SessionFree>;

Session make_session(const std::string &host) {
    Session s(tarn_session_new());
    if (s) tarn_session_set_host(s.get(), host.c_str());
    return s;
}

// A key pin no test certificate has.
constexpr const char *kForeignPin = "pin:sha256//AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA=";

std::string json_text(const std::string &s) {
    std::string out = "\"";
    for (char c : s) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out + "\"";
}

// One row: the request's target, password header, Authorization and body.
std::string echo_body(const Request &r) {
    return R"({"rows":[[)" + json_text(r.target) + "," +
           json_text(r.header("X-Bot-Password").value_or("")) + "," +
           json_text(r.header("Authorization").value_or("")) + "," + json_text(r.body) + "]]}";
}

// For a server that keeps connections: the reply leaves it open.
std::string echo_kept(const Request &r) {
    std::string body = echo_body(r);
    return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

std::string echo_closing(const Request &r) {
    return reply(200, echo_body(r));
}

SOCKET loopback_listener(uint16_t *port) {
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int len = sizeof addr;
    if (s == INVALID_SOCKET || bind(s, reinterpret_cast<sockaddr *>(&addr), len) != 0 ||
        listen(s, 16) != 0 || getsockname(s, reinterpret_cast<sockaddr *>(&addr), &len) != 0)
        throw std::runtime_error("cannot listen on loopback");
    *port = ntohs(addr.sin_port);
    return s;
}

bool readable(SOCKET s, int ms) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(s, &set);
    timeval tv{0, ms * 1000};
    return select(0, &set, nullptr, nullptr, &tv) > 0;
}

// Accepts connections and never answers; closing them on destruction ends
// whatever still waits on them.
class SilentServer {
public:
    SilentServer() : listener_(loopback_listener(&port_)), thread_([this] { serve(); }) {}
    ~SilentServer() {
        stop_ = true;
        thread_.join();
        for (SOCKET c : clients_) closesocket(c);
        closesocket(listener_);
    }
    std::string url() const { return "http://127.0.0.1:" + std::to_string(port_); }

private:
    void serve() {
        while (!stop_) {
            if (!readable(listener_, 20)) continue;
            SOCKET c = accept(listener_, nullptr, nullptr);
            if (c != INVALID_SOCKET) clients_.push_back(c);
        }
    }
    uint16_t port_ = 0;
    SOCKET listener_;
    std::atomic<bool> stop_{false};
    std::vector<SOCKET> clients_;
    std::thread thread_;
};

// A TCP relay in front of a TLS server that counts, per connection, the
// application-data records the client sends. A connection whose request
// went through has more of them than one cut after the handshake, whatever
// the TLS version (1.3 sends the client's Finished as one too).
class CountingRelay {
public:
    explicit CountingRelay(uint16_t upstream)
        : upstream_(upstream), listener_(loopback_listener(&port_)), thread_([this] { serve(); }) {}
    ~CountingRelay() {
        stop_ = true;
        thread_.join();
        for (std::thread &t : links_) t.join();
        closesocket(listener_);
    }
    std::string url() const { return "https://127.0.0.1:" + std::to_string(port_); }
    // The most application-data records any one connection carried.
    int most_records() const {
        std::lock_guard<std::mutex> lock(mu_);
        return most_;
    }
    int connections() const { return accepted_; }

private:
    void serve() {
        while (!stop_) {
            if (!readable(listener_, 20)) continue;
            SOCKET c = accept(listener_, nullptr, nullptr);
            if (c == INVALID_SOCKET) continue;
            ++accepted_;
            links_.emplace_back([this, c] { relay(c); });
        }
    }
    void relay(SOCKET client) {
        SOCKET up = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addr.sin_port = htons(upstream_);
        std::string records;  // client bytes not yet parsed into whole records
        int counted = 0;
        bool open = connect(up, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0;
        char buf[16384];
        while (open && !stop_) {
            fd_set set;
            FD_ZERO(&set);
            FD_SET(client, &set);
            FD_SET(up, &set);
            timeval tv{0, 20 * 1000};
            if (select(0, &set, nullptr, nullptr, &tv) <= 0) continue;
            for (auto [from, to] : {std::pair{client, up}, std::pair{up, client}}) {
                if (!open || !FD_ISSET(from, &set)) continue;
                int n = recv(from, buf, sizeof buf, 0);
                open = n > 0 && send(to, buf, n, 0) == n;
                if (n <= 0 || from != client) continue;
                records.append(buf, static_cast<size_t>(n));
                while (records.size() >= 5) {
                    size_t len = (static_cast<unsigned char>(records[3]) << 8) |
                                 static_cast<unsigned char>(records[4]);
                    if (records.size() < 5 + len) break;
                    if (records[0] == 23) ++counted;
                    records.erase(0, 5 + len);
                }
            }
        }
        closesocket(up);
        closesocket(client);
        std::lock_guard<std::mutex> lock(mu_);
        if (counted > most_) most_ = counted;
    }

    uint16_t upstream_;
    uint16_t port_ = 0;
    SOCKET listener_;
    std::atomic<bool> stop_{false};
    std::atomic<int> accepted_{0};
    mutable std::mutex mu_;
    int most_ = 0;
    std::vector<std::thread> links_;  // only the accepting thread adds
    std::thread thread_;
};

long ms_since(Clock::time_point t) {
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count());
}

TEST(WinSessions, AbortFromAnotherThreadEndsAWaitingExchange) {
    struct Case {
        const char *what;
        int keepalive;
        bool post;
    } cases[] = {
        {"POST on a session handle of its own", 0, true},
        {"GET on the kept session handle", 1, false},
    };
    LoopbackServer answering{[](const Request &) { return reply(200, R"({"rows":[["ok"]]})"); }};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        SilentServer silent;
        Session s = make_session(silent.url());
        ASSERT_TRUE(s);
        tarn_session_set_keepalive(s.get(), c.keepalive);

        int rc = 0;
        int code = TARN_E_NONE;
        std::string error;
        std::thread worker([&] {
            rc = c.post ? tarn_session_query(s.get(), "srv", "db", "select 1", 0, 0, "tok")
                        : tarn_session_ping(s.get());
            code = tarn_session_error_code(s.get());
            error = tarn_session_last_error(s.get());
        });
        // Long enough for the request to be on the wire and waiting.
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        Clock::time_point aborted = Clock::now();
        tarn_session_abort(s.get());
        worker.join();
        long took = ms_since(aborted);
        printf("abort after %ld ms (%s)\n", took, c.what);
        EXPECT_EQ(rc, -1);
        EXPECT_EQ(error, "aborted");
        EXPECT_EQ(code, TARN_E_ABORTED);
        // The bound is 100 ms (a few ms measured); a loaded machine under
        // Wine gets slack, still far below any WinHTTP timeout.
        EXPECT_LT(took, 500);

        // The session goes on: the call left behind holds nothing of it,
        // and an abort with nothing in flight reaches no later call.
        tarn_session_set_host(s.get(), answering.url("").c_str());
        tarn_session_abort(s.get());
        ASSERT_EQ(tarn_session_ping(s.get()), 0) << tarn_session_last_error(s.get());
        EXPECT_STREQ(tarn_session_cell(s.get(), 0, 0), "ok");
        EXPECT_EQ(tarn_session_error_code(s.get()), TARN_E_NONE);
    }
}

// Four sessions in one process, used in turns: each request carries only
// its own session's credentials, keep-alive holds only where it is on, and
// of two sessions on one TLS server, the one whose pin refuses it never
// sends it a request while the other's policy lets its requests through.
TEST(WinSessions, SettingsStayWithTheirSession) {
    const char *tls_url = getenv("TARN_WIN_TLS_URL");
    if (tls_url == nullptr) GTEST_SKIP() << "TARN_WIN_TLS_URL is set by scripts/test_windows.sh";
    std::string tls(tls_url);
    auto tls_port = static_cast<uint16_t>(atoi(tls.substr(tls.rfind(':') + 1).c_str()));

    LoopbackServer kept{echo_kept};
    // Idle connections close after a while: Wine's pool outlives sessions.
    kept.keep_connections(2000);
    LoopbackServer closing{echo_closing};
    CountingRelay refused(tls_port);
    CountingRelay open(tls_port);

    Session a = make_session(kept.url(""));
    Session b = make_session(closing.url(""));
    Session c = make_session(refused.url());
    Session d = make_session(open.url());
    ASSERT_TRUE(a && b && c && d);
    tarn_session_set_password(a.get(), "alpha");
    tarn_session_set_jwt(a.get(), "tok-a");
    tarn_session_set_keepalive(a.get(), 1);
    tarn_session_set_password(b.get(), "beta");
    ASSERT_EQ(tarn_session_set_tls(c.get(), kForeignPin), 0);
    tarn_session_set_keepalive(c.get(), 1);
    ASSERT_EQ(tarn_session_set_tls(d.get(), "any"), 0);

    constexpr int kRounds = 3;
    for (int round = 0; round < kRounds; ++round) {
        ASSERT_EQ(tarn_session_ping(a.get()), 0) << tarn_session_last_error(a.get());
        EXPECT_STREQ(tarn_session_cell(a.get(), 0, 1), "alpha");
        EXPECT_STREQ(tarn_session_cell(a.get(), 0, 2), "Bearer tok-a");
        ASSERT_EQ(tarn_session_ping(b.get()), 0) << tarn_session_last_error(b.get());
        EXPECT_STREQ(tarn_session_cell(b.get(), 0, 1), "beta");
        EXPECT_STREQ(tarn_session_cell(b.get(), 0, 2), "");
        EXPECT_EQ(tarn_session_ping(c.get()), -1);
        EXPECT_STREQ(tarn_session_last_error(c.get()), "server certificate rejected");
        EXPECT_EQ(tarn_session_error_code(c.get()), TARN_E_CERTIFICATE);
        ASSERT_EQ(tarn_session_ping(d.get()), 0) << tarn_session_last_error(d.get());
        EXPECT_STREQ(tarn_session_cell(d.get(), 0, 0), "over tls");
    }
    for (const Request &r : kept.requests()) EXPECT_EQ(r.target, "/ping?pwd=alpha");
    for (const Request &r : closing.requests()) EXPECT_EQ(r.target, "/ping?pwd=beta");
    EXPECT_EQ(kept.requests().size(), static_cast<size_t>(kRounds));
    EXPECT_EQ(kept.connections(), 1U);
    EXPECT_EQ(closing.connections(), static_cast<size_t>(kRounds));
    EXPECT_GE(refused.connections(), 1);
    EXPECT_GT(open.most_records(), refused.most_records());
}

// Four threads, each with a session of its own, mix GETs and POSTs; every
// reply must echo its own request.
TEST(WinSessions, ThreadsEachWithASessionGetTheirOwnReplies) {
    LoopbackServer server{echo_closing};
    constexpr int kThreads = 4;
    constexpr int kOps = 25;
    std::atomic<int> failures{0};
    std::atomic<int> mismatches{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            Session s = make_session(server.url(""));
            if (!s) {
                ++failures;
                return;
            }
            std::string pwd = "pw" + std::to_string(t);
            tarn_session_set_password(s.get(), pwd.c_str());
            tarn_session_set_keepalive(s.get(), t % 2);
            for (int i = 0; i < kOps; ++i) {
                std::string mark = std::to_string(t) + "-" + std::to_string(i);
                bool get = (i + t) % 2 == 0;
                int rc =
                    get ? tarn_session_tree(s.get(), mark.c_str(), "tables", nullptr, nullptr,
                                            nullptr)
                        : tarn_session_query(s.get(), "srv", "db", mark.c_str(), 0, 0, nullptr);
                if (rc != 0) {
                    ++failures;
                    continue;
                }
                std::string target = tarn_session_cell(s.get(), 0, 0);
                std::string body = tarn_session_cell(s.get(), 0, 3);
                bool own = tarn_session_cell(s.get(), 0, 1) == pwd &&
                           (get ? target.find("server=" + mark + "&") != std::string::npos
                                : body.find("\"sql\":\"" + mark + "\"") != std::string::npos);
                if (!own) ++mismatches;
            }
        });
    }
    for (auto &th : threads) th.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(mismatches.load(), 0);
    EXPECT_EQ(server.requests().size(), static_cast<size_t>(kThreads * kOps));
}

}  // namespace
