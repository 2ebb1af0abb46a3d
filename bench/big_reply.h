// The large reply the benchmarks serve: a grid of n rows by 8 columns, about
// 98 bytes a row.
#pragma once

#include <string>

namespace tarn_bench {

std::string big_reply(long rows);

}  // namespace tarn_bench
