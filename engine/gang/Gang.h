// A gang run: every module on every port at once, one worker per module, each running the
// operations on its own port, channel and session. Workers share nothing but the report file;
// one module failing never stops or slows the others.
//
// Contract: Prepare checks the files, the plan, the ports, the ledger and the value templates
// before any port is opened. Run blocks until every worker has ended and every port is closed;
// the values each module gets are worked out, and checked, between the reads and the first
// setting sent. Each worker's row reaches the report file and the ledger as it ends.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/events/EngineEvent.h"
#include "engine/gang/GangWorker.h"
#include "engine/ledgerturn/GangLedger.h"
#include "engine/os/RunEnv.h"
#include "engine/report/Report.h"
#include "engine/values/ModuleValues.h"
#include "engine/values/Plan.h"
#include "engine/values/RunChoices.h"

// What a gang run is asked to do.
struct CGangSetup {
  // "all", or P1,P2,...
  std::string m_strPorts = "all";
  CSettingChoice m_settings;
  int m_nStart = 1;
  // With a ledger, --start sets the ledger's counter only when given.
  bool m_bStartGiven = false;
  std::string m_strPlan;
  std::string m_strReport;
  bool m_bVerify = false;
  bool m_bTurnOff = false;
  // Probe, read, plan and check, show each module's change, send no setting.
  bool m_bDryRun = false;
  EPace m_pace = EPace::Standard;
  CLedgerChoice m_ledger;
};

class CGangRun {
 public:
  CGangRun(const CGangSetup& options, CRunEnv& env);
  // Everything that could refuse the run, before any port is opened: false with the rule
  // broken in *error and the exit code in *code.
  bool Prepare(std::string* error, int* code);
  // Probes, reads, plans and programs; false (with why) when the values could not be planned,
  // and then nothing was programmed. What happens is told to events as it happens, each
  // worker's from its own thread (a port's index is its slot).
  bool Run(CEngineEventSink& events, std::string* error);

  const std::vector<CWorker>& Workers() const { return m_workers; }
  CReportFile& ReportFile() { return m_reportFile; }
  CGangLedger* Ledger() { return m_pLedger.get(); }

 private:
  bool PrepareAll(std::string* error);
  bool OpenLedger(std::string* error);
  bool MakeWorkers(std::string* error);
  // The templates against the number of ports.
  bool CheckTemplates(std::string* error) const;
  bool NeedsRead() const;
  // Works out every module's values; false with the first rule broken.
  bool PlanValues(std::string* error);
  // The values the worker's module gets as number (templates, plan row, what it holds).
  EValues ValuesFor(const CWorker& worker, long long number, CModuleSettings* values, bool* named,
                    std::string* error) const;
  class CWorkerEvents;
  void Work(CWorker& worker, class CPhaseGate& gate, CWorkerEvents& events, bool needsRead,
            const bool& planned);
  // The worker's run has ended: its row goes to the report file at once, and its end to the
  // events.
  void End(CWorker& worker, CWorkerEvents& events);

  const CGangSetup& m_options;
  const CSettingChoice& m_settings;
  CRunEnv& m_env;
  CPlan m_plan;
  CReportFile m_reportFile;
  std::vector<CWorker> m_workers;
  std::unique_ptr<CGangLedger> m_pLedger;
  // The first number a module can get.
  long long m_nFirst = 1;
  int m_nRefusal = kExitUsage;
};
