// Saved connection profiles, kept in DATA/connections.json.
#pragma once

#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace demo {

struct Profile {
    std::string id;
    std::string name;
    std::string db;
    std::string json;  // the profile as saved, every member kept
};

// Numeric ids run from 1 to this (the largest integer a JSON reader keeps
// exactly), so the next id can always be counted.
constexpr long long kMaxProfileId = 9007199254740991LL;

class Profiles {
public:
    // Reads the file, or writes the sample profile when there is none. A
    // file that cannot be read whole is kept aside (named in note) and the
    // profiles that could be read are kept; false only when that fails.
    bool load(const std::string &data_dir, std::string &err, std::string &note);
    std::vector<Profile> all();
    // By name or id.
    std::optional<Profile> find(const std::string &key);
    // Stores a profile JSON object (it needs a string "name"); a profile
    // with the same id, or else the same name, is replaced. Returns the id,
    // or nothing with the reason in err and the reply status in status.
    std::optional<std::string> save(const std::string &json, std::string &err, int &status);
    bool remove(const std::string &id, std::string &err, int &status);

private:
    bool write_locked(std::string &err, int &status);
    // Moves the counter past a numeric id; false when it is out of range.
    bool count_id(const std::string &id);
    std::mutex mu_;
    std::string file_;
    std::vector<Profile> list_;
    long long next_id_ = 1;
};

// Reads name, id and db from a profile object; false when it is not one.
bool parse_profile(const std::string &json, Profile &out, std::string &err);

}  // namespace demo
