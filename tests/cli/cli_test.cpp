// The tarn program end to end: command line and environment in, one HTTP
// request to a loopback service, and exactly these bytes and status out.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "run_program.h"
#include "support/test_server.h"

namespace tarn_test {
namespace {

const std::string kUsage = "see source header for usage; run --help-commands for the list\n";
const std::string kCommandList =
    "commands: ping connections save-connection delete-connection\n"
    " test-connection tree query cancel cancel-spid editgrid-load\n"
    " editgrid-apply script activity kill storage storage-post\n"
    " admin job  (each --host URL first; env TARN_HOST/TARN_NODE_PWD/TARN_NODE_JWT)\n";

Reply json_reply(int status, std::string body) {
    Reply r;
    r.status = status;
    r.body = std::move(body);
    r.headers.push_back({"Content-Type", "application/json"});
    return r;
}

class Cli : public ::testing::Test {
protected:
    void SetUp() override { server.set_default(json_reply(200, "{\"ok\":true}")); }

    RunResult run(std::vector<std::string> words, EnvChanges env = {}) {
        words.insert(words.begin(), {"--host", server.url()});
        return run_tarn(words, env);
    }

    TestServer server;
};

// ---- Words that never reach the service ------------------------------

TEST_F(Cli, UsageHelpAndUnknownWords) {
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string err;
    } cases[] = {
        {{}, 2, kUsage},
        {{"--host", "http://x"}, 2, kUsage},
        {{"--host", "http://x", "--host", "http://y"}, 2, kUsage},
        {{"--help"}, 0, kCommandList},
        {{"-h", "pong"}, 0, kCommandList},
        {{"help", "extra", "words"}, 0, kCommandList},
        {{"--help-commands"}, 0, kCommandList},
        {{"--host", "http://x", "help"}, 0, kCommandList},
        {{"-help"}, 2, "unknown/incomplete command: -help\n"},
        {{"HELP"}, 2, "unknown/incomplete command: HELP\n"},
        {{"Ping"}, 2, "unknown/incomplete command: Ping\n"},
        {{"--host"}, 2, "unknown/incomplete command: --host\n"},
        {{"tree", "srv"},
         2,
         "unknown/incomplete command: tree\nusage: tarn tree SERVER NODE_KIND [DB] [SCHEMA] "
         "[OBJ]\n"},
        {{"query", "srv", "db"},
         2,
         "unknown/incomplete command: query\n"
         "usage: tarn query SERVER DB SQL [MAX_ROWS] [TIMEOUT_S] [QUERY_TOKEN]\n"},
        {{"editgrid-load", "s", "d", "dbo"},
         2,
         "unknown/incomplete command: editgrid-load\n"
         "usage: tarn editgrid-load SERVER DB SCHEMA TABLE [TOP]\n"},
        {{"job", "s", "1"},
         2,
         "unknown/incomplete command: job\nusage: tarn job SERVER JOB_ID VERB\n"},
        {{"save-connection"},
         2,
         "unknown/incomplete command: save-connection\nusage: tarn save-connection PROFILE_JSON\n"},
    };
    for (const auto &c : cases) {
        std::string line;
        for (const auto &a : c.args) line += "[" + a + "]";
        RunResult r = run_tarn(c.args, {{"TARN_HOST", server.url()}});
        EXPECT_EQ(r.status, c.status) << line;
        EXPECT_EQ(r.err, c.err) << line;
        EXPECT_EQ(r.out, "") << line;
    }
    EXPECT_EQ(server.count(), 0U);
}

// ---- Every command word sends its request -----------------------------

TEST_F(Cli, EachCommandSendsItsRequest) {
    struct Case {
        std::vector<std::string> words;
        std::string method;
        std::string target;
        std::string body;
    } cases[] = {
        {{"ping"}, "GET", "/ping", ""},
        {{"connections"}, "GET", "/connections?action=list", ""},
        {{"save-connection", "{\"name\":\"a b\"}"},
         "POST",
         "/connections?action=save",
         "{\"name\":\"a b\"}"},
        {{"delete-connection", "p\"1"},
         "POST",
         "/connections?action=delete",
         "{\"id\":\"p\\\"1\"}"},
        {{"test-connection", "{}"}, "POST", "/connections?action=test", "{}"},
        {{"tree", "HOST\\INST", "k"}, "GET", "/tree?server=HOST%5CINST&node=k", ""},
        {{"tree", "s", "k", "", "dbo", "t 1"},
         "GET",
         "/tree?server=s&node=k&schema=dbo&obj=t%201",
         ""},
        {{"query", "s", "d", "select\t1"},
         "POST",
         "/query",
         "{\"server\":\"s\",\"db\":\"d\",\"sql\":\"select\\t1\"}"},
        {{"query", "s", "d", "q", "10", "", "tok"},
         "POST",
         "/query",
         "{\"server\":\"s\",\"db\":\"d\",\"sql\":\"q\",\"max_rows\":10,\"query_token\":\"tok\"}"},
        {{"query", "", "", "q", "5", "-3"},
         "POST",
         "/query",
         "{\"server\":\"\",\"db\":\"\",\"sql\":\"q\",\"max_rows\":5}"},
        {{"cancel", "s", "tok"},
         "POST",
         "/query?action=cancel",
         "{\"server\":\"s\",\"query_token\":\"tok\"}"},
        {{"cancel-spid", "s", "+42"},
         "POST",
         "/query?action=cancel",
         "{\"server\":\"s\",\"spid\":42}"},
        {{"editgrid-load", "s", "d", "dbo", "t"},
         "GET",
         "/editgrid?action=load&server=s&db=d&schema=dbo&table=t&top=200",
         ""},
        {{"editgrid-load", "s", "d", "dbo", "t", "0"},
         "GET",
         "/editgrid?action=load&server=s&db=d&schema=dbo&table=t",
         ""},
        {{"editgrid-apply", "[1]"}, "POST", "/editgrid?action=apply", "[1]"},
        {{"script", "s", "create", "table", "d", "dbo", "t"},
         "GET",
         "/script?server=s&action=create&kind=table&db=d&schema=dbo&obj=t",
         ""},
        {{"activity", "s"}, "GET", "/activity?server=s&action=sessions", ""},
        {{"activity", "s", "locks"}, "GET", "/activity?server=s&action=locks", ""},
        {{"kill", "s", "7"}, "POST", "/activity?action=kill", "{\"server\":\"s\",\"spid\":7}"},
        {{"storage", "s", "files"}, "GET", "/storage?server=s&action=files", ""},
        {{"storage", "s", "", "d"}, "GET", "/storage?server=s&action=files&db=d", ""},
        {{"storage-post", "shrink", "{\"db\":\"d\"}"},
         "POST",
         "/storage?action=shrink",
         "{\"db\":\"d\"}"},
        {{"admin", "s", "history", "", "42"},
         "GET",
         "/admin?server=s&action=history&job_id=42",
         ""},
        {{"admin", "s", "jobs", "d", "42"}, "GET", "/admin?server=s&action=jobs&db=d&extra=42", ""},
        {{"job", "s", "j1", "stop"},
         "POST",
         "/agent?action=stop",
         "{\"server\":\"s\",\"job_id\":\"j1\"}"},
        {{"job", "s", "j1", ""},
         "POST",
         "/agent?action=start",
         "{\"server\":\"s\",\"job_id\":\"j1\"}"},
    };
    for (const auto &c : cases) {
        server.clear();
        RunResult r = run(c.words);
        ASSERT_EQ(r.status, 0) << c.words[0] << ": " << r.err;
        EXPECT_EQ(r.out, "{\"ok\":true}\n") << c.words[0];
        ASSERT_EQ(server.count(), 1U) << c.words[0];
        Request req = server.last();
        EXPECT_EQ(req.method, c.method) << c.words[0];
        EXPECT_EQ(req.target, c.target) << c.words[0];
        EXPECT_EQ(without_generated_token(req.body), c.body) << c.words[0];
        EXPECT_EQ(req.has_header("Content-Type"), c.method == "POST") << c.words[0];
        if (c.method == "POST") {
            EXPECT_EQ(req.header("Content-Type"), "application/json");
        }
        EXPECT_EQ(req.header("User-Agent"), "drumvale-tarn-client/1.0");
        EXPECT_FALSE(req.has_header("X-Bot-Password"));
        EXPECT_FALSE(req.has_header("Authorization"));
    }
}

TEST_F(Cli, QueryWithoutATokenSendsAFreshGeneratedOne) {
    std::string tokens[2];
    for (std::string &token : tokens) {
        server.clear();
        ASSERT_EQ(run({"query", "s", "d", "q"}).status, 0);
        std::string body = server.last().body;
        // The generated token is the one difference from the body without it.
        ASSERT_NE(without_generated_token(body), body) << body;
        EXPECT_EQ(without_generated_token(body), "{\"server\":\"s\",\"db\":\"d\",\"sql\":\"q\"}");
        token = body.substr(body.rfind("tarn-"), 21);
    }
    EXPECT_NE(tokens[0], tokens[1]);
}

TEST_F(Cli, ValueChecksFailWithoutSending) {
    struct Case {
        std::vector<std::string> words;
        std::string err;
    } cases[] = {
        {{"kill", "s", "0"}, "ERROR: spid must be > 0\n"},
        {{"cancel-spid", "s", "-1"}, "ERROR: spid must be > 0\n"},
        {{"job", "s", "j1", "Start"}, "ERROR: verb must be start|stop|enable|disable|toggle\n"},
        {{"job", "s", "", "restart"}, "ERROR: job_id is required\n"},
        {{"tree", "s", ""}, "ERROR: node_kind is required\n"},
        {{"query", "s", "d", ""}, "ERROR: sql is required\n"},
        {{"storage-post", "", ""}, "ERROR: action is required\n"},
        {{"storage-post", "a", ""}, "ERROR: json_body is required\n"},
        {{"admin", "s", ""}, "ERROR: action is required\n"},
    };
    for (const auto &c : cases) {
        RunResult r = run(c.words);
        EXPECT_EQ(r.status, 1) << c.err;
        EXPECT_EQ(r.err, c.err);
        EXPECT_EQ(r.out, "");
    }
    EXPECT_EQ(server.count(), 0U);
}

// ---- Host and credentials ---------------------------------------------

TEST_F(Cli, HostPairsMayStandAnywhereAndTheLastWins) {
    TestServer other;
    other.set_default(json_reply(200, "other"));
    RunResult r =
        run_tarn({"--host", "http://127.0.0.1:1", "tree", "--host", server.url(), "s", "k"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(server.last().target, "/tree?server=s&node=k");

    // "--host" last on the line is an ordinary extra word after ping.
    r = run_tarn({"--host", other.url(), "ping", "--host"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "other\n");

    // An empty --host value falls back to TARN_HOST; trailing slashes go.
    r = run_tarn({"--host", "", "ping"}, {{"TARN_HOST", other.url() + "//"}});
    EXPECT_EQ(r.out, "other\n");
    EXPECT_EQ(other.last().target, "/ping");

    // A --host value that looks like an option is still taken as the URL.
    r = run_tarn({"--host", "-x", "ping"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.rfind("ERROR: ", 0), 0U) << r.err;
}

TEST_F(Cli, CredentialsComeFromTheEnvironment) {
    RunResult r = run({"ping"}, {{"TARN_NODE_PWD", "p w&d"}, {"TARN_NODE_JWT", "tok.en"}});
    ASSERT_EQ(r.status, 0) << r.err;
    Request req = server.last();
    EXPECT_EQ(req.target, "/ping?pwd=p%20w%26d");
    EXPECT_EQ(req.header("X-Bot-Password"), "p w&d");
    EXPECT_EQ(req.header("Authorization"), "Bearer tok.en");

    // Present but empty clears them.
    r = run({"connections"}, {{"TARN_NODE_PWD", ""}, {"TARN_NODE_JWT", ""}});
    ASSERT_EQ(r.status, 0) << r.err;
    req = server.last();
    EXPECT_EQ(req.target, "/connections?action=list");
    EXPECT_FALSE(req.has_header("X-Bot-Password"));
    EXPECT_FALSE(req.has_header("Authorization"));

    // A line break in a credential would forge header lines: nothing is sent.
    server.clear();
    r = run({"ping"}, {{"TARN_NODE_PWD", "x\r\nX-Admin: 1"}});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "ERROR: password contains a control character\n");
    r = run({"ping"}, {{"TARN_NODE_JWT", "a\nb"}});
    EXPECT_EQ(r.err, "ERROR: token contains a control character\n");
    EXPECT_EQ(server.count(), 0U);
}

// ---- What comes back ----------------------------------------------------

std::string grid_json(int rows, int cols) {
    std::string s = "{\"rows\":[";
    for (int r = 0; r < rows; ++r) {
        s += r ? ",[" : "[";
        for (int c = 0; c < cols; ++c) {
            if (c) s += ',';
            s += std::to_string(r * 100 + c);
        }
        s += "]";
    }
    return s + "]}";
}

std::string preview(int rows, int cols, int show_rows, int show_cols) {
    std::string s =
        "# grid: " + std::to_string(rows) + " rows x " + std::to_string(cols) + " cols\n";
    for (int r = 0; r < show_rows; ++r) {
        for (int c = 0; c < show_cols; ++c) {
            if (c) s += '\t';
            s += std::to_string(r * 100 + c);
        }
        s += "\n";
    }
    return s;
}

TEST_F(Cli, PrintsTheReplyAndAGridPreview) {
    struct Case {
        std::string body;
        std::string out;
    } cases[] = {
        {"{\"ok\":true}", "{\"ok\":true}\n"},
        {"not json", "not json\n"},
        {"", "\n"},
        {grid_json(2, 3), grid_json(2, 3) + "\n" + preview(2, 3, 2, 3)},
        {grid_json(25, 40), grid_json(25, 40) + "\n" + preview(25, 40, 20, 32)},
        {"{\"columns\":[],\"rows\":[{},{},{}]}",
         "{\"columns\":[],\"rows\":[{},{},{}]}\n# grid: 3 rows x 0 cols\n\n\n\n"},
        {"{\"rows\":[]}", "{\"rows\":[]}\n# grid: 0 rows x 0 cols\n"},
        {"{\"columns\":[\"a\",\"b\"],\"rows\":[{\"b\":\"x\",\"a\":null},[true,{\"k\":[1]}]]}",
         "{\"columns\":[\"a\",\"b\"],\"rows\":[{\"b\":\"x\",\"a\":null},[true,{\"k\":[1]}]]}\n"
         "# grid: 2 rows x 2 cols\n\tx\ntrue\t{\"k\":[1]}\n"},
    };
    for (const auto &c : cases) {
        server.queue(json_reply(200, c.body));
        RunResult r = run({"query", "s", "d", "select 1"});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.err, "");
    }
}

TEST_F(Cli, FailuresPrintOneErrorLine) {
    struct Case {
        Reply reply;
        std::string err;
    } cases[] = {
        {json_reply(500, "{\"error\":\"login failed\"}"), "ERROR: HTTP 500: login failed\n"},
        {json_reply(404, "{\"error\":\"\"}"), "ERROR: HTTP 404\n"},
        {json_reply(409, "[\"error\"]"), "ERROR: HTTP 409\n"},
        {json_reply(503, "<html>busy</html>"), "ERROR: HTTP 503\n"},
    };
    for (const auto &c : cases) {
        server.queue(c.reply);
        RunResult r = run({"ping"});
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, c.err);
        EXPECT_EQ(r.out, "");
    }
}

TEST_F(Cli, AdminFallsBackToTheViewsOwnPath) {
    server.route("/admin", json_reply(404, "{\"error\":\"no admin\"}"));
    server.route("/security", json_reply(200, "{\"rows\":[[\"sa\"]]}"));
    RunResult r = run({"admin", "s", "logins"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "{\"rows\":[[\"sa\"]]}\n# grid: 1 rows x 1 cols\nsa\n");
    auto reqs = server.requests();
    ASSERT_EQ(reqs.size(), 2U);
    EXPECT_EQ(reqs[0].target, "/admin?server=s&action=logins");
    EXPECT_EQ(reqs[1].target, "/security?server=s&action=logins");

    server.clear();
    r = run({"admin", "s", "widgets"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "ERROR: HTTP 404: no admin\n");
    EXPECT_EQ(server.count(), 1U);
}

TEST(CliTransport, RefusedConnectionIsATransportError) {
    std::string url;
    {
        TestServer gone;  // a port that was just free and is closed again
        url = gone.url();
    }
    RunResult r = run_tarn({"--host", url, "ping"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "ERROR: WinHttpSendRequest failed\n");
    EXPECT_EQ(r.out, "");
}

}  // namespace
}  // namespace tarn_test
