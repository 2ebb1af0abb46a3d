// What the printers read: one result set's columns and cells. The one-shot
// program reads the library's grid; the shell reads each set of an answer.
#pragma once

#include <cstddef>

namespace tarn_cli {

class GridSource {
public:
    virtual ~GridSource() = default;
    virtual int row_count() const = 0;  // -1: no grid
    virtual int col_count() const = 0;
    virtual const char *col_name(int col) const = 0;  // "" when unnamed
    virtual int cell_kind(int row, int col) const = 0;
    // Whole cell texts; valid until the next cell read.
    virtual const char *cell_text(int row, int col, size_t *n) const = 0;
    virtual const char *cell_json(int row, int col, size_t *n) const = 0;
};

// The grid located in the library's last reply.
class LastReplyGrid : public GridSource {
public:
    int row_count() const override;
    int col_count() const override;
    const char *col_name(int col) const override;
    int cell_kind(int row, int col) const override;
    const char *cell_text(int row, int col, size_t *n) const override;
    const char *cell_json(int row, int col, size_t *n) const override;
};

// Some rows of another grid, in the order given (for \dt PATTERN).
class RowSubset : public GridSource {
public:
    RowSubset(const GridSource &base, const int *rows, int count)
        : base_(base), rows_(rows), count_(count) {}
    int row_count() const override { return count_; }
    int col_count() const override { return base_.col_count(); }
    const char *col_name(int col) const override { return base_.col_name(col); }
    int cell_kind(int row, int col) const override { return base_.cell_kind(rows_[row], col); }
    const char *cell_text(int row, int col, size_t *n) const override {
        return base_.cell_text(rows_[row], col, n);
    }
    const char *cell_json(int row, int col, size_t *n) const override {
        return base_.cell_json(rows_[row], col, n);
    }

private:
    const GridSource &base_;
    const int *rows_;
    int count_;
};

}  // namespace tarn_cli
