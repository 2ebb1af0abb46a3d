#include "shell.h"

#include <yyjson.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "interrupt.h"
#include "line_input.h"
#include "numbers.h"
#include "output.h"
#include "shell_complete.h"
#include "shell_output.h"
#include "shell_split.h"
#include "statement.h"
#include "tarn_client.h"

#ifdef _WIN32
#include <io.h>
#define isatty _isatty
#define fileno _fileno
#else
#include <unistd.h>
#endif

namespace tarn_cli {
namespace {

enum class Expanded { Off, On, Auto };

const char *const kMetaHelp =
    "  \\c SERVER [DB]      work on another server and database\n"
    "  \\l                  list the databases\n"
    "  \\dt [PATTERN]       list tables (* and ? match any text and one character)\n"
    "  \\dv [PATTERN]       list views\n"
    "  \\di [PATTERN]       list indexes\n"
    "  \\d NAME             columns and indexes of a table or view\n"
    "  \\x [on|off|auto]    one \"column | value\" block per row (auto: when wider than the "
    "terminal)\n"
    "  \\format FORMAT      table, csv, tsv, json or raw\n"
    "  \\timing [on|off]    show how long each statement took\n"
    "  \\i FILE             run the statements in FILE\n"
    "  \\o [FILE]           write results to FILE; alone, to standard output again\n"
    "  \\watch SECONDS      repeat the last statement until Ctrl-C\n"
    "  \\activity           show server activity\n"
    "  \\kill SPID          end one server session\n"
    "  \\script [create|select] NAME   script a table or view as SQL\n"
    "  \\jobs               list the agent jobs\n"
    "  \\set [NAME [VALUE]] set a variable; :NAME, :'NAME' and :\"NAME\" are replaced\n"
    "  \\g                  send the statement (as ; does); alone, send the last one again\n"
    "  \\refresh            read table and column names anew for completion\n"
    "  \\?                  this list\n"
    "  \\q                  leave (as Ctrl-D does)\n";

// Shell-style wildcards over a whole name: * any text, ? one character.
bool glob_match(const char *pattern, const char *name) {
    for (; *pattern != '\0'; ++pattern, ++name) {
        if (*pattern == '*') {
            for (;; ++name) {
                if (glob_match(pattern + 1, name)) return true;
                if (*name == '\0') return false;
            }
        }
        if (*name == '\0' || (*pattern != '?' && *pattern != *name)) return false;
    }
    return *name == '\0';
}

class Shell {
public:
    Shell(const Plan &plan)
        : format_(plan.format_given ? plan.format : Format::Table),
          keep_going_(plan.keep_going),
          interactive_(isatty(fileno(stdin)) != 0),
          catalog_(tree_reader_),
          splitter_(vars_) {
        const Args args{plan.words.data(), static_cast<int>(plan.words.size())};
        server_ = args.text(1);
        db_ = args.text(2);
    }

    int run() {
        install_interrupt_handler();
        CompletionContext context{[this] { return splitter_.pending(); },
                                  [this](std::string_view text, size_t cursor) {
                                      return complete(text, cursor, server_, db_, catalog_);
                                  }};
        input_ = open_line_input(interactive_, interactive_ ? history_file_path() : "", context);
        std::string line;
        while (!quit_) {
            // A Ctrl-C that came while a statement ran has been answered.
            clear_interrupts();
            LineInput::Read got = input_->read(prompt(), &line);
            if (got == LineInput::Read::End) break;
            if (got == LineInput::Read::Interrupted) continue;
            input_->remember(line);
            if (!take_line(splitter_, line)) return 1;
        }
        if (!quit_ && !splitter_.pending().empty()) {
            std::string last = splitter_.pending();
            splitter_.clear();
            if (!handle_statement(last) && stop_on_error()) return 1;
        }
        if (interactive_ && !quit_) fputs("\n", stdout);
        return interactive_ ? 0 : status_;
    }

private:
    std::string prompt() const {
        std::string where = server_.empty() && db_.empty() ? "tarn" : server_ + "/" + db_;
        return where + (splitter_.open() ? "-> " : "=> ");
    }

    bool stop_on_error() const { return !interactive_ && !keep_going_; }

    // One line through a splitter; false when the shell must end with 1.
    bool take_line(StatementSplitter &splitter, const std::string &line) {
        for (const Piece &p : splitter.feed(line)) {
            bool ok = p.kind == Piece::Statement ? handle_statement(p.text) : handle_meta(p.text);
            if (!interactive_ && interrupt_count() > 0) exit_interrupted();
            if (!ok && stop_on_error()) return false;
            if (quit_) break;
        }
        return true;
    }

    [[noreturn]] static void exit_interrupted() {
        fflush(stdout);
        tarn_client_cleanup();
        exit(130);
    }

    bool fail(const std::string &message) {
        print_error_line(message.c_str());
        status_ = 1;
        return false;
    }

    bool handle_statement(const std::string &sql) {
        last_statement_ = sql;
        return run_and_print(sql);
    }

    bool run_and_print(const std::string &sql) {
        StatementTarget target{server_, db_, new_query_token()};
        Answer answer;
        std::string error;
        auto start = std::chrono::steady_clock::now();
        bool ok = false;
        {
            ElapsedTicker ticker(interactive_ && isatty(fileno(stderr)) != 0);
            StatementWatch watch(target);
            ok = run_statement(target, sql, &answer, &error);
        }
        double ms =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count();
        if (!ok) return fail(error);
        print_answer(answer, timing_ ? ms : -1);
        return true;
    }

    void print_set(const Answer &answer, int i, FILE *out) {
        const Answer::SetInfo &info = answer.info(i);
        if (!info.has_grid) {
            if (format_ == Format::Table)
                fprintf(out, "(%lld %s changed)\n", info.changes,
                        info.changes == 1 ? "row" : "rows");
            return;
        }
        const GridSource &g = answer.grid(i);
        switch (format_) {
            case Format::Table: {
                bool wide = expanded_ == Expanded::Auto && output_.to_terminal() &&
                            table_width(g) > terminal_width();
                if (expanded_ == Expanded::On || wide)
                    print_expanded(g, out);
                else
                    print_table_body(g, out, 0);
                int rows = g.row_count();
                if (info.truncated)
                    fprintf(out, "(cut by the service after %d %s)\n", rows,
                            rows == 1 ? "row" : "rows");
                else
                    fprintf(out, "(%d %s)\n", rows, rows == 1 ? "row" : "rows");
                break;
            }
            case Format::Csv:
                print_csv(g, out);
                break;
            case Format::Tsv:
                print_tsv(g, out);
                break;
            case Format::Json:
                print_json_lines(g, out);
                break;
            case Format::Raw:
                break;
        }
    }

    void print_answer(const Answer &answer, double ms) {
        FILE *out = output_.begin();
        if (format_ == Format::Raw || answer.set_count() == 0) {
            fprintf(out, "%s\n", answer.reply().c_str());
        } else {
            for (int i = 0; i < answer.set_count(); ++i) {
                if (i > 0 && format_ != Format::Json) fputc('\n', out);
                print_set(answer, i, out);
            }
        }
        if (ms >= 0) fprintf(out, "Time: %.3f ms\n", ms);
        output_.finish();
    }

    // An operation of the flat interface, then its reply printed.
    bool print_operation(int rc) {
        if (rc != 0) return fail(tarn_client_last_error());
        Answer answer;
        read_last_reply(&answer);
        print_answer(answer, -1);
        return true;
    }

    // A tree listing, its rows kept to the names that match pattern.
    bool list_tree(const char *kind, const std::string &pattern) {
        if (tarn_client_tree(server_.c_str(), kind, db_.c_str(), "", "") != 0)
            return fail(tarn_client_last_error());
        if (pattern.empty()) return print_operation(0);
        LastReplyGrid grid;
        int name_col = -1;
        for (int c = 0; c < grid.col_count() && name_col < 0; ++c)
            if (strcmp(grid.col_name(c), "name") == 0) name_col = c;
        std::vector<int> rows;
        for (int r = 0; r < grid.row_count(); ++r) {
            size_t n = 0;
            if (name_col >= 0 && glob_match(pattern.c_str(), grid.cell_text(r, name_col, &n)))
                rows.push_back(r);
        }
        RowSubset subset(grid, rows.data(), static_cast<int>(rows.size()));
        FILE *out = output_.begin();
        print_table_body(subset, out, 0);
        fprintf(out, "(%zu %s)\n", rows.size(), rows.size() == 1 ? "row" : "rows");
        output_.finish();
        return true;
    }

    bool describe(const std::string &name) {
        if (tarn_client_tree(server_.c_str(), "columns", db_.c_str(), "", name.c_str()) != 0)
            return fail(tarn_client_last_error());
        FILE *out = output_.begin();
        fprintf(out, "Columns of \"%s\"\n", name.c_str());
        LastReplyGrid grid;
        print_table_body(grid, out, 0);
        if (tarn_client_tree(server_.c_str(), "indexes", db_.c_str(), "", name.c_str()) == 0 &&
            grid.row_count() > 0) {
            fprintf(out, "\nIndexes of \"%s\"\n", name.c_str());
            print_table_body(grid, out, 0);
        }
        output_.finish();
        return true;
    }

    bool script(const std::string &action, const std::string &name) {
        int rc = -1;
        for (const char *kind : {"table", "view"}) {
            rc = tarn_client_script(server_.c_str(), action.c_str(), kind, db_.c_str(), "",
                                    name.c_str());
            if (rc == 0) break;
        }
        if (rc != 0) return fail(tarn_client_last_error());
        const char *reply = tarn_client_result();
        yyjson_doc *doc = yyjson_read(reply, strlen(reply), 0);
        yyjson_val *text = yyjson_obj_get(yyjson_doc_get_root(doc), "script");
        FILE *out = output_.begin();
        if (yyjson_is_str(text))
            fprintf(out, "%s\n", yyjson_get_str(text));
        else
            fprintf(out, "%s\n", reply);
        output_.finish();
        yyjson_doc_free(doc);
        return true;
    }

    bool connect(const std::vector<std::string> &w) {
        if (w.size() < 2) return fail("\\c needs a server: \\c SERVER [DB]");
        if (tarn_client_tree(w[1].c_str(), "databases", "", "", "") != 0)
            return fail(tarn_client_last_error());
        server_ = w[1];
        db_ = w.size() > 2 ? w[2] : "";
        fprintf(stdout, "now on %s/%s\n", server_.c_str(), db_.c_str());
        return true;
    }

    bool include(const std::string &path) {
        std::ifstream file(path, std::ios::binary);
        if (!file) return fail("cannot read " + path + ": " + strerror(errno));
        if (++include_depth_ > 16) {
            --include_depth_;
            return fail("\\i nested too deep: " + path);
        }
        StatementSplitter splitter(vars_);
        std::string line;
        bool ok = true;
        while (ok && !quit_ && std::getline(file, line)) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            ok = take_line(splitter, line);
        }
        if (ok && !quit_ && !splitter.pending().empty() && !handle_statement(splitter.pending()))
            ok = !stop_on_error();
        --include_depth_;
        return ok;
    }

    bool watch(const std::vector<std::string> &w) {
        int seconds = 0;
        if (w.size() < 2 || !parse_number_word(w[1].c_str(), &seconds) || seconds <= 0)
            return fail("\\watch needs a number of seconds above 0");
        if (last_statement_.empty()) return fail("\\watch: no statement to repeat yet");
        clear_interrupts();
        for (;;) {
            if (!run_and_print(last_statement_)) return false;
            if (wait_for_interrupt(seconds * 1000)) break;
        }
        clear_interrupts();
        return true;
    }

    bool set_variable(const std::vector<std::string> &w) {
        if (w.size() == 1) {
            for (const auto &[name, value] : vars_)
                printf("%s = '%s'\n", name.c_str(), value.c_str());
            return true;
        }
        std::string value;
        for (size_t i = 2; i < w.size(); ++i) value += w[i];
        vars_[w[1]] = value;
        return true;
    }

    bool on_off(const std::vector<std::string> &w, bool *flag, const char *what) {
        if (w.size() < 2)
            *flag = !*flag;
        else if (w[1] == "on")
            *flag = true;
        else if (w[1] == "off")
            *flag = false;
        else
            return fail(std::string(what) + " takes on or off, not " + w[1]);
        printf("%s is %s\n", what, *flag ? "on" : "off");
        return true;
    }

    bool handle_meta(const std::string &text) {
        std::vector<std::string> w = meta_words(text, vars_);
        const std::string cmd = w.empty() ? "" : w[0];
        auto arg = [&w](size_t i) { return i < w.size() ? w[i] : std::string(); };
        if (cmd == "\\q") {
            quit_ = true;
            return true;
        }
        if (cmd == "\\?") {
            fputs(kMetaHelp, stdout);
            return true;
        }
        if (cmd == "\\g") {
            if (last_statement_.empty()) return fail("\\g: no statement to send yet");
            return run_and_print(last_statement_);
        }
        if (cmd == "\\c") return connect(w);
        if (cmd == "\\l")
            return print_operation(tarn_client_tree(server_.c_str(), "databases", "", "", ""));
        if (cmd == "\\dt") return list_tree("tables", arg(1));
        if (cmd == "\\dv") return list_tree("views", arg(1));
        if (cmd == "\\di") return list_tree("indexes", arg(1));
        if (cmd == "\\d") return w.size() < 2 ? list_tree("tables", "") : describe(w[1]);
        if (cmd == "\\x") {
            if (w.size() < 2)
                expanded_ = expanded_ == Expanded::Off ? Expanded::On : Expanded::Off;
            else if (w[1] == "on")
                expanded_ = Expanded::On;
            else if (w[1] == "off")
                expanded_ = Expanded::Off;
            else if (w[1] == "auto")
                expanded_ = Expanded::Auto;
            else
                return fail("\\x takes on, off or auto, not " + w[1]);
            printf("expanded display is %s\n", expanded_ == Expanded::On    ? "on"
                                               : expanded_ == Expanded::Off ? "off"
                                                                            : "auto");
            return true;
        }
        if (cmd == "\\format") {
            if (w.size() < 2 || !parse_format(w[1].c_str(), &format_))
                return fail("\\format takes raw, table, csv, tsv or json");
            return true;
        }
        if (cmd == "\\timing") return on_off(w, &timing_, "timing");
        if (cmd == "\\i") return w.size() < 2 ? fail("\\i needs a file") : include(w[1]);
        if (cmd == "\\o") {
            std::string error;
            return output_.redirect(arg(1), &error) || fail(error);
        }
        if (cmd == "\\watch") return watch(w);
        if (cmd == "\\activity")
            return print_operation(tarn_client_activity(server_.c_str(), nullptr));
        if (cmd == "\\kill") {
            int spid = 0;
            if (w.size() < 2 || !parse_number_word(w[1].c_str(), &spid))
                return fail("\\kill needs a session id");
            return print_operation(tarn_client_activity_kill(server_.c_str(), spid));
        }
        if (cmd == "\\script") {
            if (w.size() == 2) return script("create", w[1]);
            if (w.size() == 3) return script(w[1], w[2]);
            return fail("\\script takes [create|select] NAME");
        }
        if (cmd == "\\jobs")
            return print_operation(tarn_client_admin(server_.c_str(), "jobs", db_.c_str(), ""));
        if (cmd == "\\set") return set_variable(w);
        if (cmd == "\\refresh") {
            catalog_.drop();
            return true;
        }
        return fail("unknown meta command " + cmd + " (\\? lists them)");
    }

    Format format_;
    bool keep_going_;
    bool interactive_;
    ServiceTreeReader tree_reader_;
    Catalog catalog_;
    ShellVars vars_;
    StatementSplitter splitter_;
    std::unique_ptr<LineInput> input_;
    ShellOutput output_;
    std::string server_;
    std::string db_;
    std::string last_statement_;
    Expanded expanded_ = Expanded::Off;
    bool timing_ = false;
    bool quit_ = false;
    int include_depth_ = 0;
    int status_ = 0;
};

}  // namespace

int run_shell(const Plan &plan) {
    Shell shell(plan);
    return shell.run();
}

}  // namespace tarn_cli
