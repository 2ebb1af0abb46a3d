// A resumable JSON scanner: every token may be split across feeds, so the
// scanner keeps its place inside strings, numbers and literals, and decodes
// each row's cells into one reusable buffer.
#include "row_stream.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "tarn_client.h"
#include "transport/heap.h"

namespace tarn {
namespace {

// A growable array of plain values; allocation failure is reported, not
// thrown, since the library's C callers cannot catch.
template <typename T>
struct Vec {
    T *data = nullptr;
    size_t size = 0;
    size_t cap = 0;

    Vec() = default;
    Vec(const Vec &) = delete;
    Vec &operator=(const Vec &) = delete;
    ~Vec() { free(data); }

    bool reserve(size_t extra) {
        if (cap - size >= extra) return true;
        size_t want = cap < 64 ? 64 : cap * 2;
        while (want - size < extra) want *= 2;
        auto *grown = static_cast<T *>(mem_realloc(data, want * sizeof(T)));
        if (grown == nullptr) return false;
        data = grown;
        cap = want;
        return true;
    }
    bool push(const T &v) {
        if (size == cap && !reserve(1)) return false;
        data[size++] = v;
        return true;
    }
    bool append(const T *p, size_t n) {
        if (n == 0) return true;
        if (!reserve(n)) return false;
        memcpy(data + size, p, n * sizeof(T));
        size += n;
        return true;
    }
};

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

// Where the scanner is between tokens.
enum State : uint8_t {
    kValue,       // a value is due
    kFirstValue,  // after '[': a value or ']'
    kFirstKey,    // after '{': a key or '}'
    kKey,         // after ',' in an object
    kColon,
    kAfter,  // after a value: ',', a close, or the end
    kInString,
    kInNumber,
    kInLiteral,
    kDone,
    kHalted,  // failed or stopped
};

// What an open container of interest is.
enum Role : uint8_t {
    kRoot,
    kBatches,
    kBatch,
    kResults,
    kResult,
    kColumns,
    kColumn,
    kRows,
    kRowArr,
    kRowObj,
};

// What the value being read is for.
enum Target : uint8_t {
    tSkip,
    tRoot,
    tRows,
    tColumns,
    tBatches,
    tResults,
    tBatch,
    tResult,
    tColumn,
    tName,
    tTruncated,
    tRow,
    tCell,
    tRaw,  // inside an array or object cell
};

enum Out : uint8_t { kCheck, kAppend, kCappedKey };

enum Number : uint8_t { nStart, nMinus, nZero, nInt, nDot, nFrac, nE, nESign, nExp };

constexpr size_t kKeyCap = 16;  // longer keys are no key of interest
constexpr size_t kMaxDepth = 65536;

struct Frame {
    Role role;
    bool obj;
    Target member;  // object frames: what the current member's value is for
    bool seen;      // batch: its "results"; column: its "name" (first only)
};

// One entry of the row being read: an element, or a member with its key.
struct Entry {
    int kind;
    size_t key_off;
    size_t key_len;
    size_t off;
    size_t len;
};

struct NameRef {
    size_t off;
    size_t len;
    bool named;
};

enum RowKind : uint8_t { kArrayRow, kObjectRow, kScalarRow };
enum Columns : uint8_t { kColsUnknown, kColsNone, kColsArray };

// An object that may carry a set: the root, or one result.
struct Set {
    bool rows_key = false;
    bool cols_key = false;
    bool trunc_key = false;
    bool batches_key = false;
    bool truncated = false;
    Columns cols = kColsUnknown;
    bool has_rows = false;
    bool announced = false;
    FILE *spool = nullptr;  // rows read before the columns were known
    uint64_t rows = 0;
    Vec<char> names;  // column names, each followed by a NUL
    Vec<NameRef> refs;

    void reset() {
        if (spool != nullptr) fclose(spool);
        spool = nullptr;
        rows_key = cols_key = trunc_key = batches_key = truncated = false;
        cols = kColsUnknown;
        has_rows = announced = false;
        rows = 0;
        names.size = 0;
        refs.size = 0;
    }
};

uint64_t hash_bytes(const char *s, size_t n) {
    uint64_t h = 1469598103934665603ULL;
    for (size_t i = 0; i < n; ++i) h = (h ^ static_cast<unsigned char>(s[i])) * 1099511628211ULL;
    return h ^ (h >> 29);
}

}  // namespace

struct RowStream::Impl {
    RowStreamCallbacks cb{};
    void *user = nullptr;

    State state = kValue;
    StreamStatus status = StreamStatus::kOk;
    char message[160] = "";
    uint64_t consumed = 0;       // bytes of earlier feeds
    const char *base = nullptr;  // start of the current feed
    bool any_byte = false;       // a byte other than white space was seen
    uint64_t sets = 0;

    Vec<Frame> frames;
    Vec<uint8_t> deep;      // containers below the frames: 1 object, 0 array
    bool deep_raw = false;  // the deep containers form a cell, copied

    // The token being read.
    Target target = tSkip;
    Out out = kCheck;
    Vec<char> *dest = nullptr;
    bool raw = false;  // a string copied as written, quotes and escapes kept
    bool in_key = false;
    uint8_t esc = 0;  // 0, 1 after '\', 2 to 5 in the digits of \u
    uint32_t unit = 0;
    uint32_t high = 0;  // a high surrogate waiting for its low half
    Number num = nStart;
    const char *lit = nullptr;
    uint8_t lit_at = 0;
    int lit_kind = 0;
    size_t value_off = 0;
    bool key_long = false;

    Set root;
    Set result;
    Set *holder = &root;  // the innermost open object that may carry a set

    // The row being read.
    Vec<char> arena;
    Vec<Entry> entries;
    RowKind row_kind = kArrayRow;
    size_t key_off = 0;
    size_t key_len = 0;
    Vec<char> key;  // keys of the root, batches, results and column objects

    // Column matching for object rows.
    Vec<int32_t> slots;  // hash of column names: column + 1, 0 empty
    size_t mask = 0;
    Vec<int32_t> canon;  // first column of the same name
    Vec<int32_t> by_col;
    Vec<int32_t> key_col;
    Vec<StreamCell> cells;

    ~Impl() {
        root.reset();
        result.reset();
    }

    uint64_t at(const char *p) const { return consumed + static_cast<uint64_t>(p - base); }

    bool fail(const char *what, uint64_t offset) {
        if (state == kHalted) return false;
        snprintf(message, sizeof message, "malformed reply at byte %llu: %s",
                 static_cast<unsigned long long>(offset), what);
        return halt(StreamStatus::kFailed);
    }
    bool fail_text(const char *text) {
        if (state == kHalted) return false;
        snprintf(message, sizeof message, "%s", text);
        return halt(StreamStatus::kFailed);
    }
    bool oom() { return fail_text("out of memory"); }
    bool spooled_rows() const { return holder->spool != nullptr && ftell(holder->spool) > 0; }
    // Rows read before the columns came still go out; the failure stands.
    void flush_after_failure() {
        char why[sizeof message];
        memcpy(why, message, sizeof why);
        state = kAfter;
        status = StreamStatus::kOk;
        flush_spool(*holder);
        memcpy(message, why, sizeof why);
        halt(StreamStatus::kFailed);
    }
    bool halt(StreamStatus s) {
        state = kHalted;
        status = s;
        return false;
    }
    bool check(int rc) { return rc == 0 || halt(StreamStatus::kStopped); }

    bool emit(const char *p, size_t n) {
        if (out == kCheck || n == 0) return true;
        if (out == kCappedKey) {
            if (dest->size + n > kKeyCap) {
                key_long = true;
                return true;
            }
        }
        return dest->append(p, n) || oom();
    }
    bool emit_byte(char c) { return emit(&c, 1); }

    // ---- the scanner ----

    void run(const char *p, const char *end);
    const char *fast_rows(const char *p, const char *end);
    // text has at least 16 readable bytes when `roomy`.
    bool fast_cell(int kind, const char *text, size_t n, bool roomy) {
        size_t off = arena.size;
        if ((arena.cap - off < n + 17 && !arena.reserve(n + 17)) ||
            (entries.size == entries.cap && !entries.reserve(1)))
            return oom();
        char *to = arena.data + off;
        if (n <= 16 && roomy)
            memcpy(to, text, 16);  // a fixed size compiles to two moves
        else
            memcpy(to, text, n);
        to[n] = '\0';
        arena.size = off + n + 1;
        entries.data[entries.size++] = {kind, 0, 0, off, n};
        return true;
    }
    const char *string_body(const char *p, const char *end);
    const char *escape(const char *p, const char *end);
    bool code_unit(uint32_t u);
    bool flush_high() {
        uint32_t h = high;
        high = 0;
        return h == 0 || utf8(h);
    }
    bool utf8(uint32_t cp);
    const char *number_body(const char *p, const char *end);
    const char *literal_body(const char *p, const char *end);

    bool begin_value(const char *p);
    bool begin_key();
    bool end_key();
    bool end_scalar(int kind);
    bool close(char c, const char *p);
    Target value_target() const;
    bool after_value() {
        state = frames.size == 0 && deep.size == 0 ? kDone : kAfter;
        return true;
    }

    // ---- sets and rows ----

    bool begin_rows(Set &s);
    bool row_done();
    bool end_set(Set &s);
    bool announce(Set &s);
    bool derive_columns(Set &s);
    // Before the set's first row: from its columns array, else that row.
    bool name_columns(Set &s) { return s.cols == kColsArray ? announce(s) : derive_columns(s); }
    bool deliver_row(Set &s);
    bool spool_row(Set &s);
    bool flush_spool(Set &s);
    bool build_names(Set &s);
    int find_column(const Set &s, const char *k, size_t n) const;
};

// ---------------------------------------------------------------- scanner

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

// ------------------------------------------------------------ sets and rows

bool RowStream::Impl::begin_rows(Set &s) {
    s.has_rows = true;
    s.rows = 0;
    if (s.cols == kColsArray) return announce(s);
    if (s.cols == kColsNone) return true;  // named by the first row
    // The columns may still come: the rows wait on disk until they do.
    errno = 0;
    s.spool = tmpfile();
    if (s.spool == nullptr) {
        char text[128];
        snprintf(text, sizeof text, "cannot create a temporary file: %s",
                 strerror(errno != 0 ? errno : EIO));
        return fail_text(text);
    }
    return true;
}

bool RowStream::Impl::row_done() {
    Set &s = *holder;
    if (s.spool != nullptr) return spool_row(s);
    if (!s.announced && !name_columns(s)) return false;
    return deliver_row(s);
}

bool RowStream::Impl::end_set(Set &s) {
    if (s.spool != nullptr && !flush_spool(s)) return false;
    if (!s.announced && !announce(s)) return false;
    ++sets;
    StreamSetEnd e{s.rows, s.truncated};
    return cb.set_end == nullptr || check(cb.set_end(user, &e));
}

int RowStream::Impl::find_column(const Set &s, const char *k, size_t n) const {
    if (slots.size == 0) return -1;
    for (size_t i = hash_bytes(k, n) & mask;; i = (i + 1) & mask) {
        int32_t slot = slots.data[i];
        if (slot == 0) return -1;
        const NameRef &r = s.refs.data[slot - 1];
        if (r.len == n && memcmp(s.names.data + r.off, k, n) == 0) return slot - 1;
    }
}

bool RowStream::Impl::build_names(Set &s) {
    size_t n = s.refs.size;
    slots.size = 0;
    canon.size = 0;
    if (!canon.reserve(n)) return oom();
    canon.size = n;
    for (size_t c = 0; c < n; ++c) canon.data[c] = -1;
    size_t named = 0;
    for (size_t c = 0; c < n; ++c) named += s.refs.data[c].named ? 1 : 0;
    if (named == 0) return true;
    size_t size = 16;
    while (size < 2 * n) size *= 2;
    if (!slots.reserve(size)) return oom();
    slots.size = size;
    memset(slots.data, 0, size * sizeof(int32_t));
    mask = size - 1;
    for (size_t c = 0; c < n; ++c) {
        const NameRef &r = s.refs.data[c];
        if (!r.named) continue;
        const char *name = s.names.data + r.off;
        int first = find_column(s, name, r.len);
        if (first >= 0) {
            canon.data[c] = first;
            continue;
        }
        canon.data[c] = static_cast<int32_t>(c);
        size_t i = hash_bytes(name, r.len) & mask;
        while (slots.data[i] != 0) i = (i + 1) & mask;
        slots.data[i] = static_cast<int32_t>(c + 1);
    }
    return true;
}

bool RowStream::Impl::announce(Set &s) {
    s.announced = true;
    if (!build_names(s)) return false;
    size_t n = s.refs.size;
    cells.size = 0;
    if (!cells.reserve(n)) return oom();
    for (size_t c = 0; c < n; ++c) {
        const NameRef &r = s.refs.data[c];
        cells.data[c] = r.named ? StreamCell{TARN_CELL_STRING, s.names.data + r.off, r.len}
                                : StreamCell{TARN_CELL_ABSENT, "", 0};
    }
    return cb.columns == nullptr || check(cb.columns(user, cells.data, n));
}

// Without a columns array the first row names the columns.
bool RowStream::Impl::derive_columns(Set &s) {
    s.names.size = 0;
    s.refs.size = 0;
    if (row_kind != kScalarRow) {
        for (size_t i = 0; i < entries.size; ++i) {
            const Entry &e = entries.data[i];
            NameRef r{0, 0, false};
            if (row_kind == kObjectRow) {
                r = {s.names.size, e.key_len, true};
                if (!s.names.append(arena.data + e.key_off, e.key_len) || !s.names.push('\0'))
                    return oom();
            }
            if (!s.refs.push(r)) return oom();
        }
    }
    return announce(s);
}

bool RowStream::Impl::deliver_row(Set &s) {
    ++s.rows;
    if (cb.row == nullptr) return true;
    auto cell_of = [this](const Entry &e) { return StreamCell{e.kind, arena.data + e.off, e.len}; };
    if (row_kind == kScalarRow) return check(cb.row(user, nullptr, 0));
    size_t n = row_kind == kArrayRow ? entries.size : s.refs.size;
    cells.size = 0;
    if (!cells.reserve(n)) return oom();
    if (row_kind == kArrayRow) {
        for (size_t i = 0; i < n; ++i) cells.data[i] = cell_of(entries.data[i]);
        return check(cb.row(user, cells.data, n));
    }
    // Object row: each column takes the first member of its name; failing
    // that, the member at its position, unless that member's key names a
    // column (then it belongs there, not here).
    size_t members = entries.size;
    if (!by_col.reserve(n) || !key_col.reserve(members)) return oom();
    for (size_t c = 0; c < n; ++c) by_col.data[c] = -1;
    for (size_t m = 0; m < members; ++m) {
        const Entry &e = entries.data[m];
        int c = find_column(s, arena.data + e.key_off, e.key_len);
        key_col.data[m] = c;
        if (c >= 0 && by_col.data[c] < 0) by_col.data[c] = static_cast<int32_t>(m);
    }
    for (size_t c = 0; c < n; ++c) {
        int m = canon.data[c] >= 0 ? by_col.data[canon.data[c]] : -1;
        if (m < 0 && c < members && key_col.data[c] < 0) m = static_cast<int>(c);
        cells.data[c] = m >= 0 ? cell_of(entries.data[m]) : StreamCell{TARN_CELL_ABSENT, "", 0};
    }
    return check(cb.row(user, cells.data, n));
}

// A spooled row: its kind, its number of entries, then per entry the kind,
// the key's and the text's lengths and bytes.
bool RowStream::Impl::spool_row(Set &s) {
    FILE *f = s.spool;
    auto put = [f](const void *p, size_t n) { return n == 0 || fwrite(p, 1, n, f) == n; };
    uint8_t kind = row_kind;
    uint64_t n = entries.size;
    bool ok = put(&kind, 1) && put(&n, sizeof n);
    for (size_t i = 0; ok && i < entries.size; ++i) {
        const Entry &e = entries.data[i];
        uint64_t lens[2] = {e.key_len, e.len};
        auto k = static_cast<int8_t>(e.kind);
        ok = put(&k, 1) && put(lens, sizeof lens) &&
             put(arena.data + e.key_off, row_kind == kObjectRow ? e.key_len : 0) &&
             put(arena.data + e.off, e.len);
    }
    if (ok) return true;
    char text[128];
    snprintf(text, sizeof text, "cannot write a temporary file: %s", strerror(errno));
    return fail_text(text);
}

bool RowStream::Impl::flush_spool(Set &s) {
    FILE *f = s.spool;
    s.spool = nullptr;
    auto get = [f](void *p, size_t n) { return n == 0 || fread(p, 1, n, f) == n; };
    bool ok = fflush(f) == 0 && fseek(f, 0, SEEK_SET) == 0;
    uint8_t kind = 0;
    while (ok && get(&kind, 1)) {
        uint64_t n = 0;
        ok = get(&n, sizeof n);
        arena.size = 0;
        entries.size = 0;
        row_kind = static_cast<RowKind>(kind);
        for (uint64_t i = 0; ok && i < n; ++i) {
            int8_t k = 0;
            uint64_t lens[2] = {0, 0};
            ok = get(&k, 1) && get(lens, sizeof lens);
            if (!ok) break;
            size_t klen = row_kind == kObjectRow ? lens[0] : 0;
            Entry e{k, arena.size, klen, 0, lens[1]};
            if (!arena.reserve(klen + lens[1] + 2) || !entries.push({})) {
                fclose(f);
                return oom();
            }
            ok = get(arena.data + arena.size, klen);
            arena.size += klen;
            arena.data[arena.size++] = '\0';
            e.off = arena.size;
            ok = ok && get(arena.data + arena.size, e.len);
            arena.size += e.len;
            arena.data[arena.size++] = '\0';
            entries.data[entries.size - 1] = e;
        }
        if (!ok) break;
        if ((!s.announced && !name_columns(s)) || !deliver_row(s)) {
            fclose(f);
            return false;
        }
    }
    if (ok && ferror(f) != 0) ok = false;
    fclose(f);
    if (!s.announced && !announce(s)) return false;
    if (!ok) return fail_text("cannot read back a temporary file");
    return true;
}

// ------------------------------------------------------------------ facade

RowStream::RowStream(const RowStreamCallbacks &callbacks, void *user_data)
    : impl_(new (std::nothrow) Impl) {
    if (impl_ == nullptr) return;
    impl_->cb = callbacks;
    impl_->user = user_data;
}

RowStream::~RowStream() {
    delete impl_;
}

StreamStatus RowStream::feed(const char *bytes, size_t n) {
    if (impl_ == nullptr) return StreamStatus::kFailed;
    Impl &s = *impl_;
    if (s.state == kHalted) return s.status;
    s.base = bytes;
    s.run(bytes, bytes + n);
    s.consumed += n;
    if (s.status == StreamStatus::kFailed && s.spooled_rows()) s.flush_after_failure();
    return s.state == kHalted ? s.status : StreamStatus::kOk;
}

StreamStatus RowStream::finish() {
    if (impl_ == nullptr) return StreamStatus::kFailed;
    Impl &s = *impl_;
    if (s.state == kHalted) return s.status;
    // A bare number at the root ends with the reply.
    if (s.state == kInNumber && s.deep.size == 0 && s.frames.size == 0 &&
        (s.num == nZero || s.num == nInt || s.num == nFrac || s.num == nExp))
        s.end_scalar(TARN_CELL_NUMBER);
    if (s.state != kDone) {
        if (!s.any_byte) {
            s.halt(StreamStatus::kNoGrid);
            return s.status;
        }
        // Rows read before the columns came still go out.
        if (s.spooled_rows() && !s.flush_spool(*s.holder)) return s.status;
        snprintf(s.message, sizeof s.message, "the reply ends early, after %llu bytes",
                 static_cast<unsigned long long>(s.consumed));
        s.halt(StreamStatus::kFailed);
        return s.status;
    }
    s.state = kHalted;
    s.status = s.sets != 0 ? StreamStatus::kOk : StreamStatus::kNoGrid;
    return s.status;
}

const char *RowStream::error() const {
    if (impl_ == nullptr) return "out of memory";
    return impl_->status == StreamStatus::kFailed ? impl_->message : "";
}

uint64_t RowStream::sets() const {
    return impl_ != nullptr ? impl_->sets : 0;
}

}  // namespace tarn
