// The streaming scanner's tokens: strings with their escapes, numbers and
// literals, each resumable where a feed cuts it, and the fast path for
// array rows of plain cells.
#include <cstring>

#include "row_stream_chars.h"
#include "row_stream_impl.h"
#include "tarn_client.h"

namespace tarn {

using namespace stream_chars;

// Array rows of plain cells, the bulk of an export, read without the token
// machine: where the code is says what is due. Anything else (a token the
// feed cuts, an escape, a container, an error) is left to the machine at the
// token where it starts, with the state that token needs.
const char *RowStream::Impl::fast_rows(const char *p, const char *end) {
    auto digit = [](char ch) { return static_cast<unsigned char>(ch - '0') < 10; };
    auto skip_ws = [&] {
        while (p < end && static_cast<unsigned char>(*p) <= ' ' &&
               is(static_cast<unsigned char>(*p), kWs))
            ++p;
    };
    auto enter_row = [&] {
        entries.size = 0;
        arena.size = 0;
        row_kind = kArrayRow;
        return frames.push({kRowArr, false, tSkip, false}) || oom();
    };
    bool first = state == kFirstValue;
    if (frames.data[frames.size - 1].role == kRows) {
        skip_ws();
        if (state == kAfter) {
            if (p == end || *p != ',') return p;
            ++p;
            state = kValue;
            skip_ws();
        }
        if (p == end || *p != '[') return p;
        ++p;
        if (!enter_row()) return nullptr;
        first = true;
    } else if (state == kAfter) {
        goto after_cell;
    }
    for (;;) {
        // A cell, or the close of an empty row, is due.
        state = first ? kFirstValue : kValue;
        skip_ws();
        if (p == end) return p;
        {
            char c = *p;
            if (c == '"') {
                const char *q = plain_run(p + 1, end);
                if (q == end || *q != '"') return p;
                if (!fast_cell(TARN_CELL_STRING, p + 1, static_cast<size_t>(q - p - 1),
                               end - p > 16))
                    return nullptr;
                p = q + 1;
            } else if (c == '-' || digit(c)) {
                const char *q = p + (c == '-' ? 1 : 0);
                if (q == end || !digit(*q)) return p;
                q = *q == '0' ? q + 1 : digit_run(q, end);
                if (q < end && *q == '.') {
                    const char *d = ++q;
                    q = digit_run(q, end);
                    if (q == d) return p;
                }
                if (q < end && (*q == 'e' || *q == 'E')) {
                    ++q;
                    if (q < end && (*q == '+' || *q == '-')) ++q;
                    const char *d = q;
                    q = digit_run(q, end);
                    if (q == d) return p;
                }
                if (q == end) return p;  // the next feed may carry more digits
                if (!fast_cell(TARN_CELL_NUMBER, p, static_cast<size_t>(q - p), end - p > 16))
                    return nullptr;
                p = q;
            } else if (c == ']' && first) {
                goto row_end;
            } else {
                size_t left = static_cast<size_t>(end - p);
                if (c == 'n' && left >= 4 && memcmp(p, "null", 4) == 0) {
                    if (!fast_cell(TARN_CELL_NULL, p, 0, false)) return nullptr;
                    p += 4;
                } else if (c == 't' && left >= 4 && memcmp(p, "true", 4) == 0) {
                    if (!fast_cell(TARN_CELL_BOOL, p, 4, false)) return nullptr;
                    p += 4;
                } else if (c == 'f' && left >= 5 && memcmp(p, "false", 5) == 0) {
                    if (!fast_cell(TARN_CELL_BOOL, p, 5, false)) return nullptr;
                    p += 5;
                } else {
                    return p;
                }
            }
        }
    after_cell:
        state = kAfter;
        skip_ws();
        if (p == end) return p;
        if (*p == ',') {
            ++p;
            first = false;
            continue;
        }
        if (*p != ']') return p;
    row_end:
        ++p;
        --frames.size;
        state = kAfter;
        if (!row_done()) return nullptr;
        // Between rows: ',' and the next row, or the machine takes over.
        skip_ws();
        if (p == end || *p != ',') return p;
        ++p;
        state = kValue;
        skip_ws();
        if (p == end || *p != '[') return p;
        ++p;
        if (!enter_row()) return nullptr;
        first = true;
    }
}

const char *RowStream::Impl::string_body(const char *p, const char *end) {
    for (;;) {
        if (esc != 0) {
            p = escape(p, end);
            if (p == nullptr) return nullptr;
            continue;
        }
        const char *run = p;
        p = plain_run(p, end);
        if (p > run) {
            if (!flush_high()) return nullptr;
            if (!emit(run, static_cast<size_t>(p - run))) return nullptr;
        }
        if (p == end) return nullptr;
        char c = *p;
        if (c == '"') {
            if (!flush_high()) return nullptr;
            if (raw && !emit_byte('"')) return nullptr;
            return p + 1;
        }
        if (c == '\\') {
            if (raw && !emit_byte('\\')) return nullptr;
            esc = 1;
            ++p;
            continue;
        }
        fail("a control byte inside a string", at(p));
        return nullptr;
    }
}

const char *RowStream::Impl::escape(const char *p, const char *end) {
    while (esc != 0) {
        if (p == end) return nullptr;
        auto c = static_cast<unsigned char>(*p);
        if (raw && !emit_byte(static_cast<char>(c))) return nullptr;
        if (esc == 1) {
            char decoded = 0;
            switch (c) {
                case '"':
                case '\\':
                case '/':
                    decoded = static_cast<char>(c);
                    break;
                case 'b':
                    decoded = '\b';
                    break;
                case 'f':
                    decoded = '\f';
                    break;
                case 'n':
                    decoded = '\n';
                    break;
                case 'r':
                    decoded = '\r';
                    break;
                case 't':
                    decoded = '\t';
                    break;
                case 'u':
                    esc = 2;
                    unit = 0;
                    ++p;
                    continue;
                default:
                    fail("an unknown escape", at(p));
                    return nullptr;
            }
            esc = 0;
            ++p;
            if (raw) return p;
            if (!flush_high()) return nullptr;
            if (!emit_byte(decoded)) return nullptr;
            return p;
        }
        int v = hex_value(c);
        if (v < 0) {
            fail("a bad \\u escape", at(p));
            return nullptr;
        }
        unit = unit * 16 + static_cast<uint32_t>(v);
        ++p;
        if (++esc == 6) {
            esc = 0;
            if (!raw && !code_unit(unit)) return nullptr;
        }
    }
    return p;
}

// One UTF-16 unit of a \u escape. A lone surrogate is kept as its
// three-byte form, as the bytes of invalid UTF-8 are.
bool RowStream::Impl::code_unit(uint32_t u) {
    if (high != 0) {
        if (u >= 0xDC00 && u <= 0xDFFF) {
            uint32_t h = high;
            high = 0;
            return utf8(0x10000 + ((h - 0xD800) << 10) + (u - 0xDC00));
        }
        if (!flush_high()) return false;
    }
    if (u >= 0xD800 && u <= 0xDBFF) {
        high = u;
        return true;
    }
    return utf8(u);
}

bool RowStream::Impl::utf8(uint32_t cp) {
    char b[4];
    size_t n = 0;
    if (cp < 0x80) {
        b[n++] = static_cast<char>(cp);
    } else if (cp < 0x800) {
        b[n++] = static_cast<char>(0xC0 | (cp >> 6));
        b[n++] = static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        b[n++] = static_cast<char>(0xE0 | (cp >> 12));
        b[n++] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        b[n++] = static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        b[n++] = static_cast<char>(0xF0 | (cp >> 18));
        b[n++] = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        b[n++] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        b[n++] = static_cast<char>(0x80 | (cp & 0x3F));
    }
    return emit(b, n);
}

const char *RowStream::Impl::number_body(const char *p, const char *end) {
    const char *start = p;
    auto digit = [](char c) { return is(static_cast<unsigned char>(c), kDigit); };
    for (;;) {
        if (p == end) {
            emit(start, static_cast<size_t>(p - start));
            return nullptr;
        }
        char c = *p;
        switch (num) {
            case nStart:
                num = c == '-' ? nMinus : c == '0' ? nZero : nInt;
                ++p;
                continue;
            case nMinus:
                if (!digit(c)) break;
                num = c == '0' ? nZero : nInt;
                ++p;
                continue;
            case nInt:
            case nFrac:
            case nExp:
                while (p < end && digit(*p)) ++p;
                if (p == end) continue;
                c = *p;
                if (num == nExp) goto done;
                [[fallthrough]];
            case nZero:
                if (c == '.' && num != nFrac) {
                    num = nDot;
                } else if (c == 'e' || c == 'E') {
                    num = nE;
                } else {
                    goto done;
                }
                ++p;
                continue;
            case nDot:
                if (!digit(c)) break;
                num = nFrac;
                ++p;
                continue;
            case nE:
                if (c == '+' || c == '-') {
                    num = nESign;
                    ++p;
                    continue;
                }
                [[fallthrough]];
            case nESign:
                if (!digit(c)) break;
                num = nExp;
                ++p;
                continue;
        }
        fail("a malformed number", at(p));
        return nullptr;
    }
done:
    if (!emit(start, static_cast<size_t>(p - start))) return nullptr;
    return p;
}

const char *RowStream::Impl::literal_body(const char *p, const char *end) {
    while (lit[lit_at] != '\0') {
        if (p == end) return nullptr;
        if (*p != lit[lit_at]) {
            fail("a value was expected", at(p));
            return nullptr;
        }
        ++p;
        ++lit_at;
    }
    return p;
}

}  // namespace tarn
