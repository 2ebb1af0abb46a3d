#include "jobs.h"

#include <cstdio>
#include <fstream>
#include <sstream>

#include "db.h"
#include "files.h"
#include "json.h"

namespace demo {
namespace {

constexpr size_t kMaxHistory = 1000;

const char *const kSampleJobs = R"([
  {"id":"1","name":"orders_by_status","db":"shop","enabled":true,
   "sql":"SELECT status, count(*) AS orders FROM orders GROUP BY status"},
  {"id":"2","name":"restock_low_products","db":"shop","enabled":true,
   "sql":"UPDATE products SET stock = stock + 50 WHERE stock < 20"},
  {"id":"3","name":"long_scan","db":"shop","enabled":true,
   "sql":"WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 1000000000) SELECT count(*) FROM n"}
])";

bool parse_jobs(const std::string &text, std::vector<Job> &out, std::string &err) {
    JsonDoc doc(text);
    if (!yyjson_is_arr(doc.root())) {
        err = "not a JSON array of jobs";
        return false;
    }
    size_t i = 0;
    size_t n = 0;
    yyjson_val *v = nullptr;
    yyjson_arr_foreach(doc.root(), i, n, v) {
        Job j;
        auto id = str_of(yyjson_obj_get(v, "id"));
        auto sql = str_of(yyjson_obj_get(v, "sql"));
        auto db = str_of(yyjson_obj_get(v, "db"));
        if (!id || !sql || !db || !valid_db_name(*db)) {
            err = "job " + std::to_string(i + 1) + " needs string id, db and sql";
            return false;
        }
        j.id = *id;
        j.sql = *sql;
        j.db = *db;
        j.name = str_of(yyjson_obj_get(v, "name")).value_or(j.id);
        j.enabled = !yyjson_is_false(yyjson_obj_get(v, "enabled"));
        out.push_back(j);
    }
    return true;
}

}  // namespace

bool Jobs::load(std::string &err) {
    std::lock_guard<std::mutex> lock(mu_);
    std::string file = data_dir_ + "/jobs.json";
    std::ifstream in(file);
    int status = 0;
    if (!in) return parse_jobs(kSampleJobs, jobs_, err) && write_locked(err, status);
    std::stringstream ss;
    ss << in.rdbuf();
    if (!parse_jobs(ss.str(), jobs_, err)) {
        err = file + ": " + err;
        return false;
    }
    return true;
}

bool Jobs::write_locked(std::string &err, int &status) {
    std::string text = "[\n";
    for (size_t i = 0; i < jobs_.size(); ++i) {
        const Job &j = jobs_[i];
        text += "  {\"id\":" + jstr(j.id) + ",\"name\":" + jstr(j.name) + ",\"db\":" + jstr(j.db) +
                ",\"enabled\":" + (j.enabled ? "true" : "false") + ",\n   \"sql\":" + jstr(j.sql) +
                "}" + (i + 1 < jobs_.size() ? ",\n" : "\n");
    }
    text += "]\n";
    int saved = write_file_atomic(data_dir_ + "/jobs.json", text, err);
    if (saved == 0) return true;
    status = errno_status(saved);
    return false;
}

std::vector<Job> Jobs::list() {
    std::lock_guard<std::mutex> lock(mu_);
    return jobs_;
}

std::vector<JobRun> Jobs::history(const std::string &job_id) {
    std::lock_guard<std::mutex> lock(mu_);
    std::vector<JobRun> out;
    for (auto it = history_.rbegin(); it != history_.rend(); ++it)
        if (job_id.empty() || it->job_id == job_id) out.push_back(*it);
    return out;
}

std::pair<int, std::string> Jobs::control(const std::string &job_id, const std::string &verb) {
    std::lock_guard<std::mutex> lock(mu_);
    Job *job = nullptr;
    for (Job &j : jobs_)
        if (j.id == job_id || j.name == job_id) job = &j;
    if (job == nullptr) return {404, error_body("no job " + job_id)};
    auto reply = [&](const std::string &extra) {
        return std::pair<int, std::string>{
            200, "{\"ok\":true,\"job_id\":" + jstr(job->id) + ",\"verb\":" + jstr(verb) +
                     ",\"enabled\":" + (job->enabled ? "true" : "false") + extra + "}"};
    };
    if (verb == "start") return start_locked(*job);
    if (verb == "stop") {
        if (job->spid == 0 || !running_.cancel_spid(job->spid))
            return {409, error_body("job " + job->id + " is not running")};
        return reply(",\"stopped_spid\":" + std::to_string(job->spid));
    }
    bool was = job->enabled;
    if (verb == "enable")
        job->enabled = true;
    else if (verb == "disable")
        job->enabled = false;
    else if (verb == "toggle")
        job->enabled = !job->enabled;
    else
        return {400, error_body("unknown job verb: " + verb)};
    std::string err;
    int status = 500;
    if (job->enabled != was && !write_locked(err, status)) {
        job->enabled = was;
        return {status, error_body(err)};
    }
    return reply("");
}

std::pair<int, std::string> Jobs::start_locked(Job &job) {
    if (stopping_) return {503, error_body("the service is stopping")};
    if (!job.enabled) return {409, error_body("job " + job.id + " is disabled")};
    if (job.spid != 0) return {409, error_body("job " + job.id + " is already running")};
    auto conn = std::make_shared<Conn>();
    std::string err;
    if (!conn->open(db_path(data_dir_, job.db), err))
        return {storage_status(conn->rc(), 500), error_body("job " + job.id + ": " + err)};
    auto r = running_.add(conn->get(), job.db, job.sql, "", "job " + job.id);
    r->refusal = &conn->refusal();
    job.spid = r->spid;
    long long run_id = next_run_++;
    history_.push_back({run_id, job.id, job.name, now_ms(), 0, "running", ""});
    if (history_.size() > kMaxHistory) history_.pop_front();

    // Finished workers are joined here, so the list stays short.
    for (auto it = workers_.begin(); it != workers_.end();) {
        if (it->done->load()) {
            it->thread.join();
            it = workers_.erase(it);
        } else {
            ++it;
        }
    }
    auto done = std::make_shared<std::atomic<bool>>(false);
    std::string id = job.id;
    std::string sql = job.sql;
    int timeout_s = timeout_s_;
    workers_.push_back({std::thread([this, conn, r, id, sql, run_id, done, timeout_s] {
                            long long t0 = now_ms();
                            RunOutcome o = run_sql(*r, sql, 0, timeout_s);
                            running_.remove(r->spid);
                            log_.query(sql, now_ms() - t0, o.rows, o.error.empty());
                            std::string status = o.error.empty()   ? "succeeded"
                                                 : o.status == 409 ? "stopped"
                                                                   : "failed";
                            std::string msg = o.error.empty()
                                                  ? std::to_string(o.rows) + " rows, " +
                                                        std::to_string(o.changes) + " changes"
                                                  : o.error;
                            finish(id, run_id, status, msg);
                            done->store(true);
                        }),
                        done});
    return {200, "{\"ok\":true,\"job_id\":" + jstr(job.id) + ",\"verb\":\"start\",\"run_id\":" +
                     std::to_string(run_id) + ",\"spid\":" + std::to_string(job.spid) + "}"};
}

void Jobs::finish(const std::string &job_id, long long run_id, const std::string &status,
                  const std::string &message) {
    std::lock_guard<std::mutex> lock(mu_);
    for (Job &j : jobs_)
        if (j.id == job_id) j.spid = 0;
    for (JobRun &h : history_) {
        if (h.run_id != run_id) continue;
        h.finished_ms = now_ms();
        h.status = status;
        h.message = message;
    }
}

void Jobs::shutdown() {
    std::list<Worker> workers;
    {
        std::lock_guard<std::mutex> lock(mu_);
        stopping_ = true;
        for (const Job &j : jobs_)
            if (j.spid != 0) running_.cancel_spid(j.spid);
        workers.swap(workers_);
    }
    for (Worker &w : workers) w.thread.join();
}

}  // namespace demo
