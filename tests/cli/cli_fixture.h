// A loopback service and the program pointed at it, for the CLI suites.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "run_program.h"
#include "support/test_server.h"

namespace tarn_test {

inline Reply json_body(std::string body, int status = 200) {
    Reply r;
    r.status = status;
    r.body = std::move(body);
    r.headers.push_back({"Content-Type", "application/json"});
    return r;
}

class CliWords : public ::testing::Test {
protected:
    void SetUp() override { server.set_default(json_body("{\"ok\":true}")); }

    std::vector<std::string> with_host(std::vector<std::string> words) {
        words.insert(words.begin(), {"--host", server.url()});
        return words;
    }
    RunResult run(std::vector<std::string> words, EnvChanges env = {}) {
        return run_tarn(with_host(std::move(words)), env);
    }
    RunResult run_input(std::vector<std::string> words, const std::string &input) {
        return run_tarn_with_input(with_host(std::move(words)), input);
    }

    TestServer server;
};

}  // namespace tarn_test
