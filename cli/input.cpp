// Reads a script or JSON document whole, as bytes: no newline conversion
// on Windows, and a NUL byte is refused since the text goes on as a C string.
#include "input.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "transport/huge_pages.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

namespace tarn_cli {
namespace {

constexpr size_t kMaxText = size_t{256} << 20;
constexpr const char *kTooLarge = "larger than 256 MiB";
constexpr const char *kHoldsNul = "holds a NUL byte";

// A regular file whose size is already over the limit is refused unread.
bool known_too_large(FILE *f) {
#ifdef _WIN32
    struct _stati64 st {};
    if (_fstati64(_fileno(f), &st) != 0 || (st.st_mode & _S_IFMT) != _S_IFREG) return false;
#else
    struct stat st {};
    if (fstat(fileno(f), &st) != 0 || !S_ISREG(st.st_mode)) return false;
#endif
    return static_cast<unsigned long long>(st.st_size) > kMaxText;
}

}  // namespace

WordText::~WordText() {
    free(data_);
}

// Null when the whole text was read; otherwise why not. Stops at the first
// NUL byte or the first byte past the limit, so an endless source ends too.
// Reads straight into a buffer that realloc grows (moving pages, not
// copying bytes, where the system can), to one byte past the limit and its
// terminator at most.
const char *read_all(FILE *f, WordText *text) {
    if (known_too_large(f)) return kTooLarge;
    constexpr size_t kChunk = 65536;
    constexpr size_t kMaxCap = kMaxText + 2;
#if defined(__linux__)
    // The limit's worth of address space at once: pages cost nothing until
    // written, and no growth copies what was read (an endless source would
    // otherwise be copied over and over on its way to the limit).
    if (text->data_ == nullptr) {
        text->data_ = static_cast<char *>(malloc(kMaxCap));
        if (text->data_ != nullptr) {
            text->cap_ = kMaxCap;
            tarn::huge_pages::advise(text->data_, kMaxCap);
        }
    }
#endif
    errno = 0;
    for (;;) {
        size_t at = text->size_;
        if (text->cap_ - at < kChunk + 1 && text->cap_ < kMaxCap) {
            size_t want = std::max(2 * text->cap_, at + kChunk + 1);
            if (want > kMaxText) want = kMaxCap;
            auto *grown = static_cast<char *>(realloc(text->data_, want));
            if (grown == nullptr) return strerror(ENOMEM);
            text->data_ = grown;
            text->cap_ = want;
        }
        size_t room = std::min(kChunk, text->cap_ - 1 - at);
        size_t n = fread(text->data_ + at, 1, room, f);
        text->size_ = at + n;
        text->data_[text->size_] = '\0';
        if (memchr(text->data_ + at, '\0', n) != nullptr) return kHoldsNul;
        if (text->size_ > kMaxText) return kTooLarge;
        if (n < room) break;
    }
    if (ferror(f)) return strerror(errno != 0 ? errno : EIO);
    return nullptr;
}

bool read_word_source(const char *word, WordText *text, std::string *error) {
    error->clear();
    bool from_stdin = strcmp(word, "-") == 0;
    if (!from_stdin && word[0] != '@') return false;
    const char *path = from_stdin ? "-" : word + 1;
    const char *why = nullptr;
    if (from_stdin) {
#ifdef _WIN32
        _setmode(_fileno(stdin), _O_BINARY);
#endif
        why = read_all(stdin, text);
    } else {
        errno = 0;
        FILE *f = fopen(path, "rb");
        if (f == nullptr) {
            why = strerror(errno != 0 ? errno : ENOENT);
        } else {
            why = read_all(f, text);
            fclose(f);
        }
    }
    if (why != nullptr) *error = std::string("cannot read ") + path + ": " + why + "\n";
    return true;
}

}  // namespace tarn_cli
