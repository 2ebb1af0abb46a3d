// Runs the tarn program as a child process and captures what it prints.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace tarn_test {

struct RunResult {
    int status = -1;  // exit status, or -1 when the child did not exit normally
    std::string out;
    std::string err;
};

// Environment changes for one run: a value sets the variable, nullopt
// removes it. TARN_* and proxy variables are removed unless set here.
using EnvChanges = std::map<std::string, std::optional<std::string>>;

// The program under test: $TARN_CLI_PROGRAM, else the one built beside the
// tests; $TARN_CLI_LAUNCHER (such as wine64) runs it when set.
RunResult run_tarn(const std::vector<std::string> &args, const EnvChanges &env = {});

// As run_tarn, with `input` as the program's standard input.
RunResult run_tarn_with_input(const std::vector<std::string> &args, const std::string &input,
                              const EnvChanges &env = {});

// As run_tarn, with standard output going to the file at out_path (such as
// /dev/full) instead of being captured.
RunResult run_tarn_to_file(const std::vector<std::string> &args, const std::string &out_path,
                           const EnvChanges &env = {});

// As run_tarn, reading standard input from in_fd, which stays open.
RunResult run_tarn_from_fd(const std::vector<std::string> &args, int in_fd,
                           const EnvChanges &env = {});

// body with the query_token the program generates ("tarn-" and 16
// lower-case hex digits, as the last member) taken out; any other body as is.
std::string without_generated_token(const std::string &body);

// True when the program runs under a launcher (Windows build under Wine).
bool under_launcher();

}  // namespace tarn_test
