// A resumable JSON scanner: every token may be split across feeds, so the
// scanner keeps its place inside strings, numbers and literals, and decodes
// each row's cells into one reusable buffer. This part follows the
// document's structure; row_stream_tokens.cpp reads the tokens.
#include <cstring>

#include "row_stream_chars.h"
#include "row_stream_impl.h"
#include "tarn_client.h"

namespace tarn {

using namespace stream_chars;

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

}  // namespace tarn
