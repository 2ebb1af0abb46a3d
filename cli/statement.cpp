#include "statement.h"

#include <yyjson.h>

#include <cstdio>
#include "tarn_client.h"

namespace tarn_cli {
namespace {

// The result object the library's grid comes from: the last one with
// rows in the last batch that has one; else the last result of all.
yyjson_val *located_result(yyjson_val *root) {
    yyjson_val *batches = yyjson_obj_get(root, "batches");
    yyjson_val *last = nullptr;
    if (!yyjson_is_arr(batches)) return nullptr;
    for (size_t b = yyjson_arr_size(batches); b-- > 0;) {
        yyjson_val *results = yyjson_obj_get(yyjson_arr_get(batches, b), "results");
        if (!yyjson_is_arr(results)) continue;
        for (size_t r = yyjson_arr_size(results); r-- > 0;) {
            yyjson_val *res = yyjson_arr_get(results, r);
            if (!yyjson_is_obj(res)) continue;
            if (last == nullptr) last = res;
            if (yyjson_is_arr(yyjson_obj_get(res, "rows"))) return res;
        }
    }
    return last;
}

}  // namespace

const GridSource &Answer::grid(int) const {
    return grid_;
}

void read_last_reply(Answer *answer) {
    answer->sets_.clear();
    answer->reply_ = tarn_client_result();
    Answer::SetInfo set;
    set.has_grid = tarn_client_row_count() >= 0;
    yyjson_doc *doc = yyjson_read(answer->reply_.data(), answer->reply_.size(), 0);
    yyjson_val *res = doc != nullptr ? located_result(yyjson_doc_get_root(doc)) : nullptr;
    if (res == nullptr && doc != nullptr) res = yyjson_doc_get_root(doc);
    if (res != nullptr && yyjson_is_obj(res)) {
        set.truncated = yyjson_get_bool(yyjson_obj_get(res, "truncated"));
        yyjson_val *changes = yyjson_obj_get(res, "changes");
        if (!set.has_grid && yyjson_is_int(changes)) set.changes = yyjson_get_sint(changes);
    }
    yyjson_doc_free(doc);
    if (set.has_grid || set.changes >= 0) answer->sets_.push_back(set);
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
