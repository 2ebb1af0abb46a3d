// tarn: one command line becomes one request to the management service.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "input.h"
#include "interrupt.h"
#include "output.h"
#include "plan.h"
#include "shell.h"
#include "stream_output.h"
#include "tarn_client.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

namespace {

using tarn_cli::Plan;
using tarn_cli::Step;

constexpr const char *kUsage = "see source header for usage; run --help-commands for the list\n";
constexpr const char *kCommandList =
    "commands: ping connections save-connection delete-connection\n"
    " test-connection tree query cancel cancel-spid editgrid-load\n"
    " editgrid-apply script activity kill storage storage-post\n"
    " admin job  (each --host URL first; env TARN_HOST/TARN_NODE_PWD/TARN_NODE_JWT)\n";

void print_command_help(const tarn_cli::Command &c) {
    fputs(tarn_cli::usage_line(c).c_str(), stdout);
    fputs(c.help, stdout);
}

// One trace line on standard error; server text may carry control bytes.
void trace_to_stderr(void *, const char *line) {
    tarn_cli::write_escaped(stderr, line, strlen(line));
    fputs("\n", stderr);
}

// Replaces a "-" or "@PATH" word by the text it names; false after
// printing why it cannot be read.
bool read_file_word(Plan &plan, tarn_cli::WordText *text) {
    auto pos = static_cast<size_t>(plan.command->file_word);
    if (pos == 0 || pos >= plan.words.size()) return true;
    std::string error;
    if (!tarn_cli::read_word_source(plan.words[pos], text, &error)) return true;
    if (!error.empty()) {
        fputs(error.c_str(), stderr);
        return false;
    }
    plan.words[pos] = text->c_str();
    return true;
}

int run(Plan &plan) {
    if (tarn_client_init() != 0) {
        fprintf(stderr, "init failed: %s\n", tarn_client_last_error());
        return 1;
    }
    tarn_client_set_host(plan.host != nullptr && plan.host[0] != '\0' ? plan.host
                                                                      : getenv("TARN_HOST"));
    // Read both before setting either.
    const char *pwd = getenv("TARN_NODE_PWD");
    const char *jwt = getenv("TARN_NODE_JWT");
    if (pwd != nullptr) tarn_client_set_password(pwd);
    if (jwt != nullptr) tarn_client_set_jwt(jwt);
    // A policy asked for but not understood must not fall back to "any".
    const char *tls = getenv("TARN_TLS");
    if (tls != nullptr && tarn_client_set_tls(tls) != 0) {
        fprintf(stderr, "ERROR: %s\n", tarn_client_last_error());
        tarn_client_cleanup();
        return 2;
    }
    if (plan.max_time >= 0) tarn_client_set_max_time(plan.max_time);
    if (plan.verbose) tarn_client_set_trace(trace_to_stderr, nullptr);
    tarn_cli::remember_connection(
        plan.host != nullptr && plan.host[0] != '\0' ? plan.host : getenv("TARN_HOST"), pwd, jwt,
        tls);

    int status = 0;
    tarn_cli::WordText file_text;
    if (plan.step == Step::Unknown) {
        fprintf(stderr, "unknown/incomplete command: %s\n", plan.words[0]);
        if (plan.command != nullptr) fputs(tarn_cli::usage_line(*plan.command).c_str(), stderr);
        status = 2;
    } else if (plan.command->run == nullptr) {
        status = tarn_cli::run_shell(plan);
    } else if (!read_file_word(plan, &file_text)) {
        status = 2;
    } else {
        tarn_cli::Args args{plan.words.data(), static_cast<int>(plan.words.size())};
        bool query = strcmp(plan.command->word, "query") == 0;
        // Exports of any size: the rows print as the reply arrives.
        std::unique_ptr<tarn_cli::StreamPrinter> rows;
        if (query && tarn_cli::streams(plan.format))
            rows = std::make_unique<tarn_cli::StreamPrinter>(plan.format, stdout);
        args.rows = rows.get();
        // Ctrl-C stops the exchange, and a query on the service too.
        tarn_cli::install_interrupt_handler();
        int rc;
        if (query) {
            rc = plan.command->run(args);
        } else {
            tarn_cli::AbortWatch watch;
            rc = plan.command->run(args);
        }
        tarn_cli::restore_default_interrupt();
        if (rows) rows->flush();
        bool lost_output = rows && rows->failed();
        if (lost_output) {
            // Said once, by finish_output, when the output itself failed.
            if (strcmp(rows->failure(), tarn_cli::StreamPrinter::kWriteFailed) == 0)
                tarn_cli::note_output_error(rows->errno_value());
            else
                tarn_cli::print_error_line(
                    (std::string(rows->failure()) + ": " + strerror(rows->errno_value())).c_str());
        } else if (rc != 0) {
            tarn_cli::print_error_line(tarn_client_last_error());
        }
        if (tarn_cli::interrupt_count() > 0) {
            status = 130;
        } else if (rc != 0 || lost_output) {
            status = 1;
        } else if (rows) {
            if (rows->sets() == 0) tarn_cli::print_reply_without_grid();
        } else {
            tarn_cli::print_result(plan.format);
        }
    }
    tarn_client_cleanup();
    return status;
}

int run_steps(int argc, char **argv) {
#ifdef _WIN32
    // Scripts read these bytes: no "\r" added before each "\n".
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
#endif
    Plan plan = tarn_cli::make_plan(argc, argv);
    switch (plan.step) {
        case Step::Usage:
            fputs(kUsage, stderr);
            return 2;
        case Step::UsageError:
            fputs(plan.error.c_str(), stderr);
            return 2;
        case Step::CommandList:
            fputs(kCommandList, stderr);
            return 0;
        case Step::CommandHelp:
            print_command_help(*plan.command);
            return 0;
        case Step::Version:
            printf("tarn %s\n%s\n", TARN_PROGRAM_VERSION, tarn_client_version());
            return 0;
        case Step::Unknown:
        case Step::Run:
            break;
    }
    return run(plan);
}

}  // namespace

int main(int argc, char **argv) {
    int status = run_steps(argc, argv);
    // Output that could not be written is a failure, whatever ran.
    if (!tarn_cli::finish_output() && status == 0) status = 1;
    return status;
}
