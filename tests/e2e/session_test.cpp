// Round trips through the demo service: stopping a running query from a
// second program, edit-grid changes, background jobs, saved profiles and a
// clean stop.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>

#include "demo_process.h"

namespace tarn_test {
namespace {

using Clock = std::chrono::steady_clock;

// Counts far past anything the test waits for; the 120 s limit only keeps
// a broken cancel from hanging the suite.
const char *const kLong =
    "with recursive n(i) as (select 1 union all select i + 1 from n where i < 4000000000)"
    " select count(*) from n";

// The spid of the running request whose preview line holds origin, once
// the activity view lists it (within 10 s); 0 if it never does.
int running_spid(const DemoService &svc, const std::string &origin) {
    for (auto until = Clock::now() + std::chrono::seconds(10); Clock::now() < until;) {
        RunResult a = svc.tarn({"activity", "local"});
        size_t at = a.out.find("\t" + origin + "\t");
        if (at != std::string::npos) {
            size_t line = a.out.rfind('\n', at);
            return atoi(a.out.c_str() + (line == std::string::npos ? 0 : line + 1));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return 0;
}

struct StopWay {
    const char *name;
    // The second program's words; "SPID" is replaced by the query's spid.
    std::vector<std::string> args;
};

class StopRunningQuery : public testing::TestWithParam<StopWay> {};

TEST_P(StopRunningQuery, EndsItEarlyWithAnError) {
    DemoService svc;
    ASSERT_FALSE(svc.url().empty());
    auto t0 = Clock::now();
    auto query = std::async(std::launch::async, [&] {
        return svc.tarn({"query", "local", "shop", kLong, "0", "120", "tok-e2e"});
    });
    int spid = running_spid(svc, "query");
    ASSERT_GT(spid, 0);
    std::vector<std::string> args = GetParam().args;
    for (auto &a : args)
        if (a == "SPID") a = std::to_string(spid);
    RunResult stop = svc.tarn(args);
    EXPECT_EQ(stop.status, 0) << stop.err;

    RunResult q = query.get();
    EXPECT_LT(Clock::now() - t0, std::chrono::seconds(15));
    EXPECT_EQ(q.status, 1);
    EXPECT_EQ(q.err, "ERROR: HTTP 409: query cancelled\n");
    EXPECT_NE(svc.tarn({"activity", "local"}).out.find("# grid: 0 rows"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(E2E, StopRunningQuery,
                         testing::Values(StopWay{"cancel_by_token", {"cancel", "local", "tok-e2e"}},
                                         StopWay{"cancel_by_spid",
                                                 {"cancel-spid", "local", "SPID"}},
                                         StopWay{"kill", {"kill", "local", "SPID"}}),
                         [](const testing::TestParamInfo<StopWay> &i) { return i.param.name; });

TEST(EditGrid, AppliesAChangeSetWholeOrNotAtAll) {
    DemoService svc;
    const std::string price = "select id, name, price from products where id in (1, 2) order by id";
    RunResult load = svc.tarn({"editgrid-load", "local", "shop", "main", "products", "2"});
    EXPECT_NE(load.out.find(R"("key":"rowid")"), std::string::npos);

    RunResult apply = svc.tarn({"editgrid-apply", R"({"server":"local","table":"products",
          "updates":[{"rowid":1,"values":{"price":1.25,"name":"renamed"}}],
          "inserts":[{"name":"new","category":"tea","price":3}],"deletes":[2]})"});
    EXPECT_EQ(apply.status, 0) << apply.err;
    EXPECT_NE(apply.out.find(R"("updated":1,"inserted":1,"deleted":1,"inserted_rowids":[121])"),
              std::string::npos)
        << apply.out;
    EXPECT_NE(svc.tarn({"query", "local", "shop", price})
                  .out.find("# grid: 1 rows x 3 cols\n1\trenamed\t1.25\n"),
              std::string::npos);

    // The second delete names a missing row: the update before it is undone.
    RunResult bad = svc.tarn({"editgrid-apply", R"({"db":"shop","table":"products",
          "updates":[{"rowid":1,"values":{"price":99}}],"deletes":[3,2]})"});
    EXPECT_EQ(bad.status, 1);
    EXPECT_NE(bad.err.find("HTTP 404: no row with rowid 2"), std::string::npos) << bad.err;
    RunResult after =
        svc.tarn({"query", "local", "shop", "select price from products where id in (1, 3)"});
    EXPECT_NE(after.out.find("# grid: 2 rows x 1 cols\n1.25\n"), std::string::npos) << after.out;
}

TEST(Jobs, RunInTheBackgroundAndAreRecorded) {
    DemoService svc;
    EXPECT_EQ(svc.tarn({"job", "local", "3", "start"}).status, 0);
    ASSERT_GT(running_spid(svc, "job 3"), 0);
    EXPECT_EQ(svc.tarn({"job", "local", "3", "start"}).status, 1);  // already running
    EXPECT_EQ(svc.tarn({"job", "local", "3", "stop"}).status, 0);
    EXPECT_EQ(svc.tarn({"job", "local", "1", "start"}).status, 0);

    std::string history;
    for (auto until = Clock::now() + std::chrono::seconds(10); Clock::now() < until;) {
        history = svc.tarn({"admin", "local", "history"}).out;
        if (history.find("running") == std::string::npos) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_NE(history.find("\tsucceeded\t5 rows, 0 changes\n"), std::string::npos) << history;
    EXPECT_NE(history.find("\tstopped\tquery cancelled\n"), std::string::npos) << history;

    EXPECT_EQ(svc.tarn({"job", "local", "1", "toggle"}).status, 0);
    RunResult disabled = svc.tarn({"job", "local", "1", "start"});
    EXPECT_NE(disabled.err.find("HTTP 409: job 1 is disabled"), std::string::npos);
}

TEST(Connections, SavedProfilesAreListedUsedAndDeleted) {
    DemoService svc;
    RunResult saved = svc.tarn({"save-connection", R"({"name":"copy","db":"shop","note":"x"})"});
    EXPECT_NE(saved.out.find(R"("id":"2")"), std::string::npos) << saved.out;
    EXPECT_NE(svc.tarn({"connections"}).out.find("2\tcopy\tshop\n"), std::string::npos);
    EXPECT_NE(svc.tarn({"query", "copy", "", "select count(*) from customers"}).out.find("\n400\n"),
              std::string::npos);
    EXPECT_EQ(svc.tarn({"delete-connection", "2"}).status, 0);
    EXPECT_EQ(svc.tarn({"connections"}).out.find("copy"), std::string::npos);
    EXPECT_EQ(svc.tarn({"query", "copy", "", "select 1"}).status, 1);
}

TEST(Service, StopsCleanlyMidQueryAndKeepsItsData) {
    std::string dir;
    {
        DemoService svc;
        dir = svc.data_dir();
        svc.keep_data();
        ASSERT_EQ(svc.tarn({"editgrid-apply", R"({"db":"shop","table":"customers","deletes":[1]})"})
                      .status,
                  0);
        auto query = std::async(std::launch::async, [&] {
            return svc.tarn({"query", "local", "shop", kLong, "0", "120"});
        });
        ASSERT_GT(running_spid(svc, "query"), 0);
        auto t0 = Clock::now();
        EXPECT_EQ(svc.stop(), 0);
        EXPECT_LT(Clock::now() - t0, std::chrono::seconds(5));
        EXPECT_EQ(query.get().status, 1);
    }
    DemoService again({}, dir);
    EXPECT_NE(again.tarn({"storage-post", "integrity_check", R"({"db":"shop"})"})
                  .out.find(R"("ok":true)"),
              std::string::npos);
    EXPECT_NE(again.tarn({"query", "local", "shop", "select count(*) from customers"})
                  .out.find("\n399\n"),
              std::string::npos);
}

}  // namespace
}  // namespace tarn_test
