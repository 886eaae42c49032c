#include "cli/GangCommand.h"

#include "engine/gang/Gang.h"

#include "engine/os/Platform.h"
#include "engine/session/ModuleSession.h"
#include "engine/report/Output.h"
#include "cli/Progress.h"
#include "engine/report/Report.h"

namespace {

// Ended as it should: programmed, or left alone because the ledger says so.
bool Fine(EOutcome outcome) {
  return outcome == EOutcome::Ok || outcome == EOutcome::AlreadyProgrammed ||
         outcome == EOutcome::NotInLedger;
}

// A port that could not be opened: why (busy, or no permission), and the doctor to run.
void SayNotOpened(std::ostream& err, const std::string& port, EOutcome outcome) {
  err << "corvane: " << Printable(port)
      << (outcome == EOutcome::Busy ? " is busy: another program holds it"
                                    : ": no permission to open it")
      << "; run `corvane doctor --port " << Printable(port) << "`\n";
}

class CGangCommand {
 public:
  CGangCommand(const CGangOptions& options, CRunEnv& env)
      : m_options(options), m_setup(options.Setup()), m_env(env), m_run(m_setup, env) {}
  int Run();

 private:
  // A refusal with its own exit code: usage, or a ledger that cannot be used.
  int Refuse(const std::string& text, int code) {
    m_env.m_err << "corvane: " << text << "\n";
    return code;
  }
  int Report();
  // A dry run's ending: each module's change, or why it would be left alone.
  int DryRunReport();

  const CGangOptions& m_options;
  const CGangSetup m_setup;
  CRunEnv& m_env;
  CGangRun m_run;
};

int CGangCommand::Run() {
  std::string error;
  const std::string rule = m_options.m_ledgerOptions.CheckUse();
  if (!rule.empty()) return Refuse(rule, kExitUsage);
  int code = kExitUsage;
  if (!m_run.Prepare(&error, &code)) {
    if (m_env.m_interrupt.IsSet()) {
      m_env.m_err << "corvane: interrupted; nothing was sent.\n";
      return kExitInterrupted;
    }
    return Refuse(error, code);
  }

  std::vector<std::string> shown;
  for (const CWorker& worker : m_run.Workers()) shown.push_back(Printable(worker.m_strShown));
  std::ostream& err = m_env.m_err;
  CGangProgress::CWriter write = m_env.m_fnRawErr;
  if (!write) write = [&err](const std::string& text) { err << text << std::flush; };
  CGangProgress progress(write, m_env.m_bErrIsTerminal, m_options.m_bQuiet,
                         m_env.m_bErrIsTerminal ? StderrTerminalRows() : 0, shown,
                         m_env.m_bErrIsTerminal ? StderrTerminalColumns() : 0);
  const bool planned = m_run.Run(progress, &error);
  progress.Stop();
  if (!planned && !m_env.m_interrupt.IsSet()) {
    return Refuse(error + "; nothing was programmed", code);
  }
  return m_setup.m_bDryRun && !m_env.m_interrupt.IsSet() ? DryRunReport() : Report();
}

int CGangCommand::Report() {
  std::vector<CReportRow> rows;
  bool anyFailed = false;
  bool anyAnswered = false;
  // Ports that could not be opened, with why: "busy" or "no permission".
  std::vector<std::pair<std::string, EOutcome>> busy;
  for (const CWorker& worker : m_run.Workers()) {
    rows.push_back(MakeReportRow(worker.m_strShown, worker.m_report, worker.m_dSeconds));
    if (worker.m_report.m_outcome == EOutcome::Busy ||
        worker.m_report.m_outcome == EOutcome::NoPermission) {
      busy.emplace_back(worker.m_strShown, worker.m_report.m_outcome);
    }
    // A module lost after it answered the probe counts among those that answered.
    if (!worker.m_bAnswered) continue;
    anyAnswered = true;
    if (!Fine(worker.m_report.m_outcome)) anyFailed = true;
  }
  // The report first: a reader of stdout that has gone away must not cost the record.
  int code = anyFailed ? kExitCommError : kExitOk;
  std::string error;
  if (m_run.ReportFile().IsOpen() && !m_run.ReportFile().Finish(rows, &error)) {
    m_env.m_err << "corvane: cannot write the report " << m_setup.m_strReport << ": " << error
                << "; the finished rows are in " << m_run.ReportFile().JournalPath() << "\n";
    if (code == kExitOk) code = kExitCommError;
  }
  if (m_options.m_strFormat == "json") {
    CJson modules = CJson::array();
    for (const CReportRow& row : rows) modules.push_back(RowJson(row));
    m_env.m_out << DumpJson({{"modules", modules}}) << "\n";
  } else {
    PrintTable(m_env.m_out, rows);
  }
  for (const auto& port : busy) SayNotOpened(m_env.m_err, port.first, port.second);
  if (!anyAnswered && busy.empty()) m_env.m_err << MSG_CANNOT_CONNECT << "\n";
  if (code == kExitOk && (!anyAnswered || !busy.empty())) code = kExitNoModule;
  if (m_run.Ledger() && m_run.Ledger()->Tell(m_env.m_err, m_setup.m_strReport)) code = kExitLedger;
  if (m_env.m_interrupt.IsSet()) {
    m_env.m_err << "corvane: interrupted; every port is closed.\n";
    return kExitInterrupted;
  }
  return code;
}

int CGangCommand::DryRunReport() {
  const bool json = m_options.m_strFormat == "json";
  CJson modules = CJson::array();
  bool anyFailed = false, anyAnswered = false, anyBusy = false;
  for (const CWorker& worker : m_run.Workers()) {
    const CModuleReport& report = worker.m_report;
    const bool change = worker.m_bProgram && report.m_outcome == EOutcome::Ok;
    const CModuleSettings* target = change ? &worker.m_target : nullptr;
    if (json) {
      modules.push_back(DryRunJson(worker.m_strShown, report, target));
    } else {
      PrintDryRun(m_env.m_out, worker.m_strShown, report, target);
    }
    if (report.m_outcome == EOutcome::Busy || report.m_outcome == EOutcome::NoPermission) {
      anyBusy = true;
      SayNotOpened(m_env.m_err, worker.m_strShown, report.m_outcome);
    }
    if (!worker.m_bAnswered) continue;
    anyAnswered = true;
    if (!Fine(report.m_outcome)) anyFailed = true;
  }
  if (json) m_env.m_out << DumpJson({{"modules", modules}}) << "\n";
  if (!anyAnswered && !anyBusy) m_env.m_err << MSG_CANNOT_CONNECT << "\n";
  if (anyFailed) return kExitCommError;
  return anyAnswered && !anyBusy ? kExitOk : kExitNoModule;
}

// A number for --start, said plainly when it is none.
std::string CheckStart(const std::string& text) {
  if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) {
    return "not a number: \"" + Printable(text) + "\" (a whole number from 0 to 99999999)";
  }
  if (text.size() > 8) return "at most 99999999";
  return std::string();
}

}  // namespace

CGangSetup CGangOptions::Setup() const {
  CGangSetup setup = *this;
  setup.m_settings = m_settingOptions;
  setup.m_ledger = m_ledgerOptions;
  setup.m_bStartGiven = m_pStart != nullptr && m_pStart->count() > 0;
  return setup;
}

CLI::App* AddGangCommand(CLI::App& app, CGangOptions& options) {
  CLI::App* gang =
      app.add_subcommand("gang", "Program every module on every port at once, with a report");
  gang->add_option("--ports", options.m_strPorts, "all (default) or P1,P2,...")
      ->check(CLI::Validator(
          [](std::string& v) { return v.empty() ? "name at least one port, or all" : ""; },
          "PORTS"));
  options.m_settingOptions.Add(gang, TemplateRule(CheckName),
                               "Name template: {seq}, {seq:03}, {addr}, {addr4}",
                               TemplateRule(CheckPin), "PIN template");
  options.m_pStart =
      gang->add_option("--start", options.m_nStart,
                       "First {seq} number (default 1); with a ledger, sets its counter")
          ->check(CLI::Validator([](std::string& v) { return CheckStart(v); }, "N"));
  gang->add_option("--plan", options.m_strPlan,
                   "CSV file (or - for stdin): address,name,pin,role,peer")
      ->type_name("FILE");
  gang->add_flag("--verify", options.m_bVerify, "Read back and compare");
  gang->add_flag("--turn-off", options.m_bTurnOff, "Turn Bluetooth off at the end");
  CLI::Option* report =
      gang->add_option("--report", options.m_strReport,
                       "Write the report to FILE.csv or FILE.jsonl")
          ->check(CLI::Validator([](std::string& v) { return CheckReportPath(v); }, "FILE"));
  gang->add_flag("--dry-run", options.m_bDryRun,
                 "Read every module and show its change (with a ledger, the numbers it would "
                 "get); send no setting, bind no number")
      ->excludes(report);
  AddPaceOption(gang, options.m_pace);
  AddFormatOption(gang, options.m_strFormat);
  AddQuietOption(gang, options.m_bQuiet, "No progress lines");
  options.m_ledgerOptions.Add(gang);
  options.m_ledgerOptions.AddOnlyFailed(gang);
  return gang;
}

int RunGang(const CGangOptions& options, CRunEnv& env) {
  CGangCommand gang(options, env);
  return gang.Run();
}
