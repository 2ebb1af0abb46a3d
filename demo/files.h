// The service's own files in the data folder: one service per folder,
// whole-or-nothing writes that survive a crash, and files kept aside.
#pragma once

#include <string>

namespace demo {

// Takes the data folder for this process (a lock on the folder itself,
// released when the process ends) and notes the process id in
// DIR/service.pid. The lock's descriptor, or -1 with err saying why, such
// as "data folder in use by process N".
int lock_data_dir(const std::string &dir, std::string &err);

// Replaces path with text: written under a name no other writer uses,
// flushed to disk, renamed over path, and the folder flushed, so a crash
// leaves the old or the new file. 0, or the errno with err set.
int write_file_atomic(const std::string &path, const std::string &text, std::string &err);

// True when a file can be created in dir; otherwise false with the reason.
bool dir_writable(const std::string &dir, std::string &why);

// Renames path to path.corrupt-TIME so it is kept but no longer read; the
// new name, or "" when it could not be moved.
std::string keep_aside(const std::string &path);

}  // namespace demo
