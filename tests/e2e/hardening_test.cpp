// The demo service under abuse: SQL that would crash or wedge it, a second
// copy on its folder, busy workers, floods of headers, huge rows, clashing
// profile ids and a read-only folder.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "demo_process.h"
#include "raw_http.h"

namespace tarn_test {
namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

const char *const kLong =
    "with recursive n(i) as (select 1 union all select i + 1 from n where i < 4000000000)"
    " select count(*) from n";

std::string quoted(const std::string &s) {
    std::string out = "\"";
    for (char c : s) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out + "\"";
}

std::string query_body(const std::string &sql, const std::string &token = "") {
    return "{\"db\":\"shop\",\"sql\":" + quoted(sql) +
           (token.empty() ? "" : ",\"query_token\":" + quoted(token)) + "}";
}

RawReply query(const DemoService &svc, const std::string &sql) {
    return raw_request(svc.url(), "POST", "/query", query_body(sql), 60000);
}

long long elapsed_ms(Clock::time_point since) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count();
}

// A line of /proc/PID/status in KiB, such as VmHWM (the peak resident set).
long status_kib(pid_t pid, const std::string &key) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line))
        if (line.compare(0, key.size() + 1, key + ":") == 0)
            return atol(line.c_str() + key.size() + 1);
    return -1;
}

std::string wide_select(int columns) {
    std::string sql = "select 1";
    for (int i = 1; i < columns; ++i) sql += ",1";
    return sql;
}

struct SqlCase {
    const char *name;
    std::string sql;
    int status;
    const char *body;  // text the reply holds
};

TEST(Hardening, SqlSurfaceIsByAllowance) {
    DemoService svc;
    ASSERT_FALSE(svc.url().empty());
    const SqlCase cases[] = {
        {"tokenizer_address", "select hex(fts3_tokenizer('simple'))", 403, "fts3_tokenizer"},
        {"tokenizer_set", "select fts3_tokenizer('x', x'4141414141414141')", 403, "fts3_tokenizer"},
        {"tokenizer_use", "create virtual table ft using fts3(c, tokenize=x)", 400,
         "unknown tokenizer"},
        {"load_extension", "select load_extension('/tmp/none')", 403, "load_extension"},
        {"hard_heap_limit", "PRAGMA hard_heap_limit=1000", 403, "hard_heap_limit"},
        {"soft_heap_limit", "PRAGMA soft_heap_limit=1000", 403, "soft_heap_limit"},
        {"journal_mode", "PRAGMA journal_mode=DELETE", 403, "journal_mode"},
        {"writable_schema", "PRAGMA writable_schema=ON", 403, "writable_schema"},
        {"temp_store_directory", "PRAGMA temp_store_directory='/tmp'", 403, "temp_store_directory"},
        {"mmap_size", "PRAGMA mmap_size=268435456", 403, "mmap_size"},
        {"cache_size_huge", "PRAGMA cache_size=-4000000", 403, "cache_size"},
        {"attach", "attach '/tmp/x.db' as x", 403, "ATTACH"},
        {"too_many_columns", wide_select(600), 400, "too many columns"},
        {"cache_size_small", "PRAGMA cache_size=-2000", 200, "\"changes\""},
        {"table_info", "PRAGMA table_info(orders)", 200, "customer_id"},
        {"index_list", "select * from pragma_index_list('orders')", 200, "\"rows\""},
        {"foreign_key_list", "PRAGMA foreign_key_list(orders)", 200, "customers"},
        {"functions",
         "select json_extract('{\"a\":[1,2]}', '$.a[1]'), date('2024-01-31', '+1 day'),"
         " round(sqrt(2), 3), upper(hex(zeroblob(1))), row_number() over (), count(*)",
         200, "[2,\"2024-02-01\",1.414,\"00\",1,1]"},
        {"journal_mode_read", "PRAGMA journal_mode", 200, "[\"wal\"]"},
        {"alter_table",
         "create table t(a, b); alter table t rename to t2; alter table t2 rename column a to c;"
         " alter table t2 drop column b; drop table t2",
         200, "\"statement\":5"},
    };
    for (const SqlCase &c : cases) {
        RawReply r = query(svc, c.sql);
        EXPECT_EQ(r.status, c.status) << c.name << ": " << r.body;
        EXPECT_NE(r.body.find(c.body), std::string::npos) << c.name << ": " << r.body;
    }
    EXPECT_EQ(raw_request(svc.url(), "GET", "/ping").status, 200);
    RawReply after = query(svc, "select count(*) from orders");
    EXPECT_EQ(after.status, 200) << after.body;
}

TEST(Hardening, SecondServiceOnTheFolderRefusesToStart) {
    DemoService first;
    ASSERT_FALSE(first.url().empty());
    auto t0 = Clock::now();
    DemoService second({}, first.data_dir());
    second.keep_data();
    EXPECT_TRUE(second.url().empty());
    EXPECT_EQ(second.stop(), 1);
    EXPECT_LT(elapsed_ms(t0), 10000);
    EXPECT_NE(second.log().find("data folder in use by process " + std::to_string(first.pid())),
              std::string::npos)
        << second.log();
    EXPECT_EQ(raw_request(first.url(), "GET", "/ping").status, 200);
}

// Eight long queries fill the query workers while slow heads and idle
// kept-alive connections sit on the service: cancel and ping still answer,
// and queries whose clients hang up stop.
TEST(Hardening, ControlGetsThroughBusyWorkers) {
    DemoService svc;
    ASSERT_FALSE(svc.url().empty());
    std::vector<int> slow, idle, queries;
    for (int i = 0; i < 8; ++i) {
        slow.push_back(raw_connect(svc.url()));
        raw_send(slow.back(), "GET /ping HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Slow: a");
        idle.push_back(raw_connect(svc.url()));
        raw_send(idle.back(), raw_message("GET", "/ping", "", true));
        EXPECT_EQ(raw_read(idle.back(), 10000).status, 200);
    }
    for (int i = 0; i < 8; ++i) {
        queries.push_back(raw_connect(svc.url()));
        raw_send(queries.back(),
                 raw_message("POST", "/query", query_body(kLong, "long-" + std::to_string(i))));
    }
    auto running = [&] {
        RawReply a = raw_request(svc.url(), "GET", "/activity", "", 10000);
        size_t n = 0;
        for (size_t at = a.body.find("\"spid\":"); at != std::string::npos;
             at = a.body.find("\"spid\":", at + 1))
            ++n;
        return n;
    };
    for (auto until = Clock::now() + std::chrono::seconds(20);
         running() < 8 && Clock::now() < until;)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ASSERT_EQ(running(), 8U);

    auto t0 = Clock::now();
    RawReply cancel = raw_request(svc.url(), "POST", "/query?action=cancel",
                                  "{\"query_token\":\"long-3\"}", 5000);
    EXPECT_EQ(cancel.status, 200) << cancel.body;
    EXPECT_LT(elapsed_ms(t0), 2000);
    t0 = Clock::now();
    EXPECT_EQ(raw_request(svc.url(), "GET", "/ping", "", 5000).status, 200);
    EXPECT_LT(elapsed_ms(t0), 1000);
    EXPECT_EQ(raw_read(queries[3], 10000).status, 409);

    // Clients that hang up leave no statement running.
    for (int fd : queries) close(fd);
    auto until = Clock::now() + std::chrono::seconds(10);
    while (running() > 0 && Clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(running(), 0U);
    for (int fd : slow) close(fd);
    for (int fd : idle) close(fd);
}

struct Limit {
    const char *name;
    std::string head;  // sent, then the reply is read
    int status;
};

// Each limit answers its status from the head alone, before a body is read.
TEST(Hardening, RequestLimitsAnswerTheirStatus) {
    DemoService svc;
    ASSERT_FALSE(svc.url().empty());
    std::string many;
    for (int i = 0; i < 101; ++i) many += "X-H" + std::to_string(i) + ": v\r\n";
    const Limit limits[] = {
        {"request_line", "GET /ping?x=" + std::string(9000, 'a') + " HTTP/1.1\r\n", 414},
        {"header_line", "GET /ping HTTP/1.1\r\nX-Long: " + std::string(9000, 'a') + "\r\n", 431},
        {"header_count", "GET /ping HTTP/1.1\r\n" + many + "\r\n", 431},
        {"body", "POST /query HTTP/1.1\r\nContent-Length: 9000000\r\n\r\n", 413},
        {"chunked", "POST /query HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n", 411},
        {"within", "GET /ping HTTP/1.1\r\nX-Fine: " + std::string(8000, 'a') + "\r\n\r\n", 200},
    };
    for (const Limit &l : limits) {
        int fd = raw_connect(svc.url());
        ASSERT_GE(fd, 0);
        raw_send(fd, l.head);
        EXPECT_EQ(raw_read(fd, 10000).status, l.status) << l.name;
        close(fd);
    }
}

TEST(Hardening, StatementsStopAtTheDefaultTimeLimit) {
    DemoService svc({"--statement-timeout", "1"});
    ASSERT_FALSE(svc.url().empty());
    auto t0 = Clock::now();
    RawReply r = query(svc, kLong);
    EXPECT_EQ(r.status, 408) << r.body;
    EXPECT_NE(r.body.find("after 1 s"), std::string::npos) << r.body;
    EXPECT_LT(elapsed_ms(t0), 30000);
}

struct Flood {
    const char *name;
    std::string chunk;  // repeated after the request line
};

// An unauthenticated client sending 100 MB of headers is cut off early and
// the service's memory stays small.
TEST(Hardening, HeaderFloodIsCutOffBeforeCredentials) {
    DemoService svc({"--password", "pw"});
    ASSERT_FALSE(svc.url().empty());
    // Under AddressSanitizer the shadow and quarantine come on top, so the
    // growth is what is measured there.
#if defined(__SANITIZE_ADDRESS__)
    const long base_kib = status_kib(svc.pid(), "VmRSS");
#else
    const long base_kib = 0;
#endif
    const Flood floods[] = {
        {"one_long_line", std::string(1 << 20, 'a')},
        {"many_lines",
         [] {
             std::string s;
             while (s.size() < (1 << 20)) s += "X-Pad: " + std::string(90, 'b') + "\r\n";
             return s;
         }()},
    };
    for (const Flood &f : floods) {
        int fd = raw_connect(svc.url());
        ASSERT_GE(fd, 0);
        std::string start = "GET /ping HTTP/1.1\r\nHost: 127.0.0.1\r\n";
        if (f.name == std::string("one_long_line")) start += "X-Big: ";
        raw_send(fd, start);
        size_t sent = 0;
        while (sent < 100u * 1024 * 1024 && raw_send(fd, f.chunk)) sent += f.chunk.size();
        EXPECT_LT(sent, 100u * 1024 * 1024) << f.name << ": never cut off";
        close(fd);
        EXPECT_LT(status_kib(svc.pid(), "VmHWM") - base_kib, 64 * 1024) << f.name;
    }
    EXPECT_EQ(raw_request(svc.url(), "GET", "/ping?pwd=pw").status, 401);  // no header: refused
}

TEST(Hardening, HugeRowsAreCutAtTheReplyBound) {
    DemoService svc;
    ASSERT_FALSE(svc.url().empty());
    std::string sql = "select zeroblob(16000000)";
    for (int i = 1; i < 8; ++i) sql += ", zeroblob(16000000)";
    RawReply r = query(svc, sql + " union all select 1,2,3,4,5,6,7,8");
    ASSERT_EQ(r.status, 200) << r.body.substr(0, 200);
    EXPECT_LE(r.body.size(), 64u * 1024 * 1024);
    EXPECT_NE(r.body.find("\"truncated\":true"), std::string::npos);
    // The small row after a huge one is not reached; the reply stays whole.
    EXPECT_NE(r.body.find("\"rows\":[]"), std::string::npos);
}

std::string save(const DemoService &svc, const std::string &profile, int want = 200) {
    RawReply r = raw_request(svc.url(), "POST", "/connections?action=save", profile);
    EXPECT_EQ(r.status, want) << profile << ": " << r.body;
    return r.body;
}

TEST(Hardening, ProfileIdsStayUniqueAndInRange) {
    DemoService svc;
    ASSERT_FALSE(svc.url().empty());
    EXPECT_NE(save(svc, R"({"id":"2","name":"explicit","db":"shop"})").find("\"id\":\"2\""),
              std::string::npos);
    EXPECT_NE(save(svc, R"({"name":"counted","db":"shop"})").find("\"id\":\"3\""),
              std::string::npos);
    save(svc, R"({"id":"9223372036854775807","name":"huge"})", 400);
    svc.keep_data();
    std::string dir = svc.data_dir();
    svc.stop();

    // Out-of-range and repeated ids on disk: the file is kept aside and
    // the profiles that can be read are served.
    {
        std::ofstream out(dir + "/connections.json");
        out << R"([{"id":"1","name":"local","db":"shop"},)"
               R"({"id":"9223372036854775807","name":"huge"},{"id":"1","name":"again"}])";
    }
    DemoService again({}, dir);
    ASSERT_FALSE(again.url().empty()) << again.log();
    RawReply list = raw_request(again.url(), "GET", "/connections?action=list");
    EXPECT_EQ(list.body, R"({"columns":["id","name","db"],"rows":[["1","local","shop"]]})");
    EXPECT_NE(save(again, R"({"name":"next"})").find("\"id\":\"2\""), std::string::npos);
    EXPECT_NE(again.log().find("kept as " + dir + "/connections.json.corrupt-"), std::string::npos)
        << again.log();
}

// Writes on a read-only data folder fail as the service's own trouble (503),
// and start-up says so.
TEST(Hardening, ReadOnlyFolderAnswers503OnWrites) {
    std::string dir;
    {
        DemoService seed;
        ASSERT_FALSE(seed.url().empty()) << seed.log();
        seed.keep_data();
        dir = seed.data_dir();
    }
    // Writable again and gone however the test ends.
    struct Cleanup {
        std::string dir;
        ~Cleanup() {
            std::error_code ec;
            fs::permissions(dir, fs::perms::owner_all, ec);
            fs::remove_all(dir, ec);
        }
    } cleanup{dir};
    for (const auto &e : fs::directory_iterator(dir))
        fs::permissions(e.path(), fs::perms::owner_read | fs::perms::group_read);
    fs::permissions(dir, fs::perms::owner_read | fs::perms::owner_exec);
    DemoService svc({}, dir, true);
    svc.keep_data();
    ASSERT_FALSE(svc.url().empty()) << svc.log();
    EXPECT_NE(svc.log().find("read-only"), std::string::npos) << svc.log();
    struct Write {
        const char *method, *target, *body;
    } writes[] = {
        {"POST", "/connections?action=save", R"({"name":"x","db":"shop"})"},
        {"POST", "/query", R"({"db":"shop","sql":"update products set stock = 1"})"},
        {"POST", "/editgrid?action=apply",
         R"({"db":"shop","table":"products","updates":[{"rowid":1,"values":{"stock":2}}]})"},
        {"POST", "/storage?action=checkpoint", R"({"db":"shop"})"},
        {"POST", "/agent?action=toggle", R"({"job_id":"1"})"},
    };
    for (const Write &w : writes) {
        RawReply r = raw_request(svc.url(), w.method, w.target, w.body);
        EXPECT_EQ(r.status, 503) << w.target << ": " << r.body;
    }
}

TEST(Hardening, RequestLogHasOneLinePerRequestWithoutThePassword) {
    DemoService svc({"--password", "s3cret"});
    ASSERT_FALSE(svc.url().empty());
    raw_request(svc.url(), "GET", "/connections?action=list&pwd=s3cret");
    raw_request(svc.url(), "GET", "/nowhere");
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    std::string log = svc.log();
    EXPECT_NE(log.find(" GET /connections?action=list&pwd=* 401 "), std::string::npos) << log;
    EXPECT_NE(log.find(" GET /nowhere 401 "), std::string::npos) << log;
    EXPECT_EQ(log.find("s3cret"), std::string::npos) << log;

    DemoService quiet({"--quiet"});
    raw_request(quiet.url(), "GET", "/ping");
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(quiet.log().find("/ping"), std::string::npos) << quiet.log();
}

}  // namespace
}  // namespace tarn_test
