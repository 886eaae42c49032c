#include "cli/station/StationCommand.h"

#include "cli/OptionsFile.h"
#include "cli/station/StationBoard.h"
#include "engine/os/Platform.h"
#include "engine/station/StationRun.h"
#include "web/WebServer.h"
#include "web/board/WebBoard.h"
#include "web/dashboard/DashboardMount.h"

namespace {

std::string CheckCount(const std::string& text) {
  if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos ||
      text.size() > 8 || std::stoll(text) < 1) {
    return "not a count: \"" + Printable(text) + "\" (a whole number from 1 to 99999999)";
  }
  return std::string();
}

// Whole or decimal seconds ("90", "1.5"): no sign, no exponent, nothing after the number.
std::string CheckSeconds(const std::string& text) {
  const size_t point = text.find('.');
  const std::string whole = text.substr(0, point);
  const std::string fraction = point == std::string::npos ? "" : text.substr(point + 1);
  const bool digits = whole.find_first_not_of("0123456789") == std::string::npos &&
                      fraction.find_first_not_of("0123456789") == std::string::npos &&
                      whole.size() + fraction.size() > 0 && whole.size() <= 6 &&
                      fraction.size() <= 6;
  if (!digits || std::stod("0" + text) <= 0) {
    return "not a number of seconds: \"" + Printable(text) +
           "\" (more than 0 and less than 1000000, such as 30 or 1.5)";
  }
  return std::string();
}

}  // namespace

CLI::App* AddStationCommand(CLI::App& app, CStationOptions& options, bool pathsAllowed) {
  CLI::App* station = app.add_subcommand(
      "station", "Program modules one after another as they are put on, until stopped");
  options.m_pPorts =
      station
          ->add_option("--ports", options.m_strPorts,
                       pathsAllowed ? "Slots: P1,P2,... (COM names or device paths)"
                                    : "Slots: P1,P2,... (COM names)")
          ->check(CLI::Validator(
              [](std::string& v) { return v.empty() ? "name at least one port" : ""; }, "PORTS"));
  if (pathsAllowed) {
    options.m_pWatch = station
                           ->add_option("--watch", options.m_strWatch,
                                        "A folder of port names: each name that appears is a slot "
                                        "(default, without --ports: /dev/serial/by-path)")
                           ->type_name("DIR");
  }
  station->add_option("--slots", options.m_strSlots, "CSV file of slot labels: port name,label")
      ->type_name("FILE");
  options.m_settingOptions.Add(station, TemplateRule(CheckName),
                               "Name template: {seq} (needs --ledger), {seq:03}, {addr}, {addr4}",
                               TemplateRule(CheckPin), "PIN template");
  station
      ->add_option("--plan", options.m_strPlan,
                   "CSV file (or - for stdin): address,name,pin,role,peer")
      ->type_name("FILE");
  station->add_flag("--verify", options.m_bVerify, "Read back and compare");
  station->add_flag("--turn-off", options.m_bTurnOff, "Turn Bluetooth off at the end");
  station
      ->add_option("--events", options.m_strEvents,
                   "Write events as JSON lines to FILE (appended), or - for stdout (not the "
                   "board's terminal); a reader may fall 4096 events behind, and gets 30 "
                   "seconds at the end to catch up")
      ->type_name("FILE");
  station->add_option("--count", options.m_nCount, "End after N modules ok")
      ->check(CLI::Validator([](std::string& v) { return CheckCount(v); }, "N"));
  station
      ->add_option("--idle-exit", options.m_dIdleExit, "End after SECONDS with no module arriving")
      ->check(CLI::Validator([](std::string& v) { return CheckSeconds(v); }, "SECONDS"));
  station->add_flag("--bell", options.m_bBell, "Ring the terminal bell on a failure");
  AddPaceOption(station, options.m_pace);
  AddQuietOption(station, options.m_bQuiet, "No operator's view; events and the end only");
  options.m_ledgerOptions.Add(station);
  // Read and taken out by the command line before the parser runs (cli/OptionsFile.h).
  station
      ->add_option(kOptionsFileOption,
                   "Read options from FILE, one a line as on the command line ('...' and "
                   "\"...\" quote, # comments); they replace the same options given before "
                   "this one, and those given after it replace them")
      ->type_name("FILE");
  options.m_httpOptions.Add(station);
  return station;
}

namespace {

// The board redraws the terminal it is on, and would wipe out events written there.
std::string CheckEventsApart(const CStationSetup& options, const CRunEnv& env) {
  if (options.m_strEvents == "-" && env.m_fnRawOut && env.m_bErrIsTerminal && !options.m_bQuiet &&
      StdoutIsTerminal()) {
    return "--events -: the operator's view redraws this terminal and would erase them; send "
           "them to a file or a pipe, or add --quiet";
  }
  return std::string();
}

// The operator's view on stderr: redrawn in place on a terminal, plain lines for a log.
std::unique_ptr<CStationBoard> MakeBoard(const CStationSetup& setup, CRunEnv& env) {
  std::ostream& err = env.m_err;
  CStationBoard::CWriter write = env.m_fnRawErr;
  if (!write) write = [&err](const std::string& text) { err << text << std::flush; };
  CStationBoard::CScreen screen;
  screen.m_bTerminal = env.m_bErrIsTerminal;
  if (screen.m_bTerminal) {
    screen.m_nRows = StderrTerminalRows();
    screen.m_nColumns = StderrTerminalColumns();
  }
  return std::make_unique<CStationBoard>(write, screen, setup.m_bQuiet, setup.m_bBell,
                                         StartWorkerThread);
}

// The board in a browser, and with a ledger its dashboard beside it: served once the run's
// checks have passed, until the run has ended, so the page sees the run's end before its
// stream closes.
struct CStationWeb {
  CWebServer m_server;
  CWebBoard m_board{m_server.Events()};
  std::unique_ptr<CDashboardMount> m_pDashboard;

  explicit CStationWeb(const CStationOptions& options) {
    m_server.Route("/", m_board.Handler());
    m_server.EventsAt(CWebBoard::kEventsPath);
    // The dashboard reads on a connection of its own.
    if (options.m_ledgerOptions.Given()) {
      m_pDashboard = std::make_unique<CDashboardMount>(options.m_ledgerOptions.m_strLocation,
                                                       options.m_ledgerOptions.Station());
      CDashboardMount* dashboard = m_pDashboard.get();
      m_server.Route("/ledger", [dashboard](const CWebRequest& request, CWebReply* reply) {
        return dashboard->Handle(request, reply);
      });
    }
  }

  // kExitOk once it serves; otherwise the exit code, with why said on err.
  int Start(const CStationOptions& options, CRunEnv& env) {
    CWebListen listen;
    std::string error;
    if (!options.m_httpOptions.Resolve(env.m_interrupt, &listen, &error)) {
      env.m_err << "corvane: " << error << "\n";
      return kExitUsage;
    }
    if (!m_server.Start(listen, &error)) {
      env.m_err << "corvane: --http: " << error << "\n";
      return kExitOutput;
    }
    env.m_err << "corvane: the board is at " << m_server.Url() << "\n" << std::flush;
    return kExitOk;
  }
};

}  // namespace

int RunStation(const CStationOptions& options, CRunEnv& env) {
  const CStationSetup setup = options.Setup();
  std::string error = options.m_ledgerOptions.CheckUse();
  if (error.empty()) error = CheckEventsApart(setup, env);
  if (!error.empty()) {
    env.m_err << "corvane: " << error << "\n";
    return kExitUsage;
  }
  const std::unique_ptr<CStationBoard> board = MakeBoard(setup, env);
  CStation station(setup, env);
  station.Subscribe(*board);
  if (!options.m_httpOptions.Given()) return station.Run();
  CStationWeb web(options);
  station.Subscribe(web.m_board);
  const int code = station.Run([&] { return web.Start(options, env); });
  web.m_server.Stop();
  return code;
}
