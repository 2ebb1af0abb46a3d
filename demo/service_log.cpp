#include "service_log.h"

#include "db.h"

namespace demo {
namespace {

constexpr size_t kMaxRequests = 1000;
constexpr size_t kMaxStatements = 500;
constexpr size_t kMaxSqlKey = 2000;

}  // namespace

void ServiceLog::request(const std::string &method, const std::string &path, int status) {
    std::lock_guard<std::mutex> lock(mu_);
    requests_.push_back({now_ms(), method, path, status});
    if (requests_.size() > kMaxRequests) requests_.pop_front();
}

void ServiceLog::query(const std::string &sql, long long ms, long long rows, bool ok) {
    std::lock_guard<std::mutex> lock(mu_);
    std::string key = sql.substr(0, kMaxSqlKey);
    if (stats_.size() >= kMaxStatements && stats_.find(key) == stats_.end()) return;
    Stat &s = stats_[key];
    ++s.runs;
    if (!ok) ++s.failures;
    s.total_ms += ms;
    if (ms > s.max_ms) s.max_ms = ms;
    s.rows += rows;
}

std::vector<ServiceLog::Request> ServiceLog::requests() {
    std::lock_guard<std::mutex> lock(mu_);
    return {requests_.begin(), requests_.end()};
}

std::map<std::string, ServiceLog::Stat> ServiceLog::stats() {
    std::lock_guard<std::mutex> lock(mu_);
    return stats_;
}

}  // namespace demo
