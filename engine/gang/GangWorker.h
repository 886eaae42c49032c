// One port of a gang run: its channel, its session while it runs, and what became of its
// module. Each worker thread owns one; the coordinating thread reads and plans them only while
// every worker waits at the phase gate.
#pragma once

#include <memory>
#include <string>

#include "engine/session/ModuleSession.h"
#include "serial/CommApi.h"

struct CWorker {
  std::string m_strListed;  // the name the worker's search lists ("COM3")
  std::string m_strShown;   // the name the report uses (the COM name, or a device path)
  std::unique_ptr<CommApi> m_pOwnedApi;
  CommApi* m_pApi = nullptr;
  std::unique_ptr<CModuleSession> m_pSession;
  bool m_bAnswered = false;
  bool m_bProgram = false;
  CModuleSettings m_target;
  CModuleReport m_report;
  double m_dSeconds = 0;
  // With a ledger: a Program was started (the attempt is recorded when the worker ends), and
  // the module had been programmed before (--again).
  bool m_bTried = false;
  bool m_bAgain = false;
};
