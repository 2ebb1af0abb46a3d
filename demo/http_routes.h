// The HTTP face of the service: the route table, credentials, and the
// helpers every route uses.
#pragma once

#include <optional>
#include <string>

#include "db.h"
#include "http_server.h"
#include "json.h"
#include "service.h"

namespace demo {

using Req = Request;
using Res = Response;

// The route table, credentials, which requests are control requests, and
// the request log, for the HTTP server.
HttpHandlers make_handlers(Service &svc);

void reply(Res &res, int status, const std::string &body);
void fail(Res &res, int status, const std::string &message);
// A query parameter, or "" when absent.
std::string param(const Req &req, const char *name);
// Resolves the server and db words to an existing database: the server
// word names a saved profile (or is empty), an empty db means the
// profile's. Writes the error reply and returns nothing on failure.
std::optional<std::string> target_db(Service &svc, const std::string &server, const std::string &db,
                                     Res &res);
// Opens a database for a route; writes a 5xx reply on failure.
bool open_for(Service &svc, const std::string &db, Conn &conn, Res &res);

// The routes, by path and action.
void ping(Service &, const Req &, Res &);
void conn_list(Service &, const Req &, Res &);
void conn_save(Service &, const Req &, Res &);
void conn_delete(Service &, const Req &, Res &);
void conn_test(Service &, const Req &, Res &);
void tree(Service &, const Req &, Res &);
void query_run(Service &, const Req &, Res &);
void query_cancel(Service &, const Req &, Res &);
void editgrid_load(Service &, const Req &, Res &);
void editgrid_apply(Service &, const Req &, Res &);
void script(Service &, const Req &, Res &);
void activity_sessions(Service &, const Req &, Res &);
void activity_kill(Service &, const Req &, Res &);
void storage_files(Service &, const Req &, Res &);
void storage_post(Service &, const Req &, Res &);
void admin(Service &, const Req &, Res &);
void agent_jobs(Service &, const Req &, Res &);
void agent_history(Service &, const Req &, Res &);
void agent_verb(Service &, const Req &, Res &);
void security(Service &, const Req &, Res &);
void logs(Service &, const Req &, Res &);

}  // namespace demo
