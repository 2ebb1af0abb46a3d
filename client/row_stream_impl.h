// The streaming grid reader's state, shared by its scanner
// (row_stream_scan.cpp) and its handling of sets and rows (row_stream.cpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "row_stream.h"
#include "transport/heap.h"

namespace tarn {
namespace row_stream_detail {

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

}  // namespace row_stream_detail

using namespace row_stream_detail;

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
    bool began = false;  // a set's rows array was entered

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

}  // namespace tarn
