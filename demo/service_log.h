// The service's own request log and per-statement statistics.
#pragma once

#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace demo {

// The request log and per-statement statistics, both bounded.
class ServiceLog {
public:
    struct Request {
        long long at_ms;
        std::string method, path;
        int status;
    };
    struct Stat {
        long long runs = 0, failures = 0, total_ms = 0, max_ms = 0, rows = 0;
    };
    void request(const std::string &method, const std::string &path, int status);
    void query(const std::string &sql, long long ms, long long rows, bool ok);
    std::vector<Request> requests();
    std::map<std::string, Stat> stats();

private:
    std::mutex mu_;
    std::deque<Request> requests_;
    std::map<std::string, Stat> stats_;
};

}  // namespace demo
