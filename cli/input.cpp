// Reads a script or JSON document whole, as bytes: no newline conversion
// on Windows, and a NUL byte is refused since the text goes on as a C string.
#include "input.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

namespace tarn_cli {
namespace {

bool read_all(FILE *f, std::string *text, int *err) {
    char buf[65536];
    size_t n = 0;
    errno = 0;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0) text->append(buf, n);
    if (ferror(f)) {
        *err = errno != 0 ? errno : EIO;
        return false;
    }
    return true;
}

}  // namespace

bool read_word_source(const char *word, std::string *text, std::string *error) {
    error->clear();
    bool from_stdin = strcmp(word, "-") == 0;
    if (!from_stdin && word[0] != '@') return false;
    const char *path = from_stdin ? "-" : word + 1;
    int err = 0;
    bool ok = false;
    if (from_stdin) {
#ifdef _WIN32
        _setmode(_fileno(stdin), _O_BINARY);
#endif
        ok = read_all(stdin, text, &err);
    } else {
        errno = 0;
        FILE *f = fopen(path, "rb");
        if (f == nullptr) {
            err = errno != 0 ? errno : ENOENT;
        } else {
            ok = read_all(f, text, &err);
            fclose(f);
        }
    }
    if (ok && text->find('\0') != std::string::npos) {
        *error = std::string("cannot read ") + path + ": holds a NUL byte\n";
        return true;
    }
    if (!ok) *error = std::string("cannot read ") + path + ": " + strerror(err) + "\n";
    return true;
}

}  // namespace tarn_cli
