#include "run_program.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace tarn_test {
namespace {

std::string env_or(const char *name, const char *fallback) {
    const char *v = getenv(name);
    return v != nullptr && v[0] != '\0' ? v : fallback;
}

// Variables that would change what the program does if inherited.
const char *const kScrubbed[] = {"TARN_HOST",  "TARN_NODE_PWD", "TARN_NODE_JWT", "TARN_TLS",
                                 "http_proxy", "HTTP_PROXY",    "https_proxy",   "HTTPS_PROXY",
                                 "all_proxy",  "ALL_PROXY"};

[[noreturn]] void exec_child(const std::vector<std::string> &args, const EnvChanges &env, int in_fd,
                             int out_fd, int err_fd, const char *out_path) {
    if (in_fd >= 0) dup2(in_fd, STDIN_FILENO);
    if (out_path != nullptr) {
        out_fd = open(out_path, O_WRONLY);
        if (out_fd < 0) _exit(126);
    }
    dup2(out_fd, STDOUT_FILENO);
    dup2(err_fd, STDERR_FILENO);
    for (const char *name : kScrubbed) unsetenv(name);
    for (const auto &[name, value] : env) {
        if (value)
            setenv(name.c_str(), value->c_str(), 1);
        else
            unsetenv(name.c_str());
    }
    std::vector<std::string> argv_s;
    std::string launcher = env_or("TARN_CLI_LAUNCHER", "");
    if (!launcher.empty()) argv_s.push_back(launcher);
    argv_s.push_back(env_or("TARN_CLI_PROGRAM", TARN_CLI_DEFAULT_PROGRAM));
    argv_s.insert(argv_s.end(), args.begin(), args.end());
    std::vector<char *> argv;
    for (auto &s : argv_s) argv.push_back(s.data());
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
}

}  // namespace

std::string without_generated_token(const std::string &body) {
    const std::string key = ",\"query_token\":\"tarn-";
    size_t at = body.rfind(key);
    size_t hex = at + key.size();
    if (at == std::string::npos || body.size() != hex + 16 + 2 ||
        body.compare(hex + 16, 2, "\"}") != 0)
        return body;
    for (size_t i = hex; i < hex + 16; ++i)
        if (!isdigit(static_cast<unsigned char>(body[i])) && (body[i] < 'a' || body[i] > 'f'))
            return body;
    return body.substr(0, at) + "}";
}

bool under_launcher() {
    return !env_or("TARN_CLI_LAUNCHER", "").empty();
}

namespace {

RunResult run_with_stdin(const std::vector<std::string> &args, const EnvChanges &env, int in_fd,
                         const char *out_path = nullptr) {
    RunResult r;
    int out_pipe[2];
    int err_pipe[2];
    // Close-on-exec: a child that another thread starts meanwhile must not
    // hold these pipes open, or this read would wait for that child too.
    if (pipe2(out_pipe, O_CLOEXEC) != 0) return r;
    if (pipe2(err_pipe, O_CLOEXEC) != 0) {
        close(out_pipe[0]);
        close(out_pipe[1]);
        return r;
    }
    pid_t pid = fork();
    if (pid == 0) {
        close(out_pipe[0]);
        close(err_pipe[0]);
        exec_child(args, env, in_fd, out_pipe[1], err_pipe[1], out_path);
    }
    close(out_pipe[1]);
    close(err_pipe[1]);

    // Drain both pipes together so a full one never blocks the child.
    pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
    std::string *sinks[2] = {&r.out, &r.err};
    int open_fds = 2;
    char buf[65536];
    while (open_fds > 0) {
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) continue;
            ssize_t n = read(fds[i].fd, buf, sizeof buf);
            if (n > 0) {
                sinks[i]->append(buf, static_cast<size_t>(n));
            } else {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open_fds;
            }
        }
    }
    for (auto &f : fds)
        if (f.fd >= 0) close(f.fd);

    int wstatus = 0;
    if (pid > 0 && waitpid(pid, &wstatus, 0) == pid && WIFEXITED(wstatus))
        r.status = WEXITSTATUS(wstatus);
    return r;
}

}  // namespace

RunResult run_tarn(const std::vector<std::string> &args, const EnvChanges &env) {
    return run_with_stdin(args, env, -1);
}

RunResult run_tarn_with_input(const std::vector<std::string> &args, const std::string &input,
                              const EnvChanges &env) {
    // A file rather than a pipe: the child may read it all before it writes.
    char path[] = "/tmp/tarn-stdin-XXXXXX";
    int fd = mkstemp(path);
    if (fd < 0) return {};
    unlink(path);
    bool written = write(fd, input.data(), input.size()) == static_cast<ssize_t>(input.size());
    lseek(fd, 0, SEEK_SET);
    RunResult r = written ? run_with_stdin(args, env, fd) : RunResult{};
    close(fd);
    return r;
}

RunResult run_tarn_to_file(const std::vector<std::string> &args, const std::string &out_path,
                           const EnvChanges &env) {
    return run_with_stdin(args, env, -1, out_path.c_str());
}

RunResult run_tarn_from_fd(const std::vector<std::string> &args, int in_fd, const EnvChanges &env) {
    return run_with_stdin(args, env, in_fd);
}

}  // namespace tarn_test
