#include "demo_process.h"

#include <fcntl.h>
#include <linux/capability.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace tarn_test {
namespace {

// Takes CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH and CAP_FOWNER out of the
// bounding set, so the program this process executes keeps root's uid but
// no longer passes over file modes.
bool drop_mode_overrides() {
    for (int cap : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH, CAP_FOWNER})
        if (prctl(PR_CAPBSET_DROP, cap, 0, 0, 0) != 0) return false;
    return true;
}

}  // namespace

DemoService::DemoService(const std::vector<std::string> &options, const std::string &data_dir,
                         bool bound_by_modes) {
    if (data_dir.empty()) {
        std::string tmpl = (std::filesystem::temp_directory_path() / "tarn-e2e-XXXXXX").string();
        if (mkdtemp(tmpl.data()) == nullptr) return;
        dir_ = tmpl;
    } else {
        dir_ = data_dir;
    }
    std::string log_tmpl =
        (std::filesystem::temp_directory_path() / "tarn-e2e-log-XXXXXX").string();
    int log_fd = mkostemp(log_tmpl.data(), O_CLOEXEC);
    if (log_fd < 0) return;
    log_ = log_tmpl;
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) return;
    std::vector<std::string> args = {TARN_DEMO_SERVICE, "--listen", "127.0.0.1:0", "--data", dir_};
    args.insert(args.end(), options.begin(), options.end());
    pid_ = fork();
    if (pid_ == 0) {
        dup2(out[1], STDOUT_FILENO);
        dup2(log_fd, STDERR_FILENO);
        close(out[0]);
        close(out[1]);
        if (bound_by_modes && geteuid() == 0 && !drop_mode_overrides()) {
            dprintf(STDERR_FILENO, "test: cannot drop the capabilities that pass over modes\n");
            _exit(126);
        }
        std::vector<char *> argv;
        for (auto &a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(out[1]);
    close(log_fd);
    // The first line is the base URL, printed once the service listens.
    std::string line;
    pollfd p{out[0], POLLIN, 0};
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (line.find('\n') == std::string::npos && std::chrono::steady_clock::now() < until) {
        if (poll(&p, 1, 200) <= 0) continue;
        char buf[256];
        ssize_t n = read(out[0], buf, sizeof buf);
        if (n <= 0) break;
        line.append(buf, static_cast<size_t>(n));
    }
    close(out[0]);
    if (line.find('\n') != std::string::npos) url_ = line.substr(0, line.find('\n'));
}

DemoService::~DemoService() {
    stop();
    if (!log_.empty()) unlink(log_.c_str());
    if (!keep_ && !dir_.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
}

int DemoService::stop(int limit_s) {
    if (pid_ <= 0) return -1;
    kill(pid_, SIGTERM);
    int status = 0;
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(limit_s);
    pid_t done = 0;
    while ((done = waitpid(pid_, &status, WNOHANG)) == 0 &&
           std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (done != pid_) {
        kill(pid_, SIGKILL);
        waitpid(pid_, &status, 0);
        pid_ = -1;
        return -1;
    }
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string DemoService::log() const {
    std::ifstream in(log_);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

RunResult DemoService::tarn(const std::vector<std::string> &args, EnvChanges env) const {
    env["TARN_HOST"] = url_;
    return run_tarn(args, env);
}

}  // namespace tarn_test
