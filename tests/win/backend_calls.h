// Calls into the WinHTTP backend table and copies out what it hands back.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "tarn_client.h"

namespace tarn_win_test {

struct Outcome {
    int32_t rc = 0;
    int32_t status = 0;
    std::optional<std::string> body;
    std::optional<std::string> error;
};

// Each returns the buffers it was handed through the table's free slot.
Outcome http_get(const std::string &url, const char *headers = nullptr);
Outcome http_post(const std::string &url, const char *body, const char *headers = nullptr);
Outcome http_put(const std::string &url, const char *body, const char *headers = nullptr);
Outcome http_delete(const std::string &url);

// A transport failure: -1, status 0, no body and exactly this message.
void expect_failure(const Outcome &o, const std::string &message, const std::string &what);

// True inside Wine, whose WinHTTP differs from Windows' in places.
bool under_wine();

}  // namespace tarn_win_test
