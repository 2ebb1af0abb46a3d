#include "files.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>

namespace demo {
namespace {

std::string folder_of(const std::string &path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

bool sync_folder(const std::string &dir) {
    int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    bool ok = fsync(fd) == 0 || errno == EINVAL;
    close(fd);
    return ok;
}

}  // namespace

int lock_data_dir(const std::string &dir, std::string &err) {
    // The folder, not a file in it, so a read-only folder is locked too.
    int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        err = "cannot open " + dir + ": " + strerror(errno);
        return -1;
    }
    std::string pid_file = dir + "/service.pid";
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        int e = errno;
        close(fd);
        long pid = 0;
        std::ifstream in(pid_file);
        in >> pid;
        if (e != EWOULDBLOCK)
            err = "cannot lock " + dir + ": " + strerror(e);
        else if (pid > 0)
            err = "data folder in use by process " + std::to_string(pid) + ": " + dir;
        else
            err = "data folder in use by another process: " + dir;
        return -1;
    }
    std::string ignored;
    write_file_atomic(pid_file, std::to_string(getpid()) + "\n", ignored);
    return fd;
}

int write_file_atomic(const std::string &path, const std::string &text, std::string &err) {
    std::string tmp = path + ".XXXXXX";
    int fd = mkostemp(tmp.data(), O_CLOEXEC);
    int e = fd < 0 ? errno : 0;
    size_t done = 0;
    while (e == 0 && done < text.size()) {
        ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) e = n < 0 ? errno : EIO;
        if (n > 0) done += static_cast<size_t>(n);
    }
    if (e == 0 && fsync(fd) != 0) e = errno;
    if (fd >= 0 && close(fd) != 0 && e == 0) e = errno;
    if (e == 0 && rename(tmp.c_str(), path.c_str()) != 0) e = errno;
    if (e != 0) {
        if (fd >= 0) unlink(tmp.c_str());
        err = "cannot write " + path + ": " + strerror(e);
        return e;
    }
    if (!sync_folder(folder_of(path))) {
        e = errno;
        err = "cannot flush " + folder_of(path) + ": " + strerror(e);
        return e;
    }
    return 0;
}

bool dir_writable(const std::string &dir, std::string &why) {
    std::string probe = dir + "/.write-probe.XXXXXX";
    int fd = mkostemp(probe.data(), O_CLOEXEC);
    if (fd < 0) {
        why = strerror(errno);
        return false;
    }
    close(fd);
    unlink(probe.c_str());
    return true;
}

std::string keep_aside(const std::string &path) {
    time_t now = time(nullptr);
    tm t{};
    gmtime_r(&now, &t);
    char stamp[32];
    strftime(stamp, sizeof stamp, "%Y%m%dT%H%M%SZ", &t);
    std::string aside = path + ".corrupt-" + stamp;
    return rename(path.c_str(), aside.c_str()) == 0 ? aside : "";
}

}  // namespace demo
