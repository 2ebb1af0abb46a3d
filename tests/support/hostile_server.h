// A plain-HTTP server on 127.0.0.1 that answers every request with one
// hostile case, streaming its filler so a huge reply costs no memory. The
// same code serves the native suite and the Windows suite under Wine.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

#include "hostile_cases.h"

namespace tarn_test {

class HostileServer {
public:
    explicit HostileServer(const HostileCase &c);
    ~HostileServer();  // ends every connection, silent ones included
    HostileServer(const HostileServer &) = delete;
    HostileServer &operator=(const HostileServer &) = delete;

    std::string url() const;
    int requests() const { return requests_; }

private:
    void serve();
    void answer(uintptr_t conn);
    bool send_all(uintptr_t conn, const char *p, size_t n);

    const HostileCase &case_;
    uintptr_t listener_;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<int> requests_{0};
    std::thread thread_;
};

}  // namespace tarn_test
