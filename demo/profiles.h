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

class Profiles {
public:
    // Reads the file, or writes the sample profile when there is none.
    bool load(const std::string &data_dir, std::string &err);
    std::vector<Profile> all();
    // By name or id.
    std::optional<Profile> find(const std::string &key);
    // Stores a profile JSON object (it needs a string "name"); a profile
    // with the same id, or else the same name, is replaced. Returns the id,
    // or nothing with the reason in err.
    std::optional<std::string> save(const std::string &json, std::string &err);
    bool remove(const std::string &id, std::string &err);

private:
    bool write_locked(std::string &err);
    std::mutex mu_;
    std::string file_;
    std::vector<Profile> list_;
    long long next_id_ = 1;
};

// Reads name, id and db from a profile object; false when it is not one.
bool parse_profile(const std::string &json, Profile &out, std::string &err);

}  // namespace demo
