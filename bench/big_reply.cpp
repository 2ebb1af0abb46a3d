#include "big_reply.h"

#include <cstdio>

namespace tarn_bench {

std::string big_reply(long rows) {
    std::string out =
        "{\"columns\":[\"id\",\"name\",\"price\",\"qty\",\"city\",\"ratio\",\"delta\",\"code\"],"
        "\"rows\":[";
    // Rows run to 101 bytes: a short reserve at 10,000,000 rows would double
    // the buffer to 2 GB.
    out.reserve(static_cast<size_t>(rows) * 102 + 256);
    char row[256];
    for (long i = 0; i < rows; ++i) {
        int n = snprintf(row, sizeof row,
                         "%s[%ld,\"customer-%07ld@example.org\",%.2f,%ld,\"city-%03ld-north\",%.6f,"
                         "%ld,\"CODE-%05ld\"]",
                         i ? "," : "", i, i, static_cast<double>(i % 100000) * 0.37, i % 977,
                         i % 613, static_cast<double>(i % 7919) / 7919.0, -(i % 100003), i % 99991);
        out.append(row, static_cast<size_t>(n));
    }
    out += "]}";
    return out;
}

}  // namespace tarn_bench
