// Agent jobs: stored SQL texts that "start" runs in the background, each
// run recorded in the history. Definitions live in DATA/jobs.json.
#pragma once

#include <atomic>
#include <deque>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "query_runner.h"
#include "service_log.h"

namespace demo {

struct Job {
    std::string id, name, db, sql;
    bool enabled = true;
    int spid = 0;  // of the running statement; 0 when idle
};

struct JobRun {
    long long run_id;
    std::string job_id, job_name;
    long long started_ms, finished_ms;
    std::string status, message;  // status: running, succeeded, failed, stopped
};

class Jobs {
public:
    // timeout_s: the time limit of a run in seconds, 0 for none.
    Jobs(const std::string &data_dir, const int &timeout_s, Registry &running, ServiceLog &log)
        : data_dir_(data_dir), timeout_s_(timeout_s), running_(running), log_(log) {}
    ~Jobs() { shutdown(); }
    Jobs(const Jobs &) = delete;
    Jobs &operator=(const Jobs &) = delete;

    // Reads jobs.json, or writes the sample jobs when there is none.
    bool load(std::string &err);
    std::vector<Job> list();
    // Newest first; every job's runs when job_id is empty.
    std::vector<JobRun> history(const std::string &job_id);
    // start, stop, enable, disable or toggle: the HTTP status and reply.
    std::pair<int, std::string> control(const std::string &job_id, const std::string &verb);
    // Stops running jobs and waits for their threads.
    void shutdown();

private:
    struct Worker {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> done;
    };
    std::pair<int, std::string> start_locked(Job &job);
    // False with err and the reply status for it.
    bool write_locked(std::string &err, int &status);
    void finish(const std::string &job_id, long long run_id, const std::string &status,
                const std::string &message);

    const std::string &data_dir_;
    const int &timeout_s_;
    Registry &running_;
    ServiceLog &log_;
    std::mutex mu_;
    std::vector<Job> jobs_;
    std::deque<JobRun> history_;
    std::list<Worker> workers_;
    long long next_run_ = 1;
    bool stopping_ = false;
};

}  // namespace demo
