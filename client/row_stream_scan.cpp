// A resumable JSON scanner: every token may be split across feeds, so the
// scanner keeps its place inside strings, numbers and literals, and decodes
// each row's cells into one reusable buffer.
#include <cstring>

#include "row_stream_impl.h"
#include "tarn_client.h"

namespace tarn {
namespace {

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
const char *plain_run(const char *p, const char *end) {
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
const char *digit_run(const char *p, const char *end) {
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

int hex_value(unsigned char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

Target RowStream::Impl::value_target() const {
    if (deep.size != 0) return deep_raw ? tRaw : tSkip;
    if (frames.size == 0) return tRoot;
    const Frame &f = frames.data[frames.size - 1];
    switch (f.role) {
        case kRoot:
        case kBatch:
        case kResult:
        case kColumn:
        case kRowObj:
            return f.member;
        case kBatches:
            return tBatch;
        case kResults:
            return tResult;
        case kColumns:
            return tColumn;
        case kRows:
            return tRow;
        case kRowArr:
            return tCell;
    }
    return tSkip;
}

bool RowStream::Impl::begin_value(const char *p) {
    char c = *p;
    target = value_target();
    Target t = target;
    if (c == '{' || c == '[') {
        bool obj = c == '{';
        Role role = kRoot;
        // The nesting below the frames costs a byte a level: bounded too.
        if (deep.size >= kMaxDepth) return fail("nesting deeper than 65536 levels", at(p));
        switch (t) {
            case tRoot:
                if (!obj) goto skip;
                role = kRoot;
                break;
            case tBatches:
                if (obj) goto skip;
                root.batches_key = true;
                role = kBatches;
                break;
            case tBatch:
                if (!obj) goto skip;
                role = kBatch;
                break;
            case tResults:
                if (obj) goto skip;
                role = kResults;
                break;
            case tResult:
                if (!obj) goto skip;
                result.reset();
                holder = &result;
                role = kResult;
                break;
            case tColumns:
                if (obj) {
                    holder->cols = kColsNone;
                    if (holder->spool != nullptr && !flush_spool(*holder)) return false;
                    goto skip;
                }
                holder->names.size = 0;
                holder->refs.size = 0;
                role = kColumns;
                break;
            case tColumn:
                if (!holder->refs.push({0, 0, false})) return oom();
                if (!obj) goto skip;
                role = kColumn;
                break;
            case tRows:
                if (obj) goto skip;
                if (!begin_rows(*holder)) return false;
                role = kRows;
                break;
            case tRow:
                entries.size = 0;
                arena.size = 0;
                row_kind = obj ? kObjectRow : kArrayRow;
                role = obj ? kRowObj : kRowArr;
                break;
            case tCell:
                value_off = arena.size;
                deep_raw = true;
                if (!arena.push(c) || !deep.push(obj ? 1 : 0)) return oom();
                state = obj ? kFirstKey : kFirstValue;
                return true;
            case tRaw:
                if (!arena.push(c) || !deep.push(obj ? 1 : 0)) return oom();
                state = obj ? kFirstKey : kFirstValue;
                return true;
            default:
                goto skip;
        }
        if (!frames.push({role, obj, tSkip, false})) return oom();
        state = obj ? kFirstKey : kFirstValue;
        return true;
    skip:
        if (deep.size == 0) deep_raw = false;
        if (!deep.push(obj ? 1 : 0)) return oom();
        state = obj ? kFirstKey : kFirstValue;
        return true;
    }

    // A scalar: where its text goes.
    out = kCheck;
    raw = false;
    dest = nullptr;
    switch (t) {
        case tCell:
            out = kAppend;
            dest = &arena;
            value_off = arena.size;
            break;
        case tRaw:
            out = kAppend;
            dest = &arena;
            raw = true;
            break;
        case tColumn:
            if (!holder->refs.push({0, 0, false})) return oom();
            [[fallthrough]];
        case tName:
            if (c != '"') break;
            out = kAppend;
            dest = &holder->names;
            value_off = holder->names.size;
            break;
        case tRow:
            entries.size = 0;
            arena.size = 0;
            row_kind = kScalarRow;
            break;
        default:
            break;
    }
    if (c == '"') {
        in_key = false;
        esc = 0;
        high = 0;
        state = kInString;
        return raw ? emit_byte('"') : true;
    }
    if (c == '-' || is(static_cast<unsigned char>(c), kDigit)) {
        num = nStart;
        state = kInNumber;
        return true;
    }
    switch (c) {
        case 't':
            lit = "true";
            lit_kind = TARN_CELL_BOOL;
            break;
        case 'f':
            lit = "false";
            lit_kind = TARN_CELL_BOOL;
            break;
        case 'n':
            lit = "null";
            lit_kind = TARN_CELL_NULL;
            break;
        default:
            return fail("a value was expected", at(p));
    }
    lit_at = 0;
    state = kInLiteral;
    return true;
}

bool RowStream::Impl::begin_key() {
    in_key = true;
    esc = 0;
    high = 0;
    raw = false;
    out = kCheck;
    dest = nullptr;
    state = kInString;
    if (deep.size != 0) {
        if (!deep_raw) return true;
        raw = true;
        out = kAppend;
        dest = &arena;
        return emit_byte('"');
    }
    Role role = frames.data[frames.size - 1].role;
    if (role == kRowObj) {
        out = kAppend;
        dest = &arena;
        key_off = arena.size;
    } else {
        out = kCappedKey;
        dest = &key;
        key.size = 0;
        key_long = false;
    }
    return true;
}

bool RowStream::Impl::end_key() {
    in_key = false;
    state = kColon;
    if (deep.size != 0) return true;
    Frame &f = frames.data[frames.size - 1];
    if (f.role == kRowObj) {
        key_len = arena.size - key_off;
        f.member = tCell;
        return arena.push('\0') || oom();
    }
    f.member = tSkip;
    if (key_long) return true;
    auto is_key = [this](const char *word) {
        size_t n = strlen(word);
        return key.size == n && memcmp(key.data, word, n) == 0;
    };
    // The first member of a name counts; later ones are skipped.
    switch (f.role) {
        case kRoot:
        case kResult: {
            Set &s = f.role == kRoot ? root : result;
            bool blocked = f.role == kRoot && sets != 0;  // batches gave sets
            if (is_key("rows")) {
                if (!s.rows_key && !blocked) f.member = tRows;
                s.rows_key = true;
            } else if (is_key("columns")) {
                if (!s.cols_key && !blocked) f.member = tColumns;
                s.cols_key = true;
            } else if (is_key("truncated")) {
                if (!s.trunc_key) f.member = tTruncated;
                s.trunc_key = true;
            } else if (f.role == kRoot && is_key("batches")) {
                bool first = !s.batches_key;
                s.batches_key = true;
                // A root grid, or a root columns array, rules batches out.
                if (first && !s.has_rows && s.cols != kColsArray) f.member = tBatches;
            }
            break;
        }
        case kBatch:
        case kColumn:
            if (is_key(f.role == kBatch ? "results" : "name")) {
                if (!f.seen) f.member = f.role == kBatch ? tResults : tName;
                f.seen = true;
            }
            break;
        default:
            break;
    }
    return true;
}

bool RowStream::Impl::end_scalar(int kind) {
    switch (target) {
        case tCell: {
            if (kind == TARN_CELL_BOOL) {
                const char *word = lit[0] == 't' ? "true" : "false";
                if (!arena.append(word, strlen(word))) return oom();
            }
            Entry e{kind, key_off, key_len, value_off, arena.size - value_off};
            if (!arena.push('\0') || !entries.push(e)) return oom();
            break;
        }
        case tRaw:
            if (kind == TARN_CELL_BOOL || kind == TARN_CELL_NULL) {
                if (!arena.append(lit, strlen(lit))) return oom();
            }
            break;
        case tRow:
            if (!row_done()) return false;
            break;
        case tColumn:
        case tName:
            if (kind == TARN_CELL_STRING) {
                NameRef &r = holder->refs.data[holder->refs.size - 1];
                if (!r.named) {
                    r = {value_off, holder->names.size - value_off, true};
                    if (!holder->names.push('\0')) return oom();
                }
            }
            break;
        case tTruncated:
            holder->truncated = kind == TARN_CELL_BOOL && lit[0] == 't';
            break;
        case tColumns:
            holder->cols = kColsNone;
            if (holder->spool != nullptr && !flush_spool(*holder)) return false;
            break;
        default:
            break;
    }
    return after_value();
}

bool RowStream::Impl::close(char c, const char *p) {
    bool obj = c == '}';
    if (deep.size != 0) {
        if ((deep.data[deep.size - 1] == 1) != obj) return fail("mismatched bracket", at(p));
        --deep.size;
        if (deep_raw) {
            if (!arena.push(c)) return oom();
            if (deep.size == 0) {
                Entry e{obj ? TARN_CELL_OBJECT : TARN_CELL_ARRAY, key_off, key_len, value_off,
                        arena.size - value_off};
                if (!arena.push('\0') || !entries.push(e)) return oom();
            }
        }
        return after_value();
    }
    if (frames.size == 0) return fail("unexpected close", at(p));
    Frame f = frames.data[frames.size - 1];
    if (f.obj != obj) return fail("mismatched bracket", at(p));
    --frames.size;
    switch (f.role) {
        case kRoot:
            if (root.has_rows && !end_set(root)) return false;
            break;
        case kResult:
            if (result.has_rows && !end_set(result)) return false;
            result.reset();
            holder = &root;
            break;
        case kColumns:
            holder->cols = kColsArray;
            if (holder->spool != nullptr && !flush_spool(*holder)) return false;
            break;
        case kRowArr:
        case kRowObj:
            if (!row_done()) return false;
            break;
        default:
            break;
    }
    return after_value();
}

void RowStream::Impl::run(const char *p, const char *end) {
    while (p < end) {
        switch (state) {
            case kInString:
                p = string_body(p, end);
                if (p == nullptr) return;
                if (in_key) {
                    if (!end_key()) return;
                } else if (!end_scalar(TARN_CELL_STRING)) {
                    return;
                }
                continue;
            case kInNumber:
                p = number_body(p, end);
                if (p == nullptr) return;
                if (!end_scalar(TARN_CELL_NUMBER)) return;
                continue;
            case kInLiteral:
                p = literal_body(p, end);
                if (p == nullptr) return;
                if (!end_scalar(lit_kind)) return;
                continue;
            case kHalted:
                return;
            default:
                if (deep.size == 0 && frames.size != 0 && state != kKey && state != kFirstKey &&
                    state != kColon && state != kDone) {
                    Role role = frames.data[frames.size - 1].role;
                    if (role == kRows || role == kRowArr) {
                        p = fast_rows(p, end);
                        if (p == nullptr || p == end) return;
                    }
                }
                break;
        }
        auto c = static_cast<unsigned char>(*p);
        if (is(c, kWs)) {
            ++p;
            continue;
        }
        any_byte = true;
        switch (state) {
            case kFirstValue:
                if (c == ']') {
                    if (!close(']', p)) return;
                    ++p;
                    continue;
                }
                [[fallthrough]];
            case kValue:
                if (!begin_value(p)) return;
                // A number or literal is read from its first byte on.
                if (state != kInNumber && state != kInLiteral) ++p;
                continue;
            case kFirstKey:
                if (c == '}') {
                    if (!close('}', p)) return;
                    ++p;
                    continue;
                }
                [[fallthrough]];
            case kKey:
                if (c != '"') {
                    fail("a key was expected", at(p));
                    return;
                }
                if (!begin_key()) return;
                ++p;
                continue;
            case kColon:
                if (c != ':') {
                    fail("':' was expected", at(p));
                    return;
                }
                if (deep.size != 0 && deep_raw && !arena.push(':')) {
                    oom();
                    return;
                }
                state = kValue;
                ++p;
                continue;
            case kAfter:
                if (c == ',') {
                    bool obj = deep.size != 0 ? deep.data[deep.size - 1] == 1
                                              : frames.data[frames.size - 1].obj;
                    if (deep.size != 0 && deep_raw && !arena.push(',')) {
                        oom();
                        return;
                    }
                    state = obj ? kKey : kValue;
                    ++p;
                    continue;
                }
                if (c == ']' || c == '}') {
                    if (!close(static_cast<char>(c), p)) return;
                    ++p;
                    continue;
                }
                fail("',' or a close was expected", at(p));
                return;
            case kDone:
                fail("text after the end of the JSON", at(p));
                return;
            default:
                return;
        }
    }
}

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
