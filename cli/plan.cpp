// Options may stand anywhere on the line, as --host always could; "--"
// ends them so that a word such as "-v" can still be sent.
#include "plan.h"

#include <cstring>

#include "numbers.h"

namespace tarn_cli {
namespace {

bool is_help(const char *word) {
    return strcmp(word, "--help") == 0 || strcmp(word, "-h") == 0 || strcmp(word, "help") == 0 ||
           strcmp(word, "--help-commands") == 0;
}

}  // namespace

bool parse_format(const char *word, Format *out) {
    static const struct {
        const char *name;
        Format format;
    } kFormats[] = {{"raw", Format::Raw},
                    {"table", Format::Table},
                    {"csv", Format::Csv},
                    {"tsv", Format::Tsv},
                    {"json", Format::Json}};
    for (const auto &f : kFormats)
        if (strcmp(word, f.name) == 0) {
            *out = f.format;
            return true;
        }
    return false;
}

namespace {

Plan usage_error(std::string text) {
    Plan p;
    p.step = Step::UsageError;
    p.error = std::move(text);
    return p;
}

// The command word and its words are known: check the number words.
void plan_command(Plan &p) {
    p.command = find_command(p.words[0]);
    int after = static_cast<int>(p.words.size()) - 1;
    if (p.command == nullptr || after < p.command->needed) {
        p.step = Step::Unknown;
        return;
    }
    for (const NumberWord &n : p.command->numbers) {
        if (n.pos == 0 || n.pos > after) continue;
        int value = 0;
        if (!parse_number_word(p.words[static_cast<size_t>(n.pos)], &value)) {
            p.step = Step::UsageError;
            p.error = std::string("invalid number for ") + n.name + ": " +
                      p.words[static_cast<size_t>(n.pos)] + "\n";
            return;
        }
    }
    p.step = Step::Run;
}

}  // namespace

std::string usage_line(const Command &c) {
    std::string line = std::string("usage: tarn ") + c.word;
    if (c.words[0] != '\0') line += std::string(" ") + c.words;
    return line + "\n";
}

Plan make_plan(int argc, const char *const *argv) {
    Plan p;
    if (argc <= 1) return p;
    bool options = true;
    bool version = false;
    for (int i = 1; i < argc; ++i) {
        const char *a = argv[i];
        bool has_value = i + 1 < argc;
        if (options) {
            if (strcmp(a, "--") == 0) {
                options = false;
                continue;
            }
            if (strcmp(a, "--host") == 0 && has_value) {
                p.host = argv[++i];
                continue;
            }
            if (strcmp(a, "--format") == 0) {
                if (!has_value) return usage_error("missing value for --format\n");
                if (!parse_format(argv[++i], &p.format))
                    return usage_error(std::string("unknown format: ") + argv[i] +
                                       " (raw, table, csv, tsv, json)\n");
                p.format_given = true;
                continue;
            }
            if (strcmp(a, "--max-time") == 0) {
                if (!has_value) return usage_error("missing value for --max-time\n");
                const char *w = argv[++i];
                if (w[0] == '\0' || !parse_number_word(w, &p.max_time) || p.max_time < 0)
                    return usage_error(std::string("invalid number for --max-time: ") + w + "\n");
                continue;
            }
            if (strcmp(a, "--keep-going") == 0) {
                p.keep_going = true;
                continue;
            }
            if (strcmp(a, "-v") == 0 || strcmp(a, "--verbose") == 0) {
                p.verbose = true;
                continue;
            }
            if (strcmp(a, "-V") == 0 || strcmp(a, "--version") == 0) {
                version = true;
                continue;
            }
        }
        p.words.push_back(a);
    }
    if (version) {
        p.step = Step::Version;
        return p;
    }
    if (p.words.empty()) return p;  // only options: there is no command word
    if (is_help(p.words[0])) {
        p.command = p.words.size() > 1 ? find_command(p.words[1]) : nullptr;
        p.step = p.command != nullptr ? Step::CommandHelp : Step::CommandList;
        return p;
    }
    plan_command(p);
    return p;
}

}  // namespace tarn_cli
