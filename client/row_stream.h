// Streaming reader of the result grids in a reply: fed the reply's bytes as
// they arrive, it hands each result set's columns and rows to callbacks and
// keeps no more than the largest row, whatever the size of the reply.
//
// It finds the sets the grid readers find: the root's `rows` array (with the
// root's `columns`), else, unless the root has a `columns` array, every
// result of every batch (`batches[].results[]`) whose `rows` is an array, in
// document order. Member lookups take the first member of a name, as the
// grid readers do. A set whose rows come before its columns keeps them in a
// temporary file until the columns are known. When the root's `rows` or `columns` array follows a
// `batches` array that gave sets, it is ignored: those sets are out already.
#pragma once

#include <cstddef>
#include <cstdint>

#include "tarn_client.h"

namespace tarn {

// A cell or column name, as the public header describes tarn_cell. A
// column name is a string, or absent when the column has none.
using StreamCell = tarn_cell;

struct StreamSetEnd {
    uint64_t rows;   // rows this set delivered
    bool truncated;  // the result has "truncated": true
};

// Every callback may be null; each returns 0 to go on or non-zero to stop the
// stream (feed and finish then return kStopped).
struct RowStreamCallbacks {
    // A set begins: one entry per column. From the `columns` array when the
    // set has one; otherwise from its first row: an object row's keys, an
    // array row's number of unnamed columns, none for other rows.
    int (*columns)(void *user_data, const StreamCell *names, size_t count);
    // One row. An array row gives its elements, however many. An object row
    // gives one cell per column: the first member named as the column, else
    // the member at the column's position provided its key names no column;
    // else the cell is absent. Any other row gives no cells.
    int (*row)(void *user_data, const StreamCell *cells, size_t count);
    // The set is complete.
    int (*set_end)(void *user_data, const StreamSetEnd *end);
};

enum class StreamStatus {
    kOk,       // feed: go on; finish: the reply held at least one set
    kNoGrid,   // finish: a complete reply without a grid, or an empty one
    kStopped,  // a callback returned non-zero
    kFailed,   // malformed or cut reply, nesting past 65536 levels, out of
               // memory, or no temporary file; error() says which
};

class RowStream {
public:
    RowStream(const RowStreamCallbacks &callbacks, void *user_data);
    ~RowStream();
    RowStream(const RowStream &) = delete;
    RowStream &operator=(const RowStream &) = delete;

    // The next n bytes of the reply. Rows complete in them are delivered
    // before it returns. kOk while the stream goes on.
    StreamStatus feed(const char *bytes, size_t n);
    // The reply is complete. A cut reply fails here, after the rows read.
    StreamStatus finish();

    // Why the stream failed ("" otherwise); valid while the stream lives.
    const char *error() const;
    // True once a set's rows have begun: from then on the reply has a grid.
    bool began() const;
    // Result sets completed so far.
    uint64_t sets() const;

private:
    struct Impl;
    Impl *impl_;
};

}  // namespace tarn
