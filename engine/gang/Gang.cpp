#include "engine/gang/Gang.h"

#include <map>
#include <set>
#include <sstream>
#include <system_error>
#include <thread>

#include "engine/gang/PhaseGate.h"
#include "engine/os/Platform.h"
#include "engine/os/RunFiles.h"
#include "engine/session/PortChoice.h"
#include "engine/values/ValueTemplate.h"
#include "serial/SerialPort.h"

namespace {

using Clock = std::chrono::steady_clock;

double Elapsed(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// The run's end as the events tell it: modules by what became of them.
CRunCounts GangCounts(const std::vector<CWorker>& workers) {
  CRunCounts counts;
  for (const CWorker& worker : workers) {
    switch (worker.m_report.m_outcome) {
      case EOutcome::Ok:
        ++counts.m_nOk;
        break;
      case EOutcome::AlreadyProgrammed:
        ++counts.m_nSkipped;
        break;
      case EOutcome::NoModule:
      case EOutcome::Interrupted:
        break;
      default:
        ++counts.m_nFailed;
        break;
    }
  }
  return counts;
}

}  // namespace

// One worker's share of the run's events: the session's steps, and its module's arrival,
// programming and end, each told with the worker's port and, once read, the module's address.
// Used only from the worker's own thread (or, for a worker that never started, the run's).
class CGangRun::CWorkerEvents final : public CProgressSink {
 public:
  CWorkerEvents(CEngineEventSink& events, size_t index, const CWorker& worker)
      : m_events(events), m_nIndex(index), m_worker(worker) {}
  void Phase(EPhase phase) { m_phase = phase; }
  void OnProgress(int step, const std::string& doing) override {
    m_events.OnStep({Place(), m_phase, step, doing});
  }
  CEventPlace Place() const {
    return {m_nIndex, m_worker.m_strShown, m_worker.m_strShown, m_worker.m_report.m_address};
  }
  CEngineEventSink& Events() { return m_events; }

 private:
  CEngineEventSink& m_events;
  const size_t m_nIndex;
  const CWorker& m_worker;
  EPhase m_phase = EPhase::Reading;
};

CGangRun::CGangRun(const CGangSetup& options, CRunEnv& env)
    : m_options(options), m_settings(options.m_settings), m_env(env) {}

bool CGangRun::Prepare(std::string* error, int* code) {
  const bool ok = PrepareAll(error);
  *code = m_nRefusal;
  return ok;
}

bool CGangRun::PrepareAll(std::string* error) {
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

bool CGangRun::OpenLedger(std::string* error) {
  m_nFirst = m_options.m_nStart;
  if (!m_options.m_ledger.Given()) return true;
  const long long start = m_options.m_nStart;
  m_pLedger = CGangLedger::Open(m_options.m_ledger, m_options.m_bStartGiven ? &start : nullptr,
                                m_options.m_bDryRun, error, &m_nRefusal);
  return m_pLedger && m_pLedger->NextNumber(&m_nFirst, error, &m_nRefusal);
}

bool CGangRun::MakeWorkers(std::string* error) {
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

void CGangRun::Work(CWorker& worker, CPhaseGate& gate, CWorkerEvents& events, bool needsRead,
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
    events.OnProgress(0, OutcomeText(worker.m_report.m_outcome));
  }
  if (worker.m_bAnswered) events.Events().OnArrived({events.Place()});
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
    events.Phase(EPhase::Programming);
    events.Events().OnProgrammingStarted(
        {events.Place(), worker.m_target, worker.m_report.m_ledgerNumber});
    worker.m_pSession->Program(worker.m_target, m_options.m_bTurnOff, m_options.m_bVerify,
                               worker.m_report);
    worker.m_dSeconds += Elapsed(start);
  } else if (interrupt.IsSet() && worker.m_bAnswered && worker.m_report.m_outcome == EOutcome::Ok) {
    // Read but never programmed: the interruption came between the two.
    worker.m_report.m_outcome = EOutcome::Interrupted;
  }
  // The session closed its port before it returned; drop it with its channel now.
  worker.m_pSession.reset();
  if (planned || interrupt.IsSet()) End(worker, events);
}

void CGangRun::End(CWorker& worker, CWorkerEvents& events) {
  if (m_reportFile.IsOpen()) {
    m_reportFile.Append(MakeReportRow(worker.m_strShown, worker.m_report, worker.m_dSeconds));
  }
  if (m_pLedger && !m_options.m_bDryRun) m_pLedger->Record(worker);
  for (ESetting setting : ConfirmedSettings(worker.m_report).Each()) {
    events.Events().OnAcknowledged({events.Place(), setting});
  }
  events.Events().OnAttemptEnded(
      {events.Place(), worker.m_report, worker.m_bTried, m_options.m_bVerify, worker.m_dSeconds});
}

bool CGangRun::CheckTemplates(std::string* error) const {
  // The highest number any module can get gives the longest value.
  const long long last = m_nFirst + static_cast<long long>(m_workers.size()) - 1;
  *error = CheckValueTemplates(m_settings, last, m_workers.size() > 1);
  return error->empty();
}

bool CGangRun::NeedsRead() const {
  // The ledger keys every module by its own address; a dry run shows what each holds.
  if (!m_options.m_strPlan.empty() || m_pLedger || m_options.m_bDryRun) return true;
  if (!m_settings.NameGiven() || !m_settings.PinGiven() || !m_settings.RoleGiven() ||
      !m_settings.PeerGiven()) {
    return true;
  }
  return CValueTemplate(m_settings.m_strName).NeedsAddress() ||
         CValueTemplate(m_settings.m_strPin).NeedsAddress();
}

bool CGangRun::PlanValues(std::string* error) {
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

EValues CGangRun::ValuesFor(const CWorker& worker, long long number, CModuleSettings* values,
                            bool* named, std::string* error) const {
  const CModuleSettings* read = worker.m_report.m_read ? &*worker.m_report.m_read : nullptr;
  return MakeModuleValues(m_settings, m_options.m_strPlan.empty() ? nullptr : &m_plan,
                          worker.m_strShown, read, number, values, named, error);
}

bool CGangRun::Run(CEngineEventSink& events, std::string* error) {
  std::vector<std::unique_ptr<CWorkerEvents>> told;
  for (size_t k = 0; k < m_workers.size(); ++k) {
    CWorker& worker = m_workers[k];
    told.push_back(std::make_unique<CWorkerEvents>(events, k, worker));
    worker.m_pSession =
        std::make_unique<CModuleSession>(*worker.m_pApi, m_env.m_interrupt, told.back().get());
    worker.m_pSession->ListOnly(worker.m_strListed);
    worker.m_pSession->SetPace(m_options.m_pace);
    worker.m_report.m_outcome = EOutcome::Interrupted;
  }

  // The workers and this thread, which works out the values between the reads and the
  // programming.
  CPhaseGate gate(m_workers.size() + 1);
  const bool needsRead = NeedsRead();
  bool planned = false;
  std::vector<std::thread> threads;
  for (size_t k = 0; k < m_workers.size(); ++k) {
    CWorkerEvents& workerEvents = *told[k];
    try {
      threads.push_back(StartWorkerThread([this, k, &gate, &workerEvents, needsRead, &planned] {
        Work(m_workers[k], gate, workerEvents, needsRead, planned);
      }));
    } catch (const std::system_error&) {
      // Out of threads: this port is left out, the others go on.
      gate.Leave();
      m_workers[k].m_pSession.reset();
      m_workers[k].m_report.m_outcome = EOutcome::CommError;
      m_workers[k].m_report.m_strMessage = "no thread could be started for this port";
      End(m_workers[k], workerEvents);
    }
  }
  gate.Arrive();  // every port probed
  gate.Arrive();  // every module that needed it read
  planned = !m_env.m_interrupt.IsSet() && PlanValues(error);
  gate.Arrive();  // the workers program, or end
  for (std::thread& thread : threads) thread.join();
  events.OnRunEnded(
      {m_env.m_interrupt.IsSet() ? ERunEnd::Interrupted : ERunEnd::Other, GangCounts(m_workers)});
  return planned;
}
