#include "cli/GangCommand.h"

#include <chrono>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <system_error>
#include <thread>

#include "cli/CliPlatform.h"
#include "cli/GangLedger.h"
#include "cli/GangWorker.h"
#include "cli/ModuleSession.h"
#include "cli/Output.h"
#include "cli/PhaseGate.h"
#include "cli/Plan.h"
#include "cli/Progress.h"
#include "cli/Report.h"
#include "cli/RunFiles.h"
#include "cli/ValueTemplate.h"
#include "serial/SerialPort.h"

namespace {

using Clock = std::chrono::steady_clock;

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

class CGang {
 public:
  CGang(const CGangOptions& options, CCliEnv& env)
      : m_options(options), m_settings(options.m_settings), m_env(env) {}
  int Run();

 private:
  int Usage(const std::string& text) {
    m_env.m_err << "corvane: " << text << "\n";
    return kExitUsage;
  }
  // A refusal with its own exit code: usage, or a ledger that cannot be used.
  int Refuse(const std::string& text) {
    m_env.m_err << "corvane: " << text << "\n";
    return m_nRefusal;
  }
  bool OpenLedger(std::string* error);
  // Everything that could refuse the run, before any port is opened.
  bool Prepare(std::string* error);
  bool MakeWorkers(std::string* error);
  // The templates against the number of ports.
  bool CheckTemplates(std::string* error) const;
  bool NeedsRead() const;
  // Works out every module's values; false with the first rule broken.
  bool PlanValues(std::string* error);
  // The values the worker's module gets as number (templates, plan row, what it holds).
  EValues ValuesFor(const CWorker& worker, long long number, CModuleSettings* values, bool* named,
                    std::string* error) const;
  void Work(CWorker& worker, CPhaseGate& gate, CProgressSink& sink, bool needsRead,
            const bool& planned);
  // The worker's run has ended: its row goes to the report file at once.
  void End(CWorker& worker);
  static double Elapsed(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
  }
  int Report();
  // A dry run's ending: each module's change, or why it would be left alone.
  int DryRunReport();

  const CGangOptions& m_options;
  const CSettingOptions& m_settings;
  CCliEnv& m_env;
  CPlan m_plan;
  CReportFile m_reportFile;
  std::vector<CWorker> m_workers;
  std::unique_ptr<CGangLedger> m_pLedger;
  // The first number a module can get.
  long long m_nFirst = 1;
  int m_nRefusal = kExitUsage;
};

bool CGang::Prepare(std::string* error) {
  const std::string& report = m_options.m_strReport;
  const std::string ledger = m_options.m_ledger.Given() ? m_options.m_ledger.m_strLocation : "";
  if (!CheckRunFiles({{"--plan", m_options.m_strPlan, CRunFile::EUse::Read},
                      {"--ledger", ledger, CRunFile::EUse::Ledger},
                      {"--report", report, CRunFile::EUse::Replace}},
                     error, &m_nRefusal)) {
    return false;
  }
  if (!m_options.m_strPlan.empty()) {
    if (!LoadPlan(m_options.m_strPlan, m_env.m_interrupt, &m_plan, error)) {
      if (m_env.m_interrupt.IsSet()) return false;
      *error = "--plan: " + *error;
      return false;
    }
  }
  if (!MakeWorkers(error) || !OpenLedger(error) || !CheckTemplates(error)) return false;
  if (!report.empty() && !m_reportFile.Open(report, error)) {
    *error = "--report: " + *error;
    return false;
  }
  return true;
}

bool CGang::OpenLedger(std::string* error) {
  m_nFirst = m_options.m_nStart;
  const std::string rule = m_options.m_ledger.CheckUse();
  if (!rule.empty()) {
    *error = rule;
    return false;
  }
  if (!m_options.m_ledger.Given()) return true;
  const long long start = m_options.m_nStart;
  const bool startGiven = m_options.m_pStart != nullptr && m_options.m_pStart->count() > 0;
  m_pLedger = CGangLedger::Open(m_options.m_ledger, startGiven ? &start : nullptr,
                                m_options.m_bDryRun, error, &m_nRefusal);
  return m_pLedger && m_pLedger->NextNumber(&m_nFirst, error, &m_nRefusal);
}

bool CGang::MakeWorkers(std::string* error) {
  std::vector<std::string> names;
  if (m_options.m_strPorts == "all") {
    CSerialPort(m_env.m_api).ListPorts(names);
  } else {
    std::stringstream list(m_options.m_strPorts);
    for (std::string name; std::getline(list, name, ',');) names.push_back(name);
  }
  std::set<std::string> seen;
  for (const std::string& name : names) {
    const std::string rule = CheckPortOption(name, static_cast<bool>(m_env.m_fnPathApi));
    // The system's listing may hold a name no user could type (COM0): no port to search.
    if (!rule.empty() && m_options.m_strPorts == "all") continue;
    if (!rule.empty()) {
      *error = "--ports: \"" + Printable(name) + "\": " + rule;
      return false;
    }
    CPortChoice port = ChoosePort(name, m_env);
    CWorker worker;
    worker.m_pOwnedApi = std::move(port.m_owned);
    worker.m_pApi = port.m_pApi;
    worker.m_strListed = port.m_strListed;
    worker.m_strShown = port.m_strShown;
    if (!seen.insert(worker.m_strShown).second) {
      *error = "--ports: " + Printable(worker.m_strShown) + " is named twice";
      return false;
    }
    m_workers.push_back(std::move(worker));
  }
  return true;
}

void CGang::Work(CWorker& worker, CPhaseGate& gate, CProgressSink& sink, bool needsRead,
                 const bool& planned) {
  const CInterrupt& interrupt = m_env.m_interrupt;
  // Every port at once: the probe's own bytes and wait on each.
  Clock::time_point start = Clock::now();
  worker.m_bAnswered = worker.m_pSession->Probe(worker.m_strListed);
  if (!worker.m_bAnswered && !interrupt.IsSet()) {
    const std::string& busy = worker.m_pSession->BusyPort();
    worker.m_report.m_outcome = busy.empty() ? EOutcome::NoModule : EOutcome::Busy;
    if (!worker.m_pSession->DeniedPort().empty())
      worker.m_report.m_outcome = EOutcome::NoPermission;
    worker.m_report.m_strBusyPort = worker.m_strShown;
    sink.OnProgress(0, OutcomeText(worker.m_report.m_outcome));
  }
  worker.m_dSeconds += Elapsed(start);
  gate.Arrive();

  if (needsRead && worker.m_bAnswered && !interrupt.IsSet()) {
    start = Clock::now();
    worker.m_pSession->Read(false, worker.m_report);
    worker.m_dSeconds += Elapsed(start);
  }
  gate.Arrive();

  // The coordinating thread works out every module's values here.
  gate.Arrive();
  if (planned && worker.m_bProgram && !interrupt.IsSet() && !m_options.m_bDryRun) {
    start = Clock::now();
    worker.m_bTried = true;
    worker.m_report.m_outcome = EOutcome::Ok;
    worker.m_pSession->Program(worker.m_target, m_options.m_bTurnOff, m_options.m_bVerify,
                               worker.m_report);
    worker.m_dSeconds += Elapsed(start);
  } else if (interrupt.IsSet() && worker.m_bAnswered && worker.m_report.m_outcome == EOutcome::Ok) {
    // Read but never programmed: the interruption came between the two.
    worker.m_report.m_outcome = EOutcome::Interrupted;
  }
  // The session closed its port before it returned; drop it with its channel now.
  worker.m_pSession.reset();
  if (planned || interrupt.IsSet()) End(worker);
}

void CGang::End(CWorker& worker) {
  if (m_reportFile.IsOpen()) {
    m_reportFile.Append(MakeReportRow(worker.m_strShown, worker.m_report, worker.m_dSeconds));
  }
  if (m_pLedger && !m_options.m_bDryRun) m_pLedger->Record(worker);
}

bool CGang::CheckTemplates(std::string* error) const {
  // The highest number any module can get gives the longest value.
  const long long last = m_nFirst + static_cast<long long>(m_workers.size()) - 1;
  *error = CheckValueTemplates(m_settings, last, m_workers.size() > 1);
  return error->empty();
}

bool CGang::NeedsRead() const {
  // The ledger keys every module by its own address; a dry run shows what each holds.
  if (!m_options.m_strPlan.empty() || m_pLedger || m_options.m_bDryRun) return true;
  if (!m_settings.NameGiven() || !m_settings.PinGiven() || !m_settings.RoleGiven() ||
      !m_settings.PeerGiven()) {
    return true;
  }
  return CValueTemplate(m_settings.m_strName).NeedsAddress() ||
         CValueTemplate(m_settings.m_strPin).NeedsAddress();
}

bool CGang::PlanValues(std::string* error) {
  if (m_pLedger) {
    const auto make = [this](const CWorker& worker, long long number, CModuleSettings* values,
                             bool* named, std::string* why) {
      return ValuesFor(worker, number, values, named, why);
    };
    return m_options.m_bDryRun ? m_pLedger->Preview(m_workers, make, error, &m_nRefusal)
                               : m_pLedger->Plan(m_workers, make, error, &m_nRefusal);
  }
  std::map<std::string, std::string> names;  // name given -> port that gets it
  const bool needsRead = NeedsRead();
  int seq = m_options.m_nStart;
  for (CWorker& worker : m_workers) {
    if (!worker.m_bAnswered) continue;
    const int number = seq++;
    // A module whose Read failed keeps the outcome it had.
    if (needsRead && !worker.m_report.m_read) continue;

    CModuleSettings values;
    bool nameSet = false;
    const EValues made = ValuesFor(worker, number, &values, &nameSet, error);
    if (made == EValues::Refused) return false;
    if (made == EValues::NotInPlan) {
      worker.m_report.m_outcome = EOutcome::NotInPlan;
      continue;
    }
    if (nameSet) {
      const auto taken = names.emplace(values.m_strName, worker.m_strShown);
      if (!taken.second) {
        *error = "two modules would get the name \"" + Printable(values.m_strName) + "\" (" +
                 Printable(taken.first->second) + " and " + Printable(worker.m_strShown) + ")";
        return false;
      }
    }
    worker.m_target = values;
    worker.m_bProgram = true;
  }
  return true;
}

EValues CGang::ValuesFor(const CWorker& worker, long long number, CModuleSettings* values,
                         bool* named, std::string* error) const {
  const CModuleSettings* read = worker.m_report.m_read ? &*worker.m_report.m_read : nullptr;
  return MakeModuleValues(m_settings, m_options.m_strPlan.empty() ? nullptr : &m_plan,
                          worker.m_strShown, read, number, values, named, error);
}

int CGang::Run() {
  std::string error;
  if (!Prepare(&error)) {
    if (m_env.m_interrupt.IsSet()) {
      m_env.m_err << "corvane: interrupted; nothing was sent.\n";
      return kExitInterrupted;
    }
    return Refuse(error);
  }

  std::vector<std::string> shown;
  for (const CWorker& worker : m_workers) shown.push_back(Printable(worker.m_strShown));
  std::ostream& err = m_env.m_err;
  CGangProgress::CWriter write = m_env.m_fnRawErr;
  if (!write) write = [&err](const std::string& text) { err << text << std::flush; };
  CGangProgress progress(write, m_env.m_bErrIsTerminal, m_options.m_bQuiet,
                         m_env.m_bErrIsTerminal ? StderrTerminalRows() : 0, shown,
                         m_env.m_bErrIsTerminal ? StderrTerminalColumns() : 0);
  for (size_t k = 0; k < m_workers.size(); ++k) {
    CWorker& worker = m_workers[k];
    worker.m_pSession =
        std::make_unique<CModuleSession>(*worker.m_pApi, m_env.m_interrupt, &progress.Sink(k));
    worker.m_pSession->ListOnly(worker.m_strListed);
    worker.m_pSession->SetPace(PaceOf(m_options.m_strPace));
    worker.m_report.m_outcome = EOutcome::Interrupted;
  }

  // The workers and this thread, which works out the values between the reads and the
  // programming.
  CPhaseGate gate(m_workers.size() + 1);
  const bool needsRead = NeedsRead();
  bool planned = false;
  std::vector<std::thread> threads;
  for (size_t k = 0; k < m_workers.size(); ++k) {
    try {
      threads.push_back(StartWorkerThread([this, k, &gate, &progress, needsRead, &planned] {
        Work(m_workers[k], gate, progress.Sink(k), needsRead, planned);
      }));
    } catch (const std::system_error&) {
      // Out of threads: this port is left out, the others go on.
      gate.Leave();
      m_workers[k].m_pSession.reset();
      m_workers[k].m_report.m_outcome = EOutcome::CommError;
      m_workers[k].m_report.m_strMessage = "no thread could be started for this port";
      End(m_workers[k]);
    }
  }
  gate.Arrive();  // every port probed
  gate.Arrive();  // every module that needed it read
  planned = !m_env.m_interrupt.IsSet() && PlanValues(&error);
  gate.Arrive();  // the workers program, or end
  for (std::thread& thread : threads) thread.join();
  progress.Stop();
  if (!planned && !m_env.m_interrupt.IsSet()) return Refuse(error + "; nothing was programmed");
  return m_options.m_bDryRun && !m_env.m_interrupt.IsSet() ? DryRunReport() : Report();
}

int CGang::Report() {
  std::vector<CReportRow> rows;
  bool anyFailed = false;
  bool anyAnswered = false;
  // Ports that could not be opened, with why: "busy" or "no permission".
  std::vector<std::pair<std::string, EOutcome>> busy;
  for (const CWorker& worker : m_workers) {
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
  if (m_reportFile.IsOpen() && !m_reportFile.Finish(rows, &error)) {
    m_env.m_err << "corvane: cannot write the report " << m_options.m_strReport << ": " << error
                << "; the finished rows are in " << m_reportFile.JournalPath() << "\n";
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
  if (m_pLedger && m_pLedger->Tell(m_env.m_err, m_options.m_strReport)) code = kExitLedger;
  if (m_env.m_interrupt.IsSet()) {
    m_env.m_err << "corvane: interrupted; every port is closed.\n";
    return kExitInterrupted;
  }
  return code;
}

int CGang::DryRunReport() {
  const bool json = m_options.m_strFormat == "json";
  CJson modules = CJson::array();
  bool anyFailed = false, anyAnswered = false, anyBusy = false;
  for (const CWorker& worker : m_workers) {
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

CLI::App* AddGangCommand(CLI::App& app, CGangOptions& options) {
  CLI::App* gang =
      app.add_subcommand("gang", "Program every module on every port at once, with a report");
  gang->add_option("--ports", options.m_strPorts, "all (default) or P1,P2,...")
      ->check(CLI::Validator(
          [](std::string& v) { return v.empty() ? "name at least one port, or all" : ""; },
          "PORTS"));
  options.m_settings.Add(gang, TemplateRule(CheckName),
                         "Name template: {seq}, {seq:03}, {addr}, {addr4}", TemplateRule(CheckPin),
                         "PIN template");
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
  AddPaceOption(gang, options.m_strPace);
  AddFormatOption(gang, options.m_strFormat);
  AddQuietOption(gang, options.m_bQuiet, "No progress lines");
  options.m_ledger.Add(gang);
  options.m_ledger.AddOnlyFailed(gang);
  return gang;
}

int RunGang(const CGangOptions& options, CCliEnv& env) {
  CGang gang(options, env);
  return gang.Run();
}
