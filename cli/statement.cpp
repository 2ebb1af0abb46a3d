#include "statement.h"

#include <yyjson.h>

#include <algorithm>

#include "client/reply_shape.h"
#include "tarn_client.h"

namespace tarn_cli {
namespace {

using tarn::reply_shape::has_members;

// The sets of a reply in order, as the library counts result sets: the
// root's grid, else every result of every batch, those with rows holding
// the next of the result's grids.
void collect_sets(yyjson_val *root, std::vector<Answer::SetInfo> *sets) {
    if (!has_members(root)) return;
    if (yyjson_is_arr(yyjson_obj_get(root, "rows"))) {
        Answer::SetInfo set;
        set.has_grid = true;
        set.truncated = yyjson_get_bool(yyjson_obj_get(root, "truncated"));
        set.grid_set = 0;
        sets->push_back(set);
        return;
    }
    if (yyjson_is_arr(yyjson_obj_get(root, "columns"))) return;
    int grids = 0;
    tarn::reply_shape::for_each_batched_result(root, [&](yyjson_val *result) {
        Answer::SetInfo set;
        if (yyjson_is_arr(yyjson_obj_get(result, "rows"))) {
            set.has_grid = true;
            set.truncated = yyjson_get_bool(yyjson_obj_get(result, "truncated"));
            set.grid_set = grids++;
        } else if (yyjson_is_int(yyjson_obj_get(result, "changes"))) {
            set.changes = yyjson_get_sint(yyjson_obj_get(result, "changes"));
        } else {
            return;
        }
        sets->push_back(set);
    });
}

}  // namespace

const GridSource &Answer::grid(int i) const {
    grid_ = std::make_unique<ResultGrid>(result_.get(), info(i).grid_set);
    return *grid_;
}

void read_last_reply(Answer *answer) {
    answer->sets_.clear();
    answer->grid_.reset();
    answer->result_.reset(tarn_client_take_result());
    answer->reply_ = answer->result_ ? tarn_result_text(answer->result_.get()) : "";
    // As the library reads it: a number past a double's range or a string
    // that is not valid UTF-8 does not cost the reply its sets.
    yyjson_doc *doc = yyjson_read(answer->reply_.data(), answer->reply_.size(),
                                  YYJSON_READ_BIGNUM_AS_RAW | YYJSON_READ_ALLOW_INVALID_UNICODE);
    if (doc != nullptr) collect_sets(yyjson_doc_get_root(doc), &answer->sets_);
    yyjson_doc_free(doc);
    // A reply the library cannot read as a grid prints as text.
    if (!answer->result_ ||
        tarn_result_set_count(answer->result_.get()) <
            static_cast<int>(std::count_if(answer->sets_.begin(), answer->sets_.end(),
                                           [](const Answer::SetInfo &s) { return s.has_grid; })))
        answer->sets_.clear();
}

bool run_statement(const StatementTarget &target, const std::string &sql, Answer *answer,
                   std::string *error) {
    if (tarn_client_query(target.server.c_str(), target.db.c_str(), sql.c_str(), 0, 0,
                          target.token.c_str()) != 0) {
        *error = tarn_client_last_error();
        cancel_if_timed_out(target);
        return false;
    }
    read_last_reply(answer);
    return true;
}

}  // namespace tarn_cli
