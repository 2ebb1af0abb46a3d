// Byte classes and the runs the streaming scanner skips eight bytes at a
// time, shared by its structural and token parts.
#pragma once

#include <cstdint>
#include <cstring>

namespace tarn::stream_chars {

enum : uint8_t { kWs = 1, kStringStop = 2, kDigit = 4 };

constexpr auto kClass = [] {
    struct Table {
        uint8_t c[256] = {};
    } t;
    for (int i = 0; i < 0x20; ++i) t.c[i] = kStringStop;
    t.c[static_cast<unsigned char>('"')] = kStringStop;
    t.c[static_cast<unsigned char>('\\')] = kStringStop;
    for (int i = '0'; i <= '9'; ++i) t.c[i] = kDigit;
    t.c[static_cast<unsigned char>(' ')] |= kWs;
    t.c[static_cast<unsigned char>('\t')] |= kWs;
    t.c[static_cast<unsigned char>('\n')] |= kWs;
    t.c[static_cast<unsigned char>('\r')] |= kWs;
    return t;
}();

inline bool is(unsigned char c, uint8_t what) {
    return (kClass.c[c] & what) != 0;
}

// The first byte from p on that ends a run of plain string bytes: '"', '\\'
// or a control byte; end when there is none. Eight bytes at a time.
inline const char *plain_run(const char *p, const char *end) {
    constexpr uint64_t kOnes = 0x0101010101010101ULL;
    constexpr uint64_t kHighs = 0x8080808080808080ULL;
    while (end - p >= 8) {
        uint64_t v = 0;
        memcpy(&v, p, 8);
        uint64_t quote = v ^ (kOnes * '"');
        uint64_t slash = v ^ (kOnes * '\\');
        uint64_t hits =
            ((quote - kOnes) & ~quote) | ((slash - kOnes) & ~slash) | ((v - kOnes * 0x20) & ~v);
        hits &= kHighs;
        // Bytes are loaded little-endian: the lowest hit is the first (a
        // borrow only runs on from a hit, into later bytes).
        if (hits != 0) return p + (__builtin_ctzll(hits) >> 3);
        p += 8;
    }
    while (p < end && !is(static_cast<unsigned char>(*p), kStringStop)) ++p;
    return p;
}

// The first byte from p on that is no digit, or end.
inline const char *digit_run(const char *p, const char *end) {
    constexpr uint64_t kOnes = 0x0101010101010101ULL;
    constexpr uint64_t kHighs = 0x8080808080808080ULL;
    while (end - p >= 8) {
        uint64_t v = 0;
        memcpy(&v, p, 8);
        uint64_t x = v - kOnes * '0';  // a digit byte becomes 0 to 9
        uint64_t other = ((x + kOnes * 0x76) | x) & kHighs;
        if (other != 0) return p + (__builtin_ctzll(other) >> 3);
        p += 8;
    }
    while (p < end && static_cast<unsigned char>(*p - '0') < 10) ++p;
    return p;
}

inline int hex_value(unsigned char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace tarn::stream_chars
