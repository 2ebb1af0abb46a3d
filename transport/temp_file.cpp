#include "transport/temp_file.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#endif

namespace tarn {

// The C runtime of Windows makes it in the drive's root, often not
// writable: there the user's temporary folder serves instead.
FILE *open_temp_file() {
    FILE *f = tmpfile();
#ifdef _WIN32
    char dir[MAX_PATH + 1];
    char path[MAX_PATH + 1];
    if (f != nullptr || GetTempPathA(sizeof dir, dir) == 0 ||
        GetTempFileNameA(dir, "trn", 0, path) == 0)
        return f;
    HANDLE h = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (h == INVALID_HANDLE_VALUE) return nullptr;
    int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_RDWR | _O_BINARY);
    if (fd < 0) {
        CloseHandle(h);
        return nullptr;
    }
    f = _fdopen(fd, "w+b");
    if (f == nullptr) _close(fd);
#endif
    return f;
}

}  // namespace tarn
