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
};

struct Service {
    Options opts;
    Profiles profiles;
    Registry running;
    ServiceLog log;
    Jobs jobs{opts.data_dir, running, log};
};

}  // namespace demo
