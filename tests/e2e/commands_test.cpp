// Every command word of the program against the demo service: replies,
// grids and exit statuses, with and without credentials.
#include <gtest/gtest.h>

#include <memory>

#include "demo_process.h"

namespace tarn_test {
namespace {

const char *const kLong =
    "with recursive n(i) as (select 1 union all select i + 1 from n where i < 2000000000)"
    " select count(*) from n";

struct Case {
    const char *name;
    std::vector<std::string> args;
    int status;
    const char *out;  // text standard output holds, or nullptr
    const char *err;  // text standard error holds, or nullptr
};

// Each command word at least once, answered and refused.
const Case kCases[] = {
    {"ping", {"ping"}, 0, "\"ok\":true", nullptr},
    {"connections", {"connections"}, 0, "# grid: 1 rows x 3 cols\n1\tlocal\tshop\n", nullptr},
    {"save_connection",
     {"save-connection", R"({"name":"e2e","db":"shop"})"},
     0,
     "\"id\":\"2\"",
     nullptr},
    {"save_not_json", {"save-connection", "{name"}, 1, nullptr, "HTTP 400"},
    {"test_connection",
     {"test-connection", R"({"name":"t","db":"shop"})"},
     0,
     "\"ok\":true",
     nullptr},
    {"test_connection_missing_db",
     {"test-connection", R"({"name":"t","db":"gone"})"},
     1,
     nullptr,
     "HTTP 422"},
    {"delete_unknown_connection", {"delete-connection", "77"}, 1, nullptr, "HTTP 404"},
    {"tree_tables",
     {"tree", "local", "tables", "shop"},
     0,
     "# grid: 4 rows x 3 cols\nmain\tcustomers\ttable\n",
     nullptr},
    {"tree_views",
     {"tree", "local", "views", "shop", "main"},
     0,
     "main\torder_totals\tview",
     nullptr},
    {"tree_columns",
     {"tree", "local", "columns", "shop", "main", "orders"},
     0,
     "1\tcustomer_id\tINTEGER\t1\t\t0",
     nullptr},
    {"tree_indexes",
     {"tree", "local", "indexes", "shop", "main", "orders"},
     0,
     "orders_by_customer\torders",
     nullptr},
    {"tree_unknown_kind", {"tree", "local", "leaves", "shop"}, 1, nullptr, "HTTP 400"},
    {"tree_unknown_server", {"tree", "elsewhere", "tables"}, 1, nullptr, "HTTP 404"},
    {"query_count",
     {"query", "local", "shop", "select count(*) from orders"},
     0,
     "# grid: 1 rows x 1 cols\n2000\n",
     nullptr},
    {"query_last_statement_grid",
     {"query", "local", "shop", "select 1 as a; select 2, 3"},
     0,
     "# grid: 1 rows x 2 cols\n2\t3\n",
     nullptr},
    {"query_max_rows",
     {"query", "local", "shop", "select id from customers", "5"},
     0,
     "\"truncated\":true",
     nullptr},
    {"query_sql_error",
     {"query", "local", "shop", "select * from nope"},
     1,
     nullptr,
     "HTTP 400: no such table: nope"},
    {"query_attach_refused",
     {"query", "local", "shop", "attach '/tmp/x.db' as x"},
     1,
     nullptr,
     "not authorized"},
    {"query_timeout",
     {"query", "local", "shop", kLong, "0", "1"},
     1,
     nullptr,
     "HTTP 408: query timed out after 1 s"},
    {"cancel_unknown_token", {"cancel", "local", "no-such-token"}, 1, nullptr, "HTTP 404"},
    {"cancel_spid_unknown", {"cancel-spid", "local", "99999"}, 1, nullptr, "HTTP 404"},
    {"editgrid_load",
     {"editgrid-load", "local", "shop", "main", "products", "3"},
     0,
     "# grid: 3 rows x 6 cols\n1\t1\t",
     nullptr},
    {"editgrid_apply_not_json", {"editgrid-apply", "[1,2]"}, 1, nullptr, "HTTP 400"},
    {"script_create",
     {"script", "local", "create", "table", "shop", "main", "orders"},
     0,
     "CREATE TABLE orders",
     nullptr},
    {"script_select",
     {"script", "local", "select", "view", "shop", "main", "order_totals"},
     0,
     R"(SELECT \"order_id\")",
     nullptr},
    {"script_unknown_object",
     {"script", "local", "create", "table", "shop", "main", "x"},
     1,
     nullptr,
     "HTTP 404"},
    {"activity", {"activity", "local"}, 0, "# grid: 0 rows x 7 cols", nullptr},
    {"kill_unknown", {"kill", "local", "99999"}, 1, nullptr, "HTTP 404"},
    {"storage_files", {"storage", "local", "files"}, 0, "shop\tshop.db\t", nullptr},
    {"storage_unknown_view", {"storage", "local", "pages"}, 1, nullptr, "HTTP 400"},
    {"storage_integrity",
     {"storage-post", "integrity_check", R"({"db":"shop"})"},
     0,
     "\"ok\":true",
     nullptr},
    {"storage_checkpoint",
     {"storage-post", "checkpoint", R"({"db":"shop"})"},
     0,
     "\"busy\":0",
     nullptr},
    {"storage_vacuum",
     {"storage-post", "vacuum", R"({"db":"shop"})"},
     0,
     "\"size_after\"",
     nullptr},
    {"storage_unknown_action",
     {"storage-post", "shrink", R"({"db":"shop"})"},
     1,
     nullptr,
     "HTTP 400"},
    {"admin_jobs_fallback",
     {"admin", "local", "jobs"},
     0,
     "3\tlong_scan\tshop\ttrue\tfalse",
     nullptr},
    {"admin_roles_fallback", {"admin", "local", "server_roles"}, 0, "# grid:", nullptr},
    {"admin_errorlog_fallback", {"admin", "local", "errorlog"}, 0, "\tGET\t/", nullptr},
    {"admin_querystore_fallback",
     {"admin", "local", "querystore"},
     0,
     R"({"columns":["sql","runs","failures")",
     nullptr},
    {"admin_no_fallback", {"admin", "local", "waits"}, 1, nullptr, "HTTP 404"},
    {"job_start", {"job", "local", "1", "start"}, 0, "\"run_id\":1", nullptr},
    {"job_unknown", {"job", "local", "99", "start"}, 1, nullptr, "HTTP 404"},
    {"job_stop_idle", {"job", "local", "2", "stop"}, 1, nullptr, "HTTP 409"},
    {"job_disable", {"job", "local", "2", "disable"}, 0, "\"enabled\":false", nullptr},
};

void expect_case(const Case &c, const RunResult &r) {
    EXPECT_EQ(r.status, c.status) << r.out << r.err;
    if (c.out != nullptr) {
        EXPECT_NE(r.out.find(c.out), std::string::npos) << r.out;
    }
    if (c.err != nullptr) {
        EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
    }
}

const EnvChanges kCredentials = {{"TARN_NODE_PWD", "pw&=?"}, {"TARN_NODE_JWT", "tk.e2e"}};

class Commands : public testing::TestWithParam<Case> {
protected:
    static void SetUpTestSuite() {
        open_ = std::make_unique<DemoService>();
        secured_ = std::make_unique<DemoService>(
            std::vector<std::string>{"--password", "pw&=?", "--token", "tk.e2e"});
    }
    static void TearDownTestSuite() {
        open_.reset();
        secured_.reset();
    }
    static std::unique_ptr<DemoService> open_;
    static std::unique_ptr<DemoService> secured_;
};
std::unique_ptr<DemoService> Commands::open_;
std::unique_ptr<DemoService> Commands::secured_;

TEST_P(Commands, AnswersWithoutCredentialsWhenOpen) {
    ASSERT_FALSE(open_->url().empty());
    expect_case(GetParam(), open_->tarn(GetParam().args));
}

TEST_P(Commands, AnswersTheSameWithCredentials) {
    ASSERT_FALSE(secured_->url().empty());
    expect_case(GetParam(), secured_->tarn(GetParam().args, kCredentials));
}

// A request without every credential the service wants never reaches a
// route: each refused with 401 and its reason.
TEST_P(Commands, RefusedWithoutCredentials) {
    ASSERT_FALSE(secured_->url().empty());
    const EnvChanges partial[] = {
        {},
        {{"TARN_NODE_PWD", "pw&=?"}},
        {{"TARN_NODE_JWT", "tk.e2e"}},
        {{"TARN_NODE_PWD", "wrong"}, {"TARN_NODE_JWT", "tk.e2e"}},
    };
    for (const EnvChanges &env : partial) {
        RunResult r = secured_->tarn(GetParam().args, env);
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find("HTTP 401: a valid"), std::string::npos) << r.err;
    }
}

INSTANTIATE_TEST_SUITE_P(E2E, Commands, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<Case> &i) { return i.param.name; });

// What the service says about its credentials depends on them.
TEST(Security, LoginsListTheConfiguredCredentials) {
    DemoService open;
    EXPECT_NE(open.tarn({"admin", "local", "logins"}).out.find("# grid: 0 rows x 2 cols"),
              std::string::npos);
    DemoService secured({"--password", "pw&=?", "--token", "tk.e2e"});
    RunResult r = secured.tarn({"admin", "local", "logins"}, kCredentials);
    EXPECT_NE(r.out.find("node-password\tpassword\nbearer-token\ttoken\n"), std::string::npos)
        << r.out;
}

}  // namespace
}  // namespace tarn_test
