#include "cli/ServeCommand.h"

#include "ledger/Ledger.h"
#include "web/WebServer.h"
#include "web/dashboard/Dashboard.h"

namespace {

// "/" alone leads to the dashboard; every other path outside /ledger/ and /assets/ is not
// found.
bool Home(const CWebRequest& request, CWebReply* reply) {
  if (request.m_strPath != "/") return false;
  reply->m_nStatus = 302;
  reply->m_strLocation = "/ledger/";
  reply->m_strBody =
      "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
      "<title>Ledger</title></head><body><p><a href=\"/ledger/\">The ledger's "
      "dashboard</a></p></body></html>\n";
  return true;
}

}  // namespace

CLI::App* AddServeCommand(CLI::App& app, CServeOptions& options) {
  CLI::App* serve = app.add_subcommand(
      "serve", "Serve the ledger's dashboard (read only) to a browser until interrupted");
  options.m_ledger.AddLocation(serve);
  options.m_http.Add(serve);
  return serve;
}

int RunServe(const CServeOptions& options, CRunEnv& env) {
  if (!options.m_ledger.Given()) {
    env.m_err << "corvane: serve needs --ledger LOCATION (or CORVANE_LEDGER)\n";
    return kExitUsage;
  }
  CHttpOptions http = options.m_http;
  if (!http.Given()) http.m_strAddress = kServeDefaultAddress;
  CWebListen listen;
  std::string text;
  if (!http.Resolve(env.m_interrupt, &listen, &text)) {
    env.m_err << "corvane: " << text << "\n";
    return kExitUsage;
  }
  CLedgerError error;
  std::unique_ptr<CLedger> ledger = OpenLedger(
      options.m_ledger.m_strLocation, options.m_ledger.Station(), &error, ELedgerAccess::Read);
  if (!ledger) {
    env.m_err << "corvane: " << error.m_strText << "\n";
    return kExitLedger;
  }
  CDashboard dashboard(*ledger);
  CWebServer server;
  server.Route("/", Home);
  server.Route("/ledger", [&dashboard](const CWebRequest& request, CWebReply* reply) {
    return dashboard.Handle(request, reply);
  });
  if (!server.Start(listen, &text)) {
    env.m_err << "corvane: --http: " << text << "\n";
    return kExitOutput;
  }
  env.m_err << "corvane: the ledger's dashboard is at " << server.Url() << "ledger/\n"
            << std::flush;
  // Blocks in the OS until Ctrl-C or SIGTERM: the server's own threads do the serving.
  while (!env.m_interrupt.Wait(60 * 1000)) {
  }
  server.Stop();
  return kExitOk;
}
