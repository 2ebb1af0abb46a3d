#include "backend_calls.h"

#include <gtest/gtest.h>
#include <windows.h>

#include "transport/backend.h"

namespace tarn_win_test {
namespace {

const tarn_client_io &io = *tarn_client_default_io();

// Slots must reset every out value, so each starts out as garbage.
struct Outs {
    char *body = reinterpret_cast<char *>(0x1);
    char *error = reinterpret_cast<char *>(0x1);
    int32_t status = -7;
};

Outcome collect(int32_t rc, const Outs &outs) {
    Outcome o{rc, outs.status, std::nullopt, std::nullopt};
    if (outs.body != nullptr) o.body = outs.body;
    if (outs.error != nullptr) o.error = outs.error;
    io.free_buf(io.user_data, outs.body);
    io.free_buf(io.user_data, outs.error);
    return o;
}

}  // namespace

Outcome http_get(const std::string &url, const char *headers) {
    Outs o;
    return collect(io.get(io.user_data, url.c_str(), headers, &o.body, &o.status, &o.error), o);
}

Outcome http_post(const std::string &url, const char *body, const char *headers) {
    Outs o;
    return collect(io.post(io.user_data, url.c_str(), body, headers, &o.body, &o.status, &o.error),
                   o);
}

Outcome http_put(const std::string &url, const char *body, const char *headers) {
    Outs o;
    return collect(io.put(io.user_data, url.c_str(), body, headers, &o.body, &o.status, &o.error),
                   o);
}

Outcome http_delete(const std::string &url) {
    Outs o;
    return collect(io.del(io.user_data, url.c_str(), &o.body, &o.status, &o.error), o);
}

void expect_failure(const Outcome &o, const std::string &message, const std::string &what) {
    EXPECT_EQ(o.rc, -1) << what;
    EXPECT_EQ(o.status, 0) << what;
    EXPECT_FALSE(o.body.has_value()) << what;
    EXPECT_EQ(o.error.value_or("(null)"), message) << what;
}

bool under_wine() {
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

}  // namespace tarn_win_test
