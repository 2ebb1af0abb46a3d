// Where a reply keeps its result sets: the root's `rows`, else every
// result of every batch (`batches[].results[]`), in document order. Shared
// by the session's grid, taken results and the shell's statements.
#pragma once

#include <yyjson.h>

namespace tarn::reply_shape {

// An object with at least one member: empty objects and other values hold
// no set.
inline bool has_members(yyjson_val *v) {
    return yyjson_is_obj(v) && yyjson_obj_size(v) > 0;
}

// Calls fn(result) for each result object of each batch object, in order.
template <typename Fn>
void for_each_batched_result(yyjson_val *root, Fn fn) {
    size_t b = 0;
    size_t bmax = 0;
    yyjson_val *batch = nullptr;
    yyjson_arr_foreach(yyjson_obj_get(root, "batches"), b, bmax, batch) {
        if (!has_members(batch)) continue;
        size_t i = 0;
        size_t max = 0;
        yyjson_val *result = nullptr;
        yyjson_arr_foreach(yyjson_obj_get(batch, "results"), i, max, result) {
            if (has_members(result)) fn(result);
        }
    }
}

}  // namespace tarn::reply_shape
