#include "profiles.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "db.h"
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

bool Profiles::load(const std::string &data_dir, std::string &err) {
    std::lock_guard<std::mutex> lock(mu_);
    file_ = data_dir + "/connections.json";
    std::ifstream in(file_);
    if (!in) {
        Profile p;
        parse_profile(kSample, p, err);
        list_ = {p};
        next_id_ = 2;
        return write_locked(err);
    }
    std::stringstream ss;
    ss << in.rdbuf();
    JsonDoc doc(ss.str());
    if (!yyjson_is_arr(doc.root())) {
        err = file_ + " is not a JSON array of profiles";
        return false;
    }
    size_t i = 0;
    size_t n = 0;
    yyjson_val *v = nullptr;
    yyjson_arr_foreach(doc.root(), i, n, v) {
        char *text = yyjson_val_write(v, 0, nullptr);
        Profile p;
        bool ok = text != nullptr && parse_profile(text, p, err);
        free(text);
        if (!ok) {
            err.insert(0, file_ + ": ");
            return false;
        }
        list_.push_back(p);
        char *end = nullptr;
        long long id = strtoll(p.id.c_str(), &end, 10);
        if (end != nullptr && *end == '\0' && id >= next_id_) next_id_ = id + 1;
    }
    return true;
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

std::optional<std::string> Profiles::save(const std::string &json, std::string &err) {
    Profile p;
    if (!parse_profile(json, p, err)) return std::nullopt;
    std::lock_guard<std::mutex> lock(mu_);
    auto old = list_;
    auto same = [&](const Profile &q) { return p.id.empty() ? q.name == p.name : q.id == p.id; };
    auto it = std::find_if(list_.begin(), list_.end(), same);
    if (it != list_.end()) {
        if (p.id.empty()) p.id = it->id;
        *it = p;
    } else {
        if (p.id.empty()) p.id = std::to_string(next_id_++);
        list_.push_back(p);
    }
    if (!write_locked(err)) {
        list_ = old;
        return std::nullopt;
    }
    return p.id;
}

bool Profiles::remove(const std::string &id, std::string &err) {
    std::lock_guard<std::mutex> lock(mu_);
    auto it =
        std::find_if(list_.begin(), list_.end(), [&](const Profile &q) { return q.id == id; });
    if (it == list_.end()) {
        err = "no connection with id " + id;
        return false;
    }
    Profile gone = *it;
    list_.erase(it);
    if (!write_locked(err)) {
        list_.push_back(gone);
        return false;
    }
    return true;
}

// The file is replaced whole by a rename, so a crash leaves the old or the
// new list, never half of one. The stored id is always a member.
bool Profiles::write_locked(std::string &err) {
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
    std::string tmp = file_ + ".new";
    FILE *f = fopen(tmp.c_str(), "w");
    bool ok = f != nullptr && fwrite(text.data(), 1, text.size(), f) == text.size();
    ok = f != nullptr && fflush(f) == 0 && fsync(fileno(f)) == 0 && ok;
    if (f != nullptr) fclose(f);
    if (!ok || rename(tmp.c_str(), file_.c_str()) != 0) {
        unlink(tmp.c_str());
        err = "cannot write " + file_;
        return false;
    }
    return true;
}

}  // namespace demo
