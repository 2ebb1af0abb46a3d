// One result set of a taken result, as the printers read grids.
#pragma once

#include <string>

#include "grid_source.h"
#include "tarn_client.h"

namespace tarn_cli {

class ResultGrid : public GridSource {
public:
    ResultGrid(tarn_result *r, int set) : r_(r), set_(set) {}
    int row_count() const override;
    int col_count() const override;
    const char *col_name(int col) const override;
    int cell_kind(int row, int col) const override;
    const char *cell_text(int row, int col, size_t *n) const override;
    // Numbers as the reply wrote them; strings escaped as JSON strings.
    const char *cell_json(int row, int col, size_t *n) const override;

private:
    // Every read selects the set first: one result serves all its sets.
    tarn_result *select() const;

    tarn_result *r_;
    int set_;
    mutable std::string json_;
};

}  // namespace tarn_cli
