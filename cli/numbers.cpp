// Number words: strict, so a typo or an overflow never becomes another
// number (atoi read "1O2" as 1 and 4294967297 as 1).
#include "numbers.h"

#include <cstdint>

namespace tarn_cli {

bool parse_number_word(const char *word, int *out) {
    const char *p = word;
    bool negative = false;
    if (*p == '\0') {
        *out = 0;
        return true;
    }
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    if (*p == '\0') return false;
    int64_t value = 0;
    for (; *p != '\0'; ++p) {
        if (*p < '0' || *p > '9') return false;
        value = value * 10 + (*p - '0');
        if (value > INT64_C(2147483648)) return false;
    }
    if (negative) value = -value;
    if (value > INT32_MAX || value < INT32_MIN) return false;
    *out = static_cast<int>(value);
    return true;
}

}  // namespace tarn_cli
