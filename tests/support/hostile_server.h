// A plain-HTTP server on 127.0.0.1 that answers every request with one
// hostile case, streaming its filler so a huge reply costs no memory. The
// same code serves the native suite and the Windows suite under Wine.
#pragma once

#include <atomic>
#include <string>

#include "hostile_cases.h"
#include "raw_server.h"

namespace tarn_test {

class HostileServer {
public:
    explicit HostileServer(const HostileCase &c)
        : core_([this, &c](const RawRequest &) {
              // One request per connection: each reply ends its connection.
              ++requests_;
              RawEnd end = c.end == HostileEnd::kReset    ? RawEnd::kReset
                           : c.end == HostileEnd::kSilent ? RawEnd::kSilent
                                                          : RawEnd::kClose;
              return RawReply{c.head, c.unit, c.count, c.tail, end};
          }) {}

    std::string url() const { return core_.url(); }
    int requests() const { return requests_; }

private:
    std::atomic<int> requests_{0};
    RawServer core_;  // last, so its thread ends before the count goes
};

}  // namespace tarn_test
