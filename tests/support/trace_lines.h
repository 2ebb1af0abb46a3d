// A trace sink that keeps every line, and the checks both backends' trace
// must pass, so the two suites hold one list.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tarn_client.h"

namespace tarn_test {

// Credentials that must never reach a trace, in any spelling that goes out.
inline constexpr char kTracePassword[] = "pa ss&wd";
inline constexpr char kTraceToken[] = "tok-3f9a";
inline const std::vector<std::string> &trace_secrets() {
    static const std::vector<std::string> secrets = {"pa ss&wd", "pa%20ss%26wd", "tok-3f9a"};
    return secrets;
}

// What a GET /ping with both credentials set must show on the wire.
inline const std::vector<std::string> &masked_ping_lines() {
    static const std::vector<std::string> lines = {
        "> GET /ping?pwd=*** HTTP/1.1",
        "> X-Bot-Password: ***",
        "> Authorization: ***",
    };
    return lines;
}

class TraceLines {
public:
    TraceLines() { tarn_client_set_trace(&TraceLines::sink, this); }
    ~TraceLines() { tarn_client_set_trace(nullptr, nullptr); }
    TraceLines(const TraceLines &) = delete;
    TraceLines &operator=(const TraceLines &) = delete;

    const std::vector<std::string> &lines() const { return lines_; }
    bool has(const std::string &line) const {
        for (const std::string &l : lines_)
            if (l == line) return true;
        return false;
    }
    // The first line starting with prefix, or "" when none does.
    std::string starting(const std::string &prefix) const {
        for (const std::string &l : lines_)
            if (l.rfind(prefix, 0) == 0) return l;
        return "";
    }
    std::string dump() const {
        std::string out;
        for (const std::string &l : lines_) out += l + "\n";
        return out;
    }

    // Each line is one event with its kind in front, and no secret shows.
    void expect_well_formed() const {
        for (const std::string &l : lines_) {
            EXPECT_TRUE(l.rfind("* ", 0) == 0 || l.rfind("> ", 0) == 0 || l.rfind("< ", 0) == 0)
                << l;
            EXPECT_EQ(l.find_first_of("\r\n"), std::string::npos) << l;
            for (const std::string &secret : trace_secrets())
                EXPECT_EQ(l.find(secret), std::string::npos) << l;
        }
    }

private:
    static void sink(void *self, const char *line) {
        static_cast<TraceLines *>(self)->lines_.emplace_back(line);
    }
    std::vector<std::string> lines_;
};

}  // namespace tarn_test
