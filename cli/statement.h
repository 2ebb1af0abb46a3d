// The one place the shell sends a statement and reads its answer: every
// result set of the reply, taken from the library so that it outlives the
// next call.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "cancel.h"
#include "grid_source.h"
#include "result_grid.h"

namespace tarn_cli {

class Answer {
public:
    struct SetInfo {
        bool has_grid = false;
        bool truncated = false;  // the service cut the rows
        long long changes = -1;  // rows changed, for a set without columns
        int grid_set = -1;       // the result's set holding the grid
    };
    int set_count() const { return static_cast<int>(sets_.size()); }
    const SetInfo &info(int i) const { return sets_[static_cast<size_t>(i)]; }
    // The grid of set i; read it before asking for another set.
    const GridSource &grid(int i) const;
    const std::string &reply() const { return reply_; }

private:
    friend bool run_statement(const StatementTarget &, const std::string &, Answer *,
                              std::string *);
    friend void read_last_reply(Answer *);
    struct ResultFree {
        void operator()(tarn_result *r) const { tarn_result_free(r); }
    };
    std::vector<SetInfo> sets_;
    std::string reply_;
    std::unique_ptr<tarn_result, ResultFree> result_;
    mutable std::unique_ptr<ResultGrid> grid_;
};

// Sends sql; on failure *error holds the service's or transport's message.
bool run_statement(const StatementTarget &target, const std::string &sql, Answer *answer,
                   std::string *error);

// The answer held by the library's last successful operation (meta
// commands that call other operations print through this too).
void read_last_reply(Answer *answer);

}  // namespace tarn_cli
