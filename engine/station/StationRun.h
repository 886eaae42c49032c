// The station's coordinating thread: it finds the slots' ports, starts a slot for each,
// watches for the ends of the run and says how it ended. What a person sees of it (the
// terminal's board, a web page) is a presenter subscribed before Run; the events of record
// (--events) are the run's own, since losing them stops it.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine/events/EventStream.h"
#include "engine/station/Slot.h"
#include "engine/station/SlotPorts.h"
#include "engine/station/StationContext.h"
#include "engine/station/StationSetup.h"

class CStation {
 public:
  CStation(const CStationSetup& setup, CRunEnv& env) : m_options(setup), m_env(env) {}
  // A presenter of the station's events, subscribed before Run. It is told OnRunEnded before
  // the run's last lines are written, and must have drawn its last by then.
  void Subscribe(CEngineEventSink& sink) { m_extra.push_back(&sink); }
  // ready, when given, is called once the run's checks have passed, before any port is opened
  // (a front end starts serving there); a code other than kExitOk from it ends the run.
  int Run(const std::function<int()>& ready = {});

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

  const CStationSetup m_options;
  CRunEnv& m_env;
  CPlan m_plan;
  std::map<std::string, std::string> m_labels;
  std::unique_ptr<CLedgerRun> m_pLedger;
  CEventStream::CWriter m_fnEvents;
  std::unique_ptr<CPortFinder> m_pFinder;
  std::unique_ptr<CEventStream> m_pEvents;
  // The station's events, to the events' stream and the presenters.
  CEngineEventFanOut m_fanOut;
  std::unique_ptr<CStationContext> m_pContext;
  std::vector<std::unique_ptr<CSlot>> m_slots;
  std::map<std::string, CSlot*> m_byPort;
  std::vector<CEngineEventSink*> m_extra;
};
