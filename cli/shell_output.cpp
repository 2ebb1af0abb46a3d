#include "shell_output.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#define isatty _isatty
#define fileno _fileno
#define popen _popen
#define pclose _pclose
#else
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>
#endif

namespace tarn_cli {
namespace {

// $PAGER, else less -SFRX when less is on the PATH; "" for none.
std::string pager_command() {
    const char *pager = getenv("PAGER");
    if (pager != nullptr) return pager;
#ifndef _WIN32
    const char *path = getenv("PATH");
    std::string dirs = path != nullptr ? path : "";
    size_t start = 0;
    while (start <= dirs.size()) {
        size_t end = dirs.find(':', start);
        if (end == std::string::npos) end = dirs.size();
        std::string candidate = dirs.substr(start, end - start) + "/less";
        if (end > start && access(candidate.c_str(), X_OK) == 0) return "less -SFRX";
        start = end + 1;
    }
#endif
    return "";
}

void copy_stream(FILE *from, FILE *to) {
    char buf[65536];
    size_t n = 0;
    while ((n = fread(buf, 1, sizeof buf, from)) > 0)
        if (fwrite(buf, 1, n, to) != n) break;
}

}  // namespace

size_t terminal_height() {
#ifdef _WIN32
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info))
        return static_cast<size_t>(info.srWindow.Bottom - info.srWindow.Top + 1);
#else
    winsize ws{};
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &ws) == 0) return ws.ws_row;
#endif
    return 0;
}

ShellOutput::ShellOutput() : terminal_(isatty(fileno(stdout)) != 0) {}

ShellOutput::~ShellOutput() {
    if (file_ != nullptr) fclose(file_);
}

bool ShellOutput::redirect(const std::string &path, std::string *error) {
    FILE *f = nullptr;
    if (!path.empty()) {
        f = fopen(path.c_str(), "wb");
        if (f == nullptr) {
            *error = "cannot write " + path + ": " + strerror(errno);
            return false;
        }
    }
    if (file_ != nullptr) fclose(file_);
    file_ = f;
    return true;
}

FILE *ShellOutput::begin() {
    if (file_ != nullptr) return file_;
    if (!terminal_) return stdout;
    held_ = tmpfile();
    return held_ != nullptr ? held_ : stdout;
}

void ShellOutput::finish() {
    if (held_ == nullptr) {
        fflush(file_ != nullptr ? file_ : stdout);
        return;
    }
    FILE *held = held_;
    held_ = nullptr;
    size_t lines = 0;
    rewind(held);
    for (int c = 0; (c = fgetc(held)) != EOF;)
        if (c == '\n') ++lines;
    rewind(held);
    size_t height = terminal_height();
    std::string pager = height > 0 && lines >= height ? pager_command() : "";
    FILE *to = pager.empty() ? nullptr : popen(pager.c_str(), "w");
    if (to != nullptr) {
        fflush(stdout);
#ifndef _WIN32
        // The pager takes Ctrl-C for itself; the shell waits for it.
        struct sigaction ignore {};
        struct sigaction saved {};
        ignore.sa_handler = SIG_IGN;
        sigaction(SIGINT, &ignore, &saved);
        copy_stream(held, to);
        pclose(to);
        sigaction(SIGINT, &saved, nullptr);
#else
        copy_stream(held, to);
        pclose(to);
#endif
    } else {
        copy_stream(held, stdout);
        fflush(stdout);
    }
    fclose(held);
}

ElapsedTicker::ElapsedTicker(bool enabled) {
    if (!enabled) return;
    thread_ = std::thread([this] {
        auto start = std::chrono::steady_clock::now();
        std::unique_lock<std::mutex> lock(mu_);
        if (cv_.wait_for(lock, std::chrono::seconds(1), [this] { return done_; })) return;
        do {
            double s =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            fprintf(stderr, "\relapsed %.1f s", s);
            fflush(stderr);
        } while (!cv_.wait_for(lock, std::chrono::milliseconds(100), [this] { return done_; }));
        fputs("\r                    \r", stderr);
        fflush(stderr);
    });
}

ElapsedTicker::~ElapsedTicker() {
    if (!thread_.joinable()) return;
    {
        std::lock_guard<std::mutex> lock(mu_);
        done_ = true;
    }
    cv_.notify_all();
    thread_.join();
}

}  // namespace tarn_cli
