#include "stream_output.h"

#include <cerrno>
#include <cstring>

#include "fields.h"
#include "output.h"
#include "transport/temp_file.h"

namespace tarn_cli {
namespace {

constexpr size_t kBufSize = 1 << 16;

// Bytes that make a CSV field quoted.
struct CsvSpecial {
    bool byte[256] = {};
    constexpr CsvSpecial() {
        byte[static_cast<unsigned char>(',')] = true;
        byte[static_cast<unsigned char>('"')] = true;
        byte[static_cast<unsigned char>('\r')] = true;
        byte[static_cast<unsigned char>('\n')] = true;
    }
};
constexpr CsvSpecial kCsvSpecial;

// Eight bytes at a time: whether any of them is b.
inline bool has_byte(uint64_t v, unsigned char b) {
    constexpr uint64_t kOnes = 0x0101010101010101ULL;
    uint64_t x = v ^ (kOnes * b);
    return ((x - kOnes) & ~x & (kOnes << 7)) != 0;
}

inline bool csv_special_word(const char *s) {
    uint64_t v;
    memcpy(&v, s, sizeof v);
    return has_byte(v, ',') || has_byte(v, '"') || has_byte(v, '\r') || has_byte(v, '\n');
}

// Whether the field must be quoted. Exports are mostly plain text, so the
// bytes are looked at a word at a time (the last word may overlap).
inline bool csv_needs_quotes(const char *s, size_t n) {
    if (n < 8) {
        for (size_t i = 0; i < n; ++i)
            if (kCsvSpecial.byte[static_cast<unsigned char>(s[i])]) return true;
        return false;
    }
    for (size_t i = 0; i + 8 < n; i += 8)
        if (csv_special_word(s + i)) return true;
    return csv_special_word(s + n - 8);
}

// Copies n bytes to d and returns the end: most cells are short, and
// overlapping word copies beat a call for them.
inline char *copy_cell(char *d, const char *s, size_t n) {
    if (n >= 8 && n <= 16) {
        uint64_t head;
        uint64_t tail;
        memcpy(&head, s, 8);
        memcpy(&tail, s + n - 8, 8);
        memcpy(d, &head, 8);
        memcpy(d + n - 8, &tail, 8);
    } else if (n >= 4 && n < 8) {
        uint32_t head;
        uint32_t tail;
        memcpy(&head, s, 4);
        memcpy(&tail, s + n - 4, 4);
        memcpy(d, &head, 4);
        memcpy(d + n - 4, &tail, 4);
    } else if (n < 4) {
        for (size_t i = 0; i < n; ++i) d[i] = s[i];
    } else {
        memcpy(d, s, n);
    }
    return d + n;
}

// Writes a CSV field at d (room for 2n + 2 bytes); returns its end.
inline char *csv_field(char *d, const char *s, size_t n) {
    if (!csv_needs_quotes(s, n)) return copy_cell(d, s, n);
    *d++ = '"';
    for (size_t i = 0; i < n; ++i) {
        if (s[i] == '"') *d++ = '"';
        *d++ = s[i];
    }
    *d++ = '"';
    return d;
}

// The text a table or CSV/TSV shows for a cell: null and absent are empty.
bool has_text(const tarn_cell &c) {
    return c.kind != TARN_CELL_NULL && c.kind != TARN_CELL_ABSENT;
}

// A JSON lines key and its colon, escaped as the whole-grid printer does.
std::string json_key(const char *label) {
    std::string key;
    append_json_quoted(&key, label, strlen(label));
    return key + ":";
}

}  // namespace

bool streams(Format format) {
    if (format == Format::Raw) return false;
    return format != Format::Table || !stdout_is_terminal();
}

StreamPrinter::StreamPrinter(Format format, FILE *out)
    : format_(format), out_(out), buf_(kBufSize) {}

StreamPrinter::~StreamPrinter() {
    if (spool_ != nullptr) fclose(spool_);
}

const tarn_row_callbacks *StreamPrinter::callbacks() const {
    static const tarn_row_callbacks kCallbacks = {on_columns, on_row, on_set_end};
    return &kCallbacks;
}

void StreamPrinter::fail(int err, const char *what) {
    if (failed_) return;
    failed_ = true;
    errno_ = err != 0 ? err : EIO;
    what_ = what;
}

void StreamPrinter::flush() {
    if (len_ == 0) return;
    errno = 0;
    if (fwrite(buf_.data(), 1, len_, out_) != len_) fail(errno, kWriteFailed);
    len_ = 0;
}

void StreamPrinter::put(const char *s, size_t n) {
    if (buf_.size() - len_ < n) {
        flush();
        if (n >= buf_.size()) {
            errno = 0;
            if (fwrite(s, 1, n, out_) != n) fail(errno, kWriteFailed);
            return;
        }
    }
    memcpy(buf_.data() + len_, s, n);
    len_ += n;
}

void StreamPrinter::put(char c) {
    if (len_ == buf_.size()) flush();
    buf_[len_++] = c;
}

// Room for need more bytes at the end of the buffer, grown for a row
// larger than it.
char *StreamPrinter::room(size_t need) {
    if (buf_.size() - len_ < need) {
        flush();
        if (buf_.size() < need) buf_.resize(need);
    }
    return buf_.data() + len_;
}

void StreamPrinter::put_csv(const char *s, size_t n) {
    char *end = csv_field(room(2 * n + 2), s, n);
    len_ = static_cast<size_t>(end - buf_.data());
}

void StreamPrinter::put_tsv(const char *s, size_t n) {
    size_t start = 0;
    for (size_t i = 0; i < n; ++i) {
        char c = s[i];
        const char *esc = c == '\t'   ? "\\t"
                          : c == '\n' ? "\\n"
                          : c == '\r' ? "\\r"
                          : c == '\\' ? "\\\\"
                                      : nullptr;
        if (esc == nullptr) continue;
        put(s + start, i - start);
        put(esc, 2);
        start = i + 1;
    }
    put(s + start, n - start);
}

// A string cell escaped as the library's JSON cells are.
void StreamPrinter::put_json_string(const char *s, size_t n) {
    put('"');
    size_t start = 0;
    for (size_t i = 0; i < n; ++i) {
        auto b = static_cast<unsigned char>(s[i]);
        if (b >= 0x20 && b != '"' && b != '\\') continue;
        put(s + start, i - start);
        start = i + 1;
        char esc[8] = {'\\', static_cast<char>(b), 0};
        size_t len = 2;
        switch (b) {
            case '"':
            case '\\':
                break;
            case '\b':
                esc[1] = 'b';
                break;
            case '\f':
                esc[1] = 'f';
                break;
            case '\n':
                esc[1] = 'n';
                break;
            case '\r':
                esc[1] = 'r';
                break;
            case '\t':
                esc[1] = 't';
                break;
            default:
                len = static_cast<size_t>(snprintf(esc, sizeof esc, "\\u%04X", b));
        }
        put(esc, len);
    }
    put(s + start, n - start);
    put('"');
}

void StreamPrinter::put_json(const tarn_cell &cell) {
    switch (cell.kind) {
        case TARN_CELL_NULL:
            put("null", 4);
            break;
        case TARN_CELL_STRING:
            put_json_string(cell.text, cell.len);
            break;
        default:  // numbers, booleans, arrays and objects are JSON already
            put(cell.text, cell.len);
    }
}

int StreamPrinter::on_columns(void *self, int set, const tarn_cell *names, size_t count) {
    auto *p = static_cast<StreamPrinter *>(self);
    if (set > 0 && p->format_ != Format::Json) p->put('\n');
    char buf[kLabelCap];
    p->labels_.assign(count, std::string());
    p->widths_.assign(count, 0);
    for (size_t c = 0; c < count; ++c) {
        const char *name = names[c].kind == TARN_CELL_STRING ? names[c].text : "";
        const char *label = column_label(name, static_cast<int>(c), buf, sizeof buf);
        size_t n = strlen(label);
        switch (p->format_) {
            case Format::Csv:
            case Format::Tsv:
                if (c != 0) p->put(p->format_ == Format::Csv ? ',' : '\t');
                if (p->format_ == Format::Csv)
                    p->put_csv(label, n);
                else
                    p->put_tsv(label, n);
                break;
            case Format::Json:
                p->labels_[c] = json_key(label);
                break;
            default:
                p->labels_[c].assign(label, n);
                p->widths_[c] = display_width(label, n);
        }
    }
    if (p->format_ == Format::Csv) p->put("\r\n", 2);
    if (p->format_ == Format::Tsv) p->put('\n');
    if (p->format_ == Format::Table) {
        errno = 0;
        p->spool_ = tarn::open_temp_file();
        if (p->spool_ == nullptr) p->fail(errno, kSpoolFailed);
    }
    return p->failed_ ? 1 : 0;
}

int StreamPrinter::on_row(void *self, int, const tarn_cell *cells, size_t count) {
    auto *p = static_cast<StreamPrinter *>(self);
    size_t cols = p->labels_.size();
    if (count > cols) count = cols;
    switch (p->format_) {
        case Format::Csv: {
            // The row's worst case at once, then no check per byte.
            size_t need = 2 + cols;
            for (size_t c = 0; c < count; ++c) need += 2 * cells[c].len + 2;
            char *d = p->room(need);
            for (size_t c = 0; c < cols; ++c) {
                if (c != 0) *d++ = ',';
                if (c >= count || !has_text(cells[c])) continue;
                if (cells[c].kind == TARN_CELL_NUMBER || cells[c].kind == TARN_CELL_BOOL) {
                    d = copy_cell(d, cells[c].text, cells[c].len);
                } else {
                    d = csv_field(d, cells[c].text, cells[c].len);
                }
            }
            *d++ = '\r';
            *d++ = '\n';
            p->len_ = static_cast<size_t>(d - p->buf_.data());
            break;
        }
        case Format::Tsv:
            for (size_t c = 0; c < cols; ++c) {
                if (c != 0) p->put('\t');
                if (c < count && has_text(cells[c])) p->put_tsv(cells[c].text, cells[c].len);
            }
            p->put('\n');
            break;
        case Format::Json: {
            p->put('{');
            bool first = true;
            for (size_t c = 0; c < count; ++c) {
                if (cells[c].kind == TARN_CELL_ABSENT) continue;
                if (!first) p->put(',');
                first = false;
                p->put(p->labels_[c].data(), p->labels_[c].size());
                p->put_json(cells[c]);
            }
            p->put("}\n", 2);
            break;
        }
        default:
            if (!p->spool_row(cells, count)) p->fail(errno, kSpoolFailed);
    }
    return p->failed_ ? 1 : 0;
}

int StreamPrinter::on_set_end(void *self, int set, uint64_t rows, int truncated) {
    auto *p = static_cast<StreamPrinter *>(self);
    if (p->format_ == Format::Table && !p->print_spooled_table(rows)) p->fail(errno, kSpoolFailed);
    p->flush();
    ++p->sets_;
    if (truncated != 0)
        fprintf(stderr, "tarn: result set %d cut by the service after %llu rows\n", set + 1,
                static_cast<unsigned long long>(rows));
    return p->failed_ ? 1 : 0;
}

// A row of the table as it waits: each cell's length, then its bytes.
bool StreamPrinter::spool_row(const tarn_cell *cells, size_t count) {
    for (size_t c = 0; c < labels_.size(); ++c) {
        uint64_t n = c < count && has_text(cells[c]) ? cells[c].len : 0;
        if (fwrite(&n, sizeof n, 1, spool_) != 1 || fwrite(cells[c].text, 1, n, spool_) != n)
            return false;
        size_t w = n == 0 ? 0 : display_width(cells[c].text, n);
        if (w > widths_[c]) widths_[c] = w;
    }
    return true;
}

bool StreamPrinter::print_spooled_table(uint64_t rows) {
    flush();
    size_t cols = labels_.size();
    for (size_t c = 0; c < cols; ++c) {
        if (c != 0) fputs(" | ", out_);
        put_table_cell(out_, labels_[c].data(), labels_[c].size(), widths_[c], c + 1 < cols);
    }
    fputc('\n', out_);
    for (size_t c = 0; c < cols; ++c) {
        if (c != 0) fputs("-+-", out_);
        for (size_t i = 0; i < widths_[c]; ++i) fputc('-', out_);
    }
    fputc('\n', out_);
    bool ok = spool_ != nullptr && fflush(spool_) == 0 && fseek(spool_, 0, SEEK_SET) == 0;
    std::string cell;
    for (uint64_t r = 0; ok && r < rows; ++r) {
        for (size_t c = 0; ok && c < cols; ++c) {
            uint64_t n = 0;
            ok = fread(&n, sizeof n, 1, spool_) == 1;
            if (!ok) break;
            cell.resize(n);
            ok = fread(cell.data(), 1, n, spool_) == n;
            if (c != 0) fputs(" | ", out_);
            put_table_cell(out_, cell.data(), cell.size(), widths_[c], c + 1 < cols);
        }
        fputc('\n', out_);
    }
    if (spool_ != nullptr) fclose(spool_);
    spool_ = nullptr;
    fprintf(out_, "(%llu %s)\n", static_cast<unsigned long long>(rows), rows == 1 ? "row" : "rows");
    if (ferror(out_) != 0) fail(EIO, kWriteFailed);
    return ok;
}

}  // namespace tarn_cli
