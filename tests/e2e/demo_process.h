// The demo service run as a child process on a free loopback port with a
// temporary data folder of its own.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "cli/run_program.h"

namespace tarn_test {

class DemoService {
public:
    // Starts the service with extra options (such as --password); an empty
    // url() afterwards means it did not come up. data_dir reuses a folder.
    // bound_by_modes takes from a root service the capabilities that
    // override file modes, so a read-only folder binds it as any user.
    explicit DemoService(const std::vector<std::string> &options = {},
                         const std::string &data_dir = "", bool bound_by_modes = false);
    ~DemoService();
    DemoService(const DemoService &) = delete;
    DemoService &operator=(const DemoService &) = delete;

    const std::string &url() const { return url_; }
    const std::string &data_dir() const { return dir_; }
    pid_t pid() const { return pid_; }
    // What the service wrote on standard error so far.
    std::string log() const;
    // Sends SIGTERM and waits at most limit_s seconds; the exit status, or
    // -1 when it did not exit normally in time (it is then killed).
    int stop(int limit_s = 10);
    // Keeps the data folder when the service stops (for a restart on it).
    void keep_data() { keep_ = true; }

    // tarn ARGS against this service, with extra environment.
    RunResult tarn(const std::vector<std::string> &args, EnvChanges env = {}) const;

private:
    pid_t pid_ = -1;
    std::string url_;
    std::string dir_;
    std::string log_;
    bool keep_ = false;
};

}  // namespace tarn_test
