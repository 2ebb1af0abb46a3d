#include "line_input.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "interrupt.h"

#ifdef TARN_HAVE_LIBEDIT
#include <fcntl.h>
#include <histedit.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <clocale>
#include <cwchar>
#endif

namespace tarn_cli {
namespace {

// Lines from standard input as they come: scripts, and the console's own
// line input on Windows.
class PlainInput : public LineInput {
public:
    explicit PlainInput(bool show_prompt) : show_prompt_(show_prompt) {}
    Read read(const std::string &prompt, std::string *line) override {
        if (show_prompt_) {
            fputs(prompt.c_str(), stdout);
            fflush(stdout);
        }
        line->clear();
        char buf[4096];
        for (;;) {
            if (fgets(buf, sizeof buf, stdin) == nullptr) {
                if (interrupt_count() > 0) {
                    clearerr(stdin);
                    if (show_prompt_) fputs("\n", stdout);
                    return Read::Interrupted;
                }
                return line->empty() ? Read::End : Read::Line;
            }
            *line += buf;
            if (!line->empty() && line->back() == '\n') break;
        }
        while (!line->empty() && (line->back() == '\n' || line->back() == '\r')) line->pop_back();
        return Read::Line;
    }
    void remember(const std::string &) override {}

private:
    bool show_prompt_;
};

#ifdef TARN_HAVE_LIBEDIT

bool make_dirs(const std::string &path) {
    for (size_t i = 1; i <= path.size(); ++i) {
        if (i < path.size() && path[i] != '/') continue;
        if (mkdir(path.substr(0, i).c_str(), 0700) != 0 && errno != EEXIST) return false;
    }
    return true;
}

class EditInput : public LineInput {
public:
    EditInput(std::string history_path, CompletionContext context)
        : path_(std::move(history_path)), context_(std::move(context)) {
        setlocale(LC_CTYPE, "");
        hist_ = history_init();
        HistEvent ev;
        history(hist_, &ev, H_SETSIZE, 1000);
        history(hist_, &ev, H_SETUNIQUE, 1);
        if (!path_.empty()) history(hist_, &ev, H_LOAD, path_.c_str());
        el_ = el_init("tarn", stdin, stdout, stderr);
        el_set(el_, EL_CLIENTDATA, this);
        el_set(el_, EL_EDITOR, "emacs");
        el_set(el_, EL_HIST, history, hist_);
        el_set(el_, EL_PROMPT, &EditInput::prompt_of);
        el_set(el_, EL_GETCFN, &EditInput::next_char);
        // The narrow EL_ADDFN keeps copies of both names that el_end never frees.
        el_wset(el_, EL_ADDFN, L"tarn-complete", L"complete a name", &EditInput::on_tab);
        el_set(el_, EL_BIND, "^I", "tarn-complete", nullptr);
        el_wset(el_, EL_ADDFN, L"tarn-interrupt", L"clear the line", &EditInput::on_interrupt);
        el_set(el_, EL_BIND, "^C", "tarn-interrupt", nullptr);
    }
    ~EditInput() override {
        el_end(el_);
        history_end(hist_);
    }

    Read read(const std::string &prompt, std::string *line) override {
        prompt_ = prompt;
        interrupted_ = false;
        int count = 0;
        const char *text = el_gets(el_, &count);
        if (interrupted_) {
            // libedit leaves the cursor on the cleared line.
            fputs("^C\n", stdout);
            fflush(stdout);
            clear_interrupts();
            return Read::Interrupted;
        }
        if (text == nullptr || count <= 0) return Read::End;
        line->assign(text, static_cast<size_t>(count));
        while (!line->empty() && (line->back() == '\n' || line->back() == '\r')) line->pop_back();
        return Read::Line;
    }

    void remember(const std::string &line) override {
        if (line.find_first_not_of(" \t") == std::string::npos) return;
        HistEvent ev;
        history(hist_, &ev, H_ENTER, line.c_str());
        save();
    }

private:
    static EditInput *self(EditLine *el) {
        void *data = nullptr;
        el_get(el, EL_CLIENTDATA, &data);
        return static_cast<EditInput *>(data);
    }

    static char *prompt_of(EditLine *el) { return self(el)->prompt_.data(); }

    // Waits for a key or Ctrl-C; Ctrl-C comes back as the key bound to
    // clearing the line, since the signal itself never reaches libedit.
    static int next_char(EditLine *el, wchar_t *out) {
        EditInput *in = self(el);
        for (;;) {
            pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {interrupt_fd(), POLLIN, 0}};
            if (interrupt_count() > 0) {
                clear_interrupts();
                *out = L'\x03';
                return 1;
            }
            if (poll(fds, fds[1].fd >= 0 ? 2 : 1, -1) < 0 && errno != EINTR) return -1;
            if (fds[0].revents == 0) continue;
            char byte = 0;
            ssize_t n = ::read(STDIN_FILENO, &byte, 1);
            if (n == 0) return 0;
            if (n < 0) {
                if (errno == EINTR) continue;
                return -1;
            }
            wchar_t wc = 0;
            size_t r = mbrtowc(&wc, &byte, 1, &in->mb_);
            if (r == static_cast<size_t>(-2)) continue;  // more bytes to come
            if (r == static_cast<size_t>(-1)) {
                in->mb_ = mbstate_t{};
                wc = static_cast<unsigned char>(byte);
            }
            *out = wc;
            return 1;
        }
    }

    static unsigned char on_interrupt(EditLine *el, int) {
        self(el)->interrupted_ = true;
        return CC_NEWLINE;
    }

    static unsigned char on_tab(EditLine *el, int) {
        EditInput *in = self(el);
        const LineInfo *li = el_line(el);
        std::string line(li->buffer, static_cast<size_t>(li->lastchar - li->buffer));
        auto cursor = static_cast<size_t>(li->cursor - li->buffer);
        std::string pending = in->context_.pending();
        std::string text = pending.empty() ? line : pending + "\n" + line;
        size_t offset = text.size() - line.size();
        Completion c = in->context_.complete(text, offset + cursor);
        if (c.candidates.empty()) return CC_REFRESH_BEEP;
        size_t typed = offset + cursor - c.word_start;
        std::string common = common_prefix(c.candidates);
        if (c.candidates.size() == 1) common += ' ';
        if (common.size() > typed || c.candidates.size() == 1) {
            el_deletestr(el, static_cast<int>(typed));
            el_insertstr(el, common.c_str());
            return CC_REDISPLAY;
        }
        fputs("\n", stdout);
        size_t shown = 0;
        for (const std::string &name : c.candidates) {
            if (++shown > 200) {
                printf("... and %zu more", c.candidates.size() - 200);
                break;
            }
            printf("%s  ", name.c_str());
        }
        fputs("\n", stdout);
        return CC_REDISPLAY;
    }

    void save() {
        if (path_.empty()) return;
        size_t slash = path_.rfind('/');
        if (slash != std::string::npos && !make_dirs(path_.substr(0, slash))) return;
        // Created private before the library writes it; kept private after.
        int fd = open(path_.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
        if (fd < 0) return;
        fchmod(fd, 0600);
        close(fd);
        HistEvent ev;
        history(hist_, &ev, H_SAVE, path_.c_str());
    }

    std::string path_;
    CompletionContext context_;
    std::string prompt_;
    History *hist_ = nullptr;
    EditLine *el_ = nullptr;
    bool interrupted_ = false;
    mbstate_t mb_{};
};

#endif

}  // namespace

std::string history_file_path() {
    const char *state = getenv("XDG_STATE_HOME");
    if (state != nullptr && state[0] == '/') return std::string(state) + "/tarn/history";
    const char *home = getenv("HOME");
#ifdef _WIN32
    if (home == nullptr || home[0] == '\0') home = getenv("USERPROFILE");
#endif
    if (home == nullptr || home[0] == '\0') return "";
    return std::string(home) + "/.local/state/tarn/history";
}

std::unique_ptr<LineInput> open_line_input(bool interactive, const std::string &history_path,
                                           CompletionContext context) {
#ifdef TARN_HAVE_LIBEDIT
    if (interactive) return std::make_unique<EditInput>(history_path, std::move(context));
#else
    (void)history_path;
    (void)context;
#endif
    return std::make_unique<PlainInput>(interactive);
}

}  // namespace tarn_cli
