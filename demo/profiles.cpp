#include "profiles.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "db.h"
#include "files.h"
#include "json.h"

namespace demo {
namespace {

const char *const kSample = R"({"id":"1","name":"local","db":"shop","note":"the sample database"})";

}  // namespace

bool parse_profile(const std::string &json, Profile &out, std::string &err) {
    JsonDoc doc(json);
    if (!doc.is_object()) {
        err = "a profile must be a JSON object";
        return false;
    }
    auto name = doc.str("name");
    if (!name || name->empty()) {
        err = "a profile needs a string member \"name\"";
        return false;
    }
    out.name = *name;
    out.db = doc.str("db").value_or("");
    auto id = int_of(doc.get("id"));
    out.id = id ? std::to_string(*id) : doc.str("id").value_or("");
    if (!out.db.empty() && !valid_db_name(out.db)) {
        err = "\"db\" may hold only letters, digits, '_' and '-'";
        return false;
    }
    // Stored compact, as yyjson writes it back.
    char *text = yyjson_val_write(doc.root(), 0, nullptr);
    out.json = text != nullptr ? text : json;
    free(text);
    return true;
}

// Only digits count as a numeric id; other ids are names of their own.
bool Profiles::count_id(const std::string &id) {
    if (id.empty() || id.find_first_not_of("0123456789") != std::string::npos) return true;
    errno = 0;
    char *end = nullptr;
    long long n = strtoll(id.c_str(), &end, 10);
    if (errno == ERANGE || n < 1 || n > kMaxProfileId) return false;
    if (n >= next_id_) next_id_ = n + 1;
    return true;
}

bool Profiles::load(const std::string &data_dir, std::string &err, std::string &note) {
    std::lock_guard<std::mutex> lock(mu_);
    file_ = data_dir + "/connections.json";
    int status = 0;
    std::ifstream in(file_);
    if (!in) {
        Profile p;
        parse_profile(kSample, p, err);
        list_ = {p};
        next_id_ = 2;
        return write_locked(err, status);
    }
    std::stringstream ss;
    ss << in.rdbuf();
    JsonDoc doc(ss.str());
    std::string problem;
    if (!yyjson_is_arr(doc.root())) problem = "is not a JSON array of profiles";
    size_t i = 0;
    size_t n = 0;
    yyjson_val *v = nullptr;
    yyjson_arr_foreach(doc.root(), i, n, v) {
        char *text = yyjson_val_write(v, 0, nullptr);
        Profile p;
        std::string why;
        bool ok = text != nullptr && parse_profile(text, p, why);
        free(text);
        bool taken = std::any_of(list_.begin(), list_.end(),
                                 [&](const Profile &q) { return !p.id.empty() && q.id == p.id; });
        if (ok && (taken || !count_id(p.id)))
            why = "id " + p.id + (taken ? " is used twice" : " is out of range");
        if (!ok || !why.empty()) {
            if (problem.empty()) problem = "profile " + std::to_string(i + 1) + ": " + why;
            continue;
        }
        list_.push_back(p);
    }
    if (problem.empty()) return true;
    std::string aside = keep_aside(file_);
    std::string count = std::to_string(list_.size());
    if (aside.empty()) {
        note = file_ + " " + problem + " and cannot be moved aside (" + strerror(errno) +
               "); starting with the " + count + " profiles that could be read";
        return true;
    }
    note = file_ + " " + problem + "; kept as " + aside + ", starting with the " + count +
           " profiles that could be read";
    return write_locked(err, status);
}

std::vector<Profile> Profiles::all() {
    std::lock_guard<std::mutex> lock(mu_);
    return list_;
}

std::optional<Profile> Profiles::find(const std::string &key) {
    std::lock_guard<std::mutex> lock(mu_);
    for (const Profile &p : list_)
        if (p.name == key || p.id == key) return p;
    return std::nullopt;
}

std::optional<std::string> Profiles::save(const std::string &json, std::string &err, int &status) {
    Profile p;
    status = 400;
    if (!parse_profile(json, p, err)) return std::nullopt;
    std::lock_guard<std::mutex> lock(mu_);
    auto old = list_;
    long long old_next = next_id_;
    if (!count_id(p.id)) {
        err = "a numeric id must be from 1 to " + std::to_string(kMaxProfileId);
        return std::nullopt;
    }
    auto same = [&](const Profile &q) { return p.id.empty() ? q.name == p.name : q.id == p.id; };
    auto it = std::find_if(list_.begin(), list_.end(), same);
    if (it != list_.end()) {
        if (p.id.empty()) p.id = it->id;
        *it = p;
    } else {
        if (p.id.empty()) p.id = std::to_string(next_id_++);
        list_.push_back(p);
    }
    if (!write_locked(err, status)) {
        list_ = old;
        next_id_ = old_next;
        return std::nullopt;
    }
    return p.id;
}

bool Profiles::remove(const std::string &id, std::string &err, int &status) {
    std::lock_guard<std::mutex> lock(mu_);
    auto it =
        std::find_if(list_.begin(), list_.end(), [&](const Profile &q) { return q.id == id; });
    if (it == list_.end()) {
        err = "no connection with id " + id;
        status = 404;
        return false;
    }
    Profile gone = *it;
    list_.erase(it);
    if (!write_locked(err, status)) {
        list_.push_back(gone);
        return false;
    }
    return true;
}

// The file is replaced whole (write_file_atomic), so a crash leaves the
// old or the new list, never half of one. The stored id is always a member.
bool Profiles::write_locked(std::string &err, int &status) {
    std::string text = "[\n";
    for (size_t i = 0; i < list_.size(); ++i) {
        Profile &p = list_[i];
        JsonDoc doc(p.json);
        // Put the id first, replacing any id member the profile had.
        std::string rest;
        yyjson_val *key = nullptr;
        yyjson_obj_iter it = yyjson_obj_iter_with(doc.root());
        while ((key = yyjson_obj_iter_next(&it)) != nullptr) {
            if (yyjson_equals_str(key, "id")) continue;
            char *v = yyjson_val_write(yyjson_obj_iter_get_val(key), 0, nullptr);
            rest += "," + jstr(std::string_view(yyjson_get_str(key), yyjson_get_len(key))) + ":" +
                    (v != nullptr ? v : "null");
            free(v);
        }
        p.json = "{\"id\":" + jstr(p.id) + rest + "}";
        text += "  " + p.json + (i + 1 < list_.size() ? ",\n" : "\n");
    }
    text += "]\n";
    int e = write_file_atomic(file_, text, err);
    if (e == 0) return true;
    status = errno_status(e);
    return false;
}

}  // namespace demo
