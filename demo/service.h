// What every route shares: options, profiles, running statements, jobs
// and the service's own logs.
#pragma once

#include <string>

#include "jobs.h"
#include "profiles.h"
#include "query_runner.h"
#include "service_log.h"

namespace demo {

struct Options {
    std::string host = "127.0.0.1";
    int port = 8180;
    std::string data_dir;
    std::string password;
    std::string token;
    bool quiet = false;             // no request log on stderr
    int statement_timeout_s = 300;  // for statements that set none; 0 for none
};

struct Service {
    Options opts;
    Profiles profiles;
    Registry running;
    ServiceLog log;
    Jobs jobs{opts.data_dir, opts.statement_timeout_s, running, log};
};

}  // namespace demo
