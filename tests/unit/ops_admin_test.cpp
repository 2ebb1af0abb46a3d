// Edit grid, script, activity, storage, administration and job operations:
// the exact requests, the admin fallback paths and the refused arguments.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "client/state.h"
#include "support/client_test.h"
#include "support/fake_io.h"

namespace {

using tarn_test::ClientTest;
using tarn_test::FakeIo;
using tarn_test::reply;

constexpr const char *kGrid = R"({"rows":[[1]]})";

using AdminOpsTest = ClientTest;

struct RequestCase {
    const char *what;
    std::function<int()> op;
    const char *method;
    std::string url;
    std::string body;
};

TEST_F(AdminOpsTest, ExactRequests) {
    const RequestCase cases[] = {
        {"load, table only",
         [] { return tarn_client_editgrid_load(nullptr, nullptr, nullptr, "t", 0); }, "GET",
         "http://h/editgrid?action=load&table=t", ""},
        {"load, all", [] { return tarn_client_editgrid_load("s", "d", "sc", "t", 200); }, "GET",
         "http://h/editgrid?action=load&server=s&db=d&schema=sc&table=t&top=200", ""},
        {"load, negative top", [] { return tarn_client_editgrid_load("", "", "", "t b", -3); },
         "GET", "http://h/editgrid?action=load&table=t%20b", ""},
        {"apply", [] { return tarn_client_editgrid_apply(R"({"changes":[]})"); }, "POST",
         "http://h/editgrid?action=apply", R"({"changes":[]})"},
        {"apply passes bytes through", [] { return tarn_client_editgrid_apply("x\x01\n"); }, "POST",
         "http://h/editgrid?action=apply", "x\x01\n"},
        {"script, action only",
         [] { return tarn_client_script(nullptr, "create", nullptr, nullptr, nullptr, nullptr); },
         "GET", "http://h/script?action=create", ""},
        {"script, all", [] { return tarn_client_script("s", "alter", "proc", "d", "sc", "o"); },
         "GET", "http://h/script?server=s&action=alter&kind=proc&db=d&schema=sc&obj=o", ""},
        {"script, empties", [] { return tarn_client_script("", "a b", "", "d", "", ""); }, "GET",
         "http://h/script?action=a%20b&db=d", ""},
        {"activity, defaults", [] { return tarn_client_activity(nullptr, nullptr); }, "GET",
         "http://h/activity?action=sessions", ""},
        {"activity, empty strings", [] { return tarn_client_activity("", ""); }, "GET",
         "http://h/activity?action=sessions", ""},
        {"activity, all", [] { return tarn_client_activity("HOST\\I", "locks"); }, "GET",
         "http://h/activity?server=HOST%5CI&action=locks", ""},
        {"kill", [] { return tarn_client_activity_kill("s", 12); }, "POST",
         "http://h/activity?action=kill", R"({"server":"s","spid":12})"},
        {"kill, no server", [] { return tarn_client_activity_kill(nullptr, 1); }, "POST",
         "http://h/activity?action=kill", R"({"server":"","spid":1})"},
        {"storage, defaults", [] { return tarn_client_storage(nullptr, nullptr, nullptr); }, "GET",
         "http://h/storage?action=files", ""},
        {"storage, db after action", [] { return tarn_client_storage("", "", "d"); }, "GET",
         "http://h/storage?action=files&db=d", ""},
        {"storage, all", [] { return tarn_client_storage("s", "vlf", "d"); }, "GET",
         "http://h/storage?server=s&action=vlf&db=d", ""},
        {"storage_post", [] { return tarn_client_storage_post("shrink", R"({"db":"d"})"); }, "POST",
         "http://h/storage?action=shrink", R"({"db":"d"})"},
        {"storage_post, encoded", [] { return tarn_client_storage_post("a&b=c", "{}"); }, "POST",
         "http://h/storage?action=a%26b%3Dc", "{}"},
        {"storage_post, blank", [] { return tarn_client_storage_post("a b", "{}"); }, "POST",
         "http://h/storage?action=a%20b", "{}"},
        {"admin, action only", [] { return tarn_client_admin(nullptr, "jobs", nullptr, nullptr); },
         "GET", "http://h/admin?action=jobs", ""},
        {"admin, history", [] { return tarn_client_admin("s", "history", "d", "42"); }, "GET",
         "http://h/admin?server=s&action=history&db=d&job_id=42", ""},
        {"admin, jobs extra", [] { return tarn_client_admin("s", "jobs", "", "42"); }, "GET",
         "http://h/admin?server=s&action=jobs&extra=42", ""},
        {"admin, other extra", [] { return tarn_client_admin("", "custom", "d", "x y"); }, "GET",
         "http://h/admin?action=custom&db=d&extra=x%20y", ""},
        {"job, default verb", [] { return tarn_client_job_control(nullptr, "J1", nullptr); },
         "POST", "http://h/agent?action=start", R"({"server":"","job_id":"J1"})"},
        {"job, empty verb", [] { return tarn_client_job_control("s", "J1", ""); }, "POST",
         "http://h/agent?action=start", R"({"server":"s","job_id":"J1"})"},
        {"job, escaped", [] { return tarn_client_job_control("a\\b", "j\"1", "stop"); }, "POST",
         "http://h/agent?action=stop", R"({"server":"a\\b","job_id":"j\"1"})"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        expect_request(c.op, c.method, c.url, c.body);
    }
}

TEST_F(AdminOpsTest, EveryJobVerbIsSent) {
    for (const char *verb : {"start", "stop", "enable", "disable", "toggle"}) {
        io_.push(reply(200, "{}"));
        ASSERT_EQ(tarn_client_job_control("s", "J", verb), 0) << verb;
        EXPECT_EQ(io_.last().url, std::string("http://h/agent?action=") + verb);
        EXPECT_EQ(io_.last().body, R"({"server":"s","job_id":"J"})");
    }
}

struct RejectCase {
    const char *what;
    std::function<int()> op;
    const char *error;
};

TEST_F(AdminOpsTest, RejectedArgumentsSendNothingAndLeaveNoResult) {
    constexpr const char *kVerbError = "verb must be start|stop|enable|disable|toggle";
    const RejectCase cases[] = {
        {"load", [] { return tarn_client_editgrid_load("s", "d", "sc", nullptr, 5); },
         "table is required"},
        {"load empty", [] { return tarn_client_editgrid_load("s", "d", "sc", "", 5); },
         "table is required"},
        {"apply", [] { return tarn_client_editgrid_apply(nullptr); }, "apply_json is required"},
        {"apply empty", [] { return tarn_client_editgrid_apply(""); }, "apply_json is required"},
        {"script", [] { return tarn_client_script("s", nullptr, "k", "d", "sc", "o"); },
         "action is required"},
        {"script empty", [] { return tarn_client_script("s", "", "k", "d", "sc", "o"); },
         "action is required"},
        {"kill 0", [] { return tarn_client_activity_kill("s", 0); }, "spid must be > 0"},
        {"kill -1", [] { return tarn_client_activity_kill("s", -1); }, "spid must be > 0"},
        {"storage_post both", [] { return tarn_client_storage_post(nullptr, nullptr); },
         "action is required"},
        {"storage_post both empty", [] { return tarn_client_storage_post("", ""); },
         "action is required"},
        {"storage_post action", [] { return tarn_client_storage_post(nullptr, "{}"); },
         "action is required"},
        {"storage_post body", [] { return tarn_client_storage_post("a", nullptr); },
         "json_body is required"},
        {"storage_post body empty", [] { return tarn_client_storage_post("a", ""); },
         "json_body is required"},
        {"admin", [] { return tarn_client_admin("s", nullptr, "d", "e"); }, "action is required"},
        {"admin empty", [] { return tarn_client_admin("s", "", "d", "e"); }, "action is required"},
        {"job", [] { return tarn_client_job_control("s", nullptr, "stop"); }, "job_id is required"},
        {"job empty", [] { return tarn_client_job_control("s", "", nullptr); },
         "job_id is required"},
        {"job and verb", [] { return tarn_client_job_control("s", nullptr, "restart"); },
         "job_id is required"},
        {"Start", [] { return tarn_client_job_control("s", "J", "Start"); }, kVerbError},
        {"restart", [] { return tarn_client_job_control("s", "J", "restart"); }, kVerbError},
        {"start blank", [] { return tarn_client_job_control("s", "J", "start "); }, kVerbError},
        {"prefix", [] { return tarn_client_job_control("s", "J", "sto"); }, kVerbError},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        expect_rejected(c.op, c.error);
    }
}

const struct {
    const char *action;
    const char *path;
} kFallbacks[] = {
    {"jobs", "/agent"},        {"history", "/agent"},
    {"logins", "/security"},   {"server_roles", "/security"},
    {"db_users", "/security"}, {"permissions", "/security"},
    {"errorlog", "/logs"},     {"agentlog", "/logs"},
    {"querystore", "/logs"},
};

TEST_F(AdminOpsTest, FallbackServesTheViewWhenAdminFails) {
    const std::string fallback_reply = R"({"columns":["n"],"rows":[["fb"],["x"]]})";
    for (const auto &f : kFallbacks) {
        SCOPED_TRACE(f.action);
        io_.clear_calls();
        io_.push(reply(500, R"({"error":"no admin"})"));
        io_.push(reply(200, fallback_reply));
        ASSERT_EQ(tarn_client_admin("s", f.action, nullptr, "7"), 0);
        EXPECT_STREQ(tarn_client_last_error(), "");
        EXPECT_EQ(tarn_client_result(), fallback_reply);
        EXPECT_EQ(tarn_client_row_count(), 2);
        EXPECT_STREQ(tarn_client_cell(0, 0), "fb");
        ASSERT_EQ(io_.calls().size(), 2U);
        const std::string query = std::string("?server=s&action=") + f.action +
                                  (std::string(f.action) == "history" ? "&job_id=7" : "&extra=7");
        EXPECT_EQ(io_.calls()[0].url, "http://h/admin" + query);
        EXPECT_EQ(io_.calls()[1].method, "GET");
        EXPECT_EQ(io_.calls()[1].url, "http://h" + std::string(f.path) + query);
        EXPECT_FALSE(io_.calls()[1].has_headers);
    }
}

TEST_F(AdminOpsTest, FallbackFailureReportsTheFallbacksError) {
    for (const auto &f : kFallbacks) {
        SCOPED_TRACE(f.action);
        io_.clear_calls();
        io_.push(tarn_test::failure("admin unreachable"));
        io_.push(reply(404, R"({"error":"gone"})"));
        EXPECT_EQ(tarn_client_admin(nullptr, f.action, nullptr, nullptr), -1);
        EXPECT_STREQ(tarn_client_last_error(), "HTTP 404: gone");
        EXPECT_STREQ(tarn_client_result(), "");
        EXPECT_EQ(tarn_client_row_count(), -1);
        EXPECT_EQ(io_.calls().size(), 2U);
    }
}

TEST_F(AdminOpsTest, OtherWordsHaveNoFallback) {
    for (const char *action : {"custom", "Jobs", "history ", "security", "logs"}) {
        SCOPED_TRACE(action);
        io_.clear_calls();
        io_.push(reply(500, R"({"error":"no admin"})"));
        EXPECT_EQ(tarn_client_admin(nullptr, action, nullptr, nullptr), -1);
        EXPECT_STREQ(tarn_client_last_error(), "HTTP 500: no admin");
        EXPECT_EQ(io_.calls().size(), 1U);
    }
}

TEST_F(AdminOpsTest, EachRequestGetsThePasswordOnce) {
    tarn_client_set_password("p w");
    io_.push(reply(503, ""));
    io_.push(reply(200, "{}"));
    ASSERT_EQ(tarn_client_admin(nullptr, "errorlog", nullptr, nullptr), 0);
    ASSERT_EQ(io_.calls().size(), 2U);
    EXPECT_EQ(io_.calls()[0].url, "http://h/admin?action=errorlog&pwd=p%20w");
    EXPECT_EQ(io_.calls()[1].url, "http://h/logs?action=errorlog&pwd=p%20w");
    EXPECT_EQ(io_.calls()[1].headers, "X-Bot-Password: p w");
}

TEST_F(AdminOpsTest, ServiceFailuresPassThrough) {
    const std::function<int()> ops[] = {
        [] { return tarn_client_editgrid_load(nullptr, nullptr, nullptr, "t", 0); },
        [] { return tarn_client_editgrid_apply("{}"); },
        [] { return tarn_client_script(nullptr, "create", nullptr, nullptr, nullptr, nullptr); },
        [] { return tarn_client_activity(nullptr, nullptr); },
        [] { return tarn_client_activity_kill(nullptr, 1); },
        [] { return tarn_client_storage(nullptr, nullptr, nullptr); },
        [] { return tarn_client_storage_post("a", "{}"); },
        [] { return tarn_client_admin(nullptr, "custom", nullptr, nullptr); },
        [] { return tarn_client_job_control(nullptr, "J", nullptr); },
    };
    for (const auto &op : ops) expect_outcomes_pass_through(op, "");
    EXPECT_EQ(io_.calls().size(), 3 * std::size(ops));
}

}  // namespace
