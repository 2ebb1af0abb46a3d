// tarn: one command line becomes one request to the management service.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "tarn_client.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

namespace {

constexpr const char *kUsage = "see source header for usage; run --help-commands for the list\n";
constexpr const char *kCommandList =
    "commands: ping connections save-connection delete-connection\n"
    " test-connection tree query cancel cancel-spid editgrid-load\n"
    " editgrid-apply script activity kill storage storage-post\n"
    " admin job  (each --host URL first; env TARN_HOST/TARN_NODE_PWD/TARN_NODE_JWT)\n";

constexpr int kPreviewRows = 20;
constexpr int kPreviewCols = 32;

// The words after the command word; an optional word that is missing
// reads as the empty text.
struct Args {
    char **words;  // words[0] is the command word
    int count;     // entries in words, command word included

    const char *text(int i) const { return i < count ? words[i] : ""; }
    const char *text_or_null(int i) const { return i < count ? words[i] : nullptr; }
    int number(int i, int absent_value) const { return i < count ? atoi(words[i]) : absent_value; }
};

struct Command {
    const char *word;
    int needed;  // words required after the command word
    int (*run)(const Args &a);
};

const Command kCommands[] = {
    {"ping", 0, [](const Args &) { return tarn_client_ping(); }},
    {"connections", 0, [](const Args &) { return tarn_client_list_connections(); }},
    {"save-connection", 1, [](const Args &a) { return tarn_client_save_connection(a.text(1)); }},
    {"delete-connection", 1,
     [](const Args &a) { return tarn_client_delete_connection(a.text(1)); }},
    {"test-connection", 1, [](const Args &a) { return tarn_client_test_connection(a.text(1)); }},
    {"tree", 2,
     [](const Args &a) {
         return tarn_client_tree(a.text(1), a.text(2), a.text(3), a.text(4), a.text(5));
     }},
    {"query", 3,
     [](const Args &a) {
         return tarn_client_query(a.text(1), a.text(2), a.text(3), a.number(4, 0), a.number(5, 0),
                                  a.text(6));
     }},
    {"cancel", 2, [](const Args &a) { return tarn_client_cancel(a.text(1), a.text(2)); }},
    {"cancel-spid", 2,
     [](const Args &a) { return tarn_client_cancel_spid(a.text(1), a.number(2, 0)); }},
    {"editgrid-load", 4,
     [](const Args &a) {
         return tarn_client_editgrid_load(a.text(1), a.text(2), a.text(3), a.text(4),
                                          a.number(5, 200));
     }},
    {"editgrid-apply", 1, [](const Args &a) { return tarn_client_editgrid_apply(a.text(1)); }},
    {"script", 3,
     [](const Args &a) {
         return tarn_client_script(a.text(1), a.text(2), a.text(3), a.text(4), a.text(5),
                                   a.text(6));
     }},
    {"activity", 1,
     [](const Args &a) { return tarn_client_activity(a.text(1), a.text_or_null(2)); }},
    {"kill", 2, [](const Args &a) { return tarn_client_activity_kill(a.text(1), a.number(2, 0)); }},
    {"storage", 2,
     [](const Args &a) { return tarn_client_storage(a.text(1), a.text(2), a.text(3)); }},
    {"storage-post", 2,
     [](const Args &a) { return tarn_client_storage_post(a.text(1), a.text(2)); }},
    {"admin", 2,
     [](const Args &a) { return tarn_client_admin(a.text(1), a.text(2), a.text(3), a.text(4)); }},
    {"job", 3,
     [](const Args &a) { return tarn_client_job_control(a.text(1), a.text(2), a.text(3)); }},
    {"tls-pin", 0, [](const Args &) { return tarn_client_tls_pin(); }},
};

bool is_help(const char *word) {
    return strcmp(word, "--help") == 0 || strcmp(word, "-h") == 0 || strcmp(word, "help") == 0 ||
           strcmp(word, "--help-commands") == 0;
}

const Command *find_command(const Args &a) {
    for (const Command &c : kCommands)
        if (strcmp(a.words[0], c.word) == 0) return a.count - 1 >= c.needed ? &c : nullptr;
    return nullptr;
}

void print_preview() {
    int rows = tarn_client_row_count();
    int cols = tarn_client_col_count();
    printf("# grid: %d rows x %d cols\n", rows, cols);
    int show_rows = rows < kPreviewRows ? rows : kPreviewRows;
    int show_cols = cols < kPreviewCols ? cols : kPreviewCols;
    for (int r = 0; r < show_rows; ++r) {
        for (int c = 0; c < show_cols; ++c)
            printf("%s%s", c == 0 ? "" : "\t", tarn_client_cell(r, c));
        fputs("\n", stdout);
    }
}

}  // namespace

int main(int argc, char **argv) {
#ifdef _WIN32
    // Scripts read these bytes: no "\r" added before each "\n".
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
#endif
    if (argc <= 1) {
        fputs(kUsage, stderr);
        return 2;
    }

    // The word list holds references to argv, minus every "--host URL" pair.
    auto **words = static_cast<char **>(malloc(sizeof(char *) * static_cast<size_t>(argc)));
    if (words == nullptr) {
        fputs("out of memory\n", stderr);
        return 1;
    }
    int count = 0;
    const char *host = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (strcmp(argv[i], "--host") == 0 && i + 1 < argc) {
            host = argv[++i];
            continue;
        }
        words[count++] = argv[i];
    }
    if (count == 0) {  // only --host pairs: there is no command word
        free(words);
        fputs(kUsage, stderr);
        return 2;
    }
    const Args args{words, count};

    if (is_help(words[0])) {
        fputs(kCommandList, stderr);
        free(words);
        return 0;
    }

    if (tarn_client_init() != 0) {
        fprintf(stderr, "init failed: %s\n", tarn_client_last_error());
        free(words);
        return 1;
    }
    tarn_client_set_host(host != nullptr && host[0] != '\0' ? host : getenv("TARN_HOST"));
    // Read both before setting either.
    const char *pwd = getenv("TARN_NODE_PWD");
    const char *jwt = getenv("TARN_NODE_JWT");
    if (pwd != nullptr) tarn_client_set_password(pwd);
    if (jwt != nullptr) tarn_client_set_jwt(jwt);
    // A policy asked for but not understood must not fall back to "any".
    const char *tls = getenv("TARN_TLS");
    if (tls != nullptr && tarn_client_set_tls(tls) != 0) {
        fprintf(stderr, "ERROR: %s\n", tarn_client_last_error());
        free(words);
        tarn_client_cleanup();
        return 2;
    }

    const Command *cmd = find_command(args);
    if (cmd == nullptr) {
        fprintf(stderr, "unknown/incomplete command: %s\n", words[0]);
        free(words);
        tarn_client_cleanup();
        return 2;
    }
    if (cmd->run(args) != 0) {
        fprintf(stderr, "ERROR: %s\n", tarn_client_last_error());
        free(words);
        tarn_client_cleanup();
        return 1;
    }

    printf("%s\n", tarn_client_result());
    if (tarn_client_row_count() >= 0) print_preview();
    free(words);
    tarn_client_cleanup();
    return 0;
}
