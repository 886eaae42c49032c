// The station's coordinating thread: it finds the slots' ports, starts a slot for each,
// watches for the ends of the run and says how it ended.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "cli/station/EventStream.h"
#include "engine/station/Slot.h"
#include "engine/station/SlotPorts.h"
#include "cli/station/StationBoard.h"
#include "cli/station/StationOptions.h"
#include "engine/station/StationContext.h"

class CStation {
 public:
  CStation(const CStationOptions& options, CRunEnv& env)
      : m_command(options), m_options(options.Setup()), m_env(env) {}
  // Another presenter of the station's events, subscribed before Run.
  void Subscribe(CEngineEventSink& sink) { m_extra.push_back(&sink); }
  int Run();

 private:
  // Everything that could refuse the run, before any port is opened; the exit code in *code.
  bool Prepare(std::string* error, int* code);
  bool MakeFinder(std::string* error);
  bool OpenEvents(std::string* error);
  // New slots for ports seen for the first time; every slot told whether its port is there.
  void Scan();
  void AddSlot(const CSlotPort& port);
  // Waits for an end of the run.
  void Watch();
  int End();
  // The events' end: a slow reader given its while; false when some were not written.
  bool EndEvents();

  const CStationOptions& m_command;
  const CStationSetup m_options;
  CRunEnv& m_env;
  CPlan m_plan;
  std::map<std::string, std::string> m_labels;
  std::unique_ptr<CLedgerRun> m_pLedger;
  CEventStream::CWriter m_fnEvents;
  std::unique_ptr<CPortFinder> m_pFinder;
  std::unique_ptr<CStationBoard> m_pBoard;
  std::unique_ptr<CEventStream> m_pEvents;
  // The station's events, to the board and the events' stream (and a test's recorder).
  CEngineEventFanOut m_fanOut;
  std::unique_ptr<CStationContext> m_pContext;
  std::vector<std::unique_ptr<CSlot>> m_slots;
  std::map<std::string, CSlot*> m_byPort;
  std::vector<CEngineEventSink*> m_extra;
};
