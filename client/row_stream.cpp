// Result sets and rows of the streaming grid reader: columns announced
// before rows, object rows matched to columns by name, and rows kept in a
// temporary file until their columns come.
#include "row_stream.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "row_stream_impl.h"
#include "tarn_client.h"
#include "transport/temp_file.h"

namespace tarn {
namespace {

uint64_t hash_bytes(const char *s, size_t n) {
    uint64_t h = 1469598103934665603ULL;
    for (size_t i = 0; i < n; ++i) h = (h ^ static_cast<unsigned char>(s[i])) * 1099511628211ULL;
    return h ^ (h >> 29);
}

}  // namespace

bool RowStream::Impl::begin_rows(Set &s) {
    s.has_rows = true;
    s.rows = 0;
    began = true;
    if (s.cols == kColsArray) return announce(s);
    if (s.cols == kColsNone) return true;  // named by the first row
    // The columns may still come: the rows wait on disk until they do.
    errno = 0;
    s.spool = open_temp_file();
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

bool RowStream::began() const {
    return impl_ != nullptr && impl_->began;
}

uint64_t RowStream::sets() const {
    return impl_ != nullptr ? impl_->sets : 0;
}

}  // namespace tarn
