#include "fields.h"

#include <cstring>

#include "output.h"

#ifdef _WIN32
#include <io.h>
#define isatty _isatty
#define fileno _fileno
#else
#include <unistd.h>
#endif

namespace tarn_cli {

const char *column_label(const char *name, int col, char *buf, size_t cap) {
    if (name[0] != '\0') return name;
    snprintf(buf, cap, "%d", col + 1);
    return buf;
}

size_t display_width(const char *s, size_t n) {
    size_t w = 0;
    for (size_t i = 0; i < n; ++i) {
        auto b = static_cast<unsigned char>(s[i]);
        if ((b & 0xC0) == 0x80) continue;
        if (b == '\t' || b == '\n' || b == '\r')
            w += 2;
        else if (b < 0x20 || b == 0x7f)
            w += 4;
        else
            ++w;
    }
    return w;
}

void put_table_cell(FILE *out, const char *s, size_t n, size_t width, bool pad) {
    size_t w = display_width(s, n);
    if (w <= width) {
        write_escaped(out, s, n);
        for (; pad && w < width; ++w) fputc(' ', out);
        return;
    }
    size_t used = 0;
    size_t i = 0;
    while (i < n) {
        size_t end = i + 1;
        while (end < n && (static_cast<unsigned char>(s[end]) & 0xC0) == 0x80) ++end;
        size_t cw = display_width(s + i, end - i);
        if (used + cw + 1 > width) break;
        write_escaped(out, s + i, end - i);
        used += cw;
        i = end;
    }
    fputs("\xe2\x80\xa6", out);  // the ellipsis
    for (++used; pad && used < width; ++used) fputc(' ', out);
}

void put_csv_field(FILE *out, const char *s, size_t n) {
    bool quote = false;
    for (size_t i = 0; i < n && !quote; ++i)
        quote = s[i] == ',' || s[i] == '"' || s[i] == '\r' || s[i] == '\n';
    if (!quote) {
        fwrite(s, 1, n, out);
        return;
    }
    fputc('"', out);
    for (size_t i = 0; i < n; ++i) {
        if (s[i] == '"') fputc('"', out);
        fputc(s[i], out);
    }
    fputc('"', out);
}

void put_tsv_field(FILE *out, const char *s, size_t n) {
    size_t start = 0;
    for (size_t i = 0; i < n; ++i) {
        const char *esc = s[i] == '\t'   ? "\\t"
                          : s[i] == '\n' ? "\\n"
                          : s[i] == '\r' ? "\\r"
                          : s[i] == '\\' ? "\\\\"
                                         : nullptr;
        if (esc == nullptr) continue;
        fwrite(s + start, 1, i - start, out);
        fputs(esc, out);
        start = i + 1;
    }
    fwrite(s + start, 1, n - start, out);
}

void append_json_quoted(std::string *out, const char *s, size_t n) {
    *out += '"';
    for (size_t i = 0; i < n; ++i) {
        auto b = static_cast<unsigned char>(s[i]);
        if (b == '"' || b == '\\') {
            *out += '\\';
            *out += static_cast<char>(b);
        } else if (b < 0x20) {
            char esc[8];
            snprintf(esc, sizeof esc, "\\u%04x", b);
            *out += esc;
        } else {
            *out += static_cast<char>(b);
        }
    }
    *out += '"';
}

void put_json_string(FILE *out, const char *s) {
    std::string quoted;
    append_json_quoted(&quoted, s, strlen(s));
    fwrite(quoted.data(), 1, quoted.size(), out);
}

bool stdout_is_terminal() {
    return isatty(fileno(stdout)) != 0;
}

}  // namespace tarn_cli
