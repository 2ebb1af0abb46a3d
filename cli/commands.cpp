// The command table. The usage and help texts live beside the call each
// command makes, so the two cannot drift apart.
#include "commands.h"

#include <cstring>

#include <string>

#include "cancel.h"
#include "numbers.h"
#include "tarn_client.h"

namespace tarn_cli {

int Args::number(int i, int absent_value) const {
    int value = 0;
    if (i >= count) return absent_value;
    return parse_number_word(words[i], &value) ? value : 0;
}

#define TARN_FILE_NOTE "  (\"-\" reads it from standard input, \"@PATH\" from a file)"

const Command kCommands[] = {
    {"ping",
     0,
     "",
     "Checks that the service answers.\n\nexample: tarn ping\n",
     {},
     0,
     [](const Args &) { return tarn_client_ping(); }},
    {"connections",
     0,
     "",
     "Lists the saved connection profiles.\n\nexample: tarn connections\n",
     {},
     0,
     [](const Args &) { return tarn_client_list_connections(); }},
    {"save-connection",
     1,
     "PROFILE_JSON",
     "Saves a connection profile.\n"
     "  PROFILE_JSON  the profile as a JSON object" TARN_FILE_NOTE "\n\n"
     "example: tarn save-connection @profile.json\n",
     {},
     1,
     [](const Args &a) { return tarn_client_save_connection(a.text(1)); }},
    {"delete-connection",
     1,
     "ID",
     "Deletes a saved connection profile.\n"
     "  ID  the profile's id\n\n"
     "example: tarn delete-connection 3f2a\n",
     {},
     0,
     [](const Args &a) { return tarn_client_delete_connection(a.text(1)); }},
    {"test-connection",
     1,
     "PROFILE_JSON",
     "Tries a connection profile without saving it.\n"
     "  PROFILE_JSON  the profile as a JSON object" TARN_FILE_NOTE "\n\n"
     "example: tarn test-connection @profile.json\n",
     {},
     1,
     [](const Args &a) { return tarn_client_test_connection(a.text(1)); }},
    {"tree",
     2,
     "SERVER NODE_KIND [DB] [SCHEMA] [OBJ]",
     "Lists the children of one node of the object tree.\n"
     "  SERVER     the server instance\n"
     "  NODE_KIND  the kind of node to list (required)\n"
     "  DB, SCHEMA, OBJ  where the node is; each sent only when given\n\n"
     "example: tarn tree srv1 tables shop dbo\n",
     {},
     0,
     [](const Args &a) {
         return tarn_client_tree(a.text(1), a.text(2), a.text(3), a.text(4), a.text(5));
     }},
    {"query",
     3,
     "SERVER DB SQL [MAX_ROWS] [TIMEOUT_S] [QUERY_TOKEN]",
     "Runs SQL and prints the reply and its grid.\n"
     "  SERVER       the server instance\n"
     "  DB           the database\n"
     "  SQL          the SQL text" TARN_FILE_NOTE "\n"
     "  MAX_ROWS     most rows to return; sent when above 0\n"
     "  TIMEOUT_S    the service's time limit in seconds; sent when above 0\n"
     "  QUERY_TOKEN  a token that cancel can name later; default tarn- and 16\n"
     "               random hex digits\n\n"
     "example: tarn --format csv query srv1 shop \"select * from orders\" 1000\n",
     {{4, "max_rows"}, {5, "timeout_s"}},
     3,
     [](const Args &a) {
         // Always a token, so the query can be cancelled by name.
         StatementTarget target{a.text(1), a.text(2),
                                a.text(6)[0] != '\0' ? a.text(6) : new_query_token()};
         return run_query_once(target, a.text(3), a.number(4, 0), a.number(5, 0), a.rows);
     }},
    {"cancel",
     2,
     "SERVER QUERY_TOKEN",
     "Cancels the query started with QUERY_TOKEN.\n\n"
     "example: tarn cancel srv1 report-7\n",
     {},
     0,
     [](const Args &a) { return tarn_client_cancel(a.text(1), a.text(2)); }},
    {"cancel-spid",
     2,
     "SERVER SPID",
     "Cancels the query of one server session.\n"
     "  SPID  the session id, above 0\n\n"
     "example: tarn cancel-spid srv1 57\n",
     {{2, "spid"}},
     0,
     [](const Args &a) { return tarn_client_cancel_spid(a.text(1), a.number(2, 0)); }},
    {"editgrid-load",
     4,
     "SERVER DB SCHEMA TABLE [TOP]",
     "Loads a table's rows for editing.\n"
     "  TABLE  the table (required)\n"
     "  TOP    most rows to load; default 200, 0 for the service's default\n\n"
     "example: tarn editgrid-load srv1 shop dbo orders 50\n",
     {{5, "top"}},
     0,
     [](const Args &a) {
         return tarn_client_editgrid_load(a.text(1), a.text(2), a.text(3), a.text(4),
                                          a.number(5, 200));
     }},
    {"editgrid-apply",
     1,
     "APPLY_JSON",
     "Applies edited rows.\n"
     "  APPLY_JSON  the changes as JSON" TARN_FILE_NOTE "\n\n"
     "example: tarn editgrid-apply @changes.json\n",
     {},
     1,
     [](const Args &a) { return tarn_client_editgrid_apply(a.text(1)); }},
    {"script",
     3,
     "SERVER ACTION KIND [DB] [SCHEMA] [OBJ]",
     "Scripts an object as SQL.\n"
     "  ACTION  what to script (required)\n"
     "  KIND    the kind of object\n"
     "  DB, SCHEMA, OBJ  which object; each sent only when given\n\n"
     "example: tarn script srv1 create table shop dbo orders\n",
     {},
     0,
     [](const Args &a) {
         return tarn_client_script(a.text(1), a.text(2), a.text(3), a.text(4), a.text(5),
                                   a.text(6));
     }},
    {"activity",
     1,
     "SERVER [ACTION]",
     "Shows server activity.\n"
     "  ACTION  the view; default sessions\n\n"
     "example: tarn activity srv1 locks\n",
     {},
     0,
     [](const Args &a) { return tarn_client_activity(a.text(1), a.text_or_null(2)); }},
    {"kill",
     2,
     "SERVER SPID",
     "Ends one server session.\n"
     "  SPID  the session id, above 0\n\n"
     "example: tarn kill srv1 57\n",
     {{2, "spid"}},
     0,
     [](const Args &a) { return tarn_client_activity_kill(a.text(1), a.number(2, 0)); }},
    {"storage",
     2,
     "SERVER ACTION [DB]",
     "Shows storage.\n"
     "  ACTION  the view; an empty word means files\n"
     "  DB      the database, sent only when given\n\n"
     "example: tarn storage srv1 files shop\n",
     {},
     0,
     [](const Args &a) { return tarn_client_storage(a.text(1), a.text(2), a.text(3)); }},
    {"storage-post",
     2,
     "ACTION JSON_BODY",
     "Sends a storage action.\n"
     "  ACTION     the action (required)\n"
     "  JSON_BODY  its body as JSON" TARN_FILE_NOTE "\n\n"
     "example: tarn storage-post shrink @shrink.json\n",
     {},
     2,
     [](const Args &a) { return tarn_client_storage_post(a.text(1), a.text(2)); }},
    {"admin",
     2,
     "SERVER ACTION [DB] [EXTRA]",
     "Shows an administration view.\n"
     "  ACTION  the view (required); some fall back to their own path\n"
     "  DB, EXTRA  sent only when given\n\n"
     "example: tarn admin srv1 logins\n",
     {},
     0,
     [](const Args &a) { return tarn_client_admin(a.text(1), a.text(2), a.text(3), a.text(4)); }},
    {"job",
     3,
     "SERVER JOB_ID VERB",
     "Controls an agent job.\n"
     "  JOB_ID  the job (required)\n"
     "  VERB    start, stop, enable, disable or toggle; an empty word means start\n\n"
     "example: tarn job srv1 nightly-backup start\n",
     {},
     0,
     [](const Args &a) { return tarn_client_job_control(a.text(1), a.text(2), a.text(3)); }},
    {"shell",
     0,
     "[SERVER [DB]]",
     "An interactive SQL shell on SERVER and DB. A statement ends at \";\" outside\n"
     "quotes and comments, or at \\g; \\? lists the meta commands (\\d NAME, \\dt,\n"
     "\\x auto, \\timing, \\i FILE, \\watch SECONDS, \\set NAME VALUE, ...).\n"
     "Results in the table format unless --format names another.\n"
     "On a terminal: line editing, Tab completion, history in\n"
     "$XDG_STATE_HOME/tarn/history (else ~/.local/state/tarn/history), results\n"
     "through $PAGER (else less -SFRX) when taller than the screen.\n"
     "Ctrl-C: at the prompt it clears the line; during \\watch it stops the\n"
     "repeating; while a statement runs it cancels it on the service and returns\n"
     "to the prompt (twice: stops waiting). Ctrl-D or \\q leaves with status 0.\n"
     "Reading a script from standard input: no prompt, and the first error ends\n"
     "the shell with status 1 unless --keep-going is given; Ctrl-C ends it with 130.\n\n"
     "example: tarn shell local shop < report.sql\n",
     {},
     0,
     nullptr},
    {"tls-pin",
     0,
     "",
     "Prints the public-key pin of the server at the base URL, sending no request,\n"
     "in the form TARN_TLS takes after \"pin:\".\n\n"
     "example: export TARN_TLS=pin:$(tarn --host https://node1:8443 tls-pin)\n",
     {},
     0,
     [](const Args &) { return tarn_client_tls_pin(); }},
};

#undef TARN_FILE_NOTE

const size_t kCommandCount = sizeof(kCommands) / sizeof(kCommands[0]);

const Command *find_command(const char *word) {
    for (const Command &c : kCommands)
        if (strcmp(word, c.word) == 0) return &c;
    return nullptr;
}

}  // namespace tarn_cli
