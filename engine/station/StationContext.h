// What every slot of a station shares: the options, the ledger, the stream of events its
// presenters subscribe to, the counts, and the station's own stop. Slots call it from their own
// threads.
#pragma once

#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <set>
#include <string>

#include "engine/os/RunEnv.h"
#include "engine/ledgerturn/LedgerRun.h"
#include "engine/session/ModuleSession.h"
#include "engine/values/Plan.h"
#include "engine/station/StationSetup.h"
#include "engine/events/EngineEvent.h"

// Why the station stops taking modules.
enum class EStop { None, Interrupted, Count, Idle, LedgerLost, EventsLost };

// What becomes of a module that was read.
struct CSlotTurn {
  enum class EKind { Program, Skip, Fail };
  EKind m_kind = EKind::Fail;
  CModuleSettings m_values;  // with Program
  EOutcome m_skip = EOutcome::AlreadyProgrammed;
  long long m_nNumber = -1;  // the ledger's number; -1 without one
  bool m_bAgain = false;
  std::string m_strWhy;                    // with Fail
  EOutcome m_failure = EOutcome::Refused;  // with Fail
};

class CStationContext {
 public:
  CStationContext(const CStationSetup& options, CRunEnv& env, CEngineEventSink& events,
                  CLedgerRun* ledger, const CPlan* plan);

  const CStationSetup& Options() const { return m_options; }
  CRunEnv& Env() { return m_env; }
  // Where the slots tell what happens.
  CEngineEventSink& Events() { return m_events; }
  // The next slot's index: slots are numbered from 0 as they come.
  size_t NewSlot() { return m_nSlots++; }
  const CInterrupt& UserInterrupt() const { return m_env.m_interrupt; }

  // The station stops taking modules (the first reason given stays); modules under way finish.
  void Stop(EStop why);
  bool Stopping() const { return m_stop.IsSet(); }
  EStop StopReason() const;
  // Sleeps ms, or less once the station stops. True when stopping.
  bool Wait(DWORD ms) const { return m_stop.Wait(ms); }

  // A module answered on a slot: the idle time starts again.
  void NoteArrival();
  double IdleSeconds() const;

  // The module read on port: program it (and with what), leave it, or fail it.
  CSlotTurn Turn(const std::string& port, const CModuleSettings& read);
  // The module's run has ended: counts, the ledger's record, the end by count.
  void Ended(const std::string& port, const CModuleReport& report, double seconds, bool tried,
             bool again);
  // Modules by their last attempt in this run, and the time the run has taken.
  CRunCounts Counts() const;
  // Modules whose last attempt in this run failed.
  long long Failed() const;

 private:
  using Clock = std::chrono::steady_clock;
  enum class EFate { Ok, Failed, Skipped };
  CSlotTurn TurnWithLedger(const std::string& port, const std::string& key,
                           const CModuleSettings& read);
  CSlotTurn TurnWithoutLedger(const std::string& port, const std::string& key,
                              const CModuleSettings& read);

  const CStationSetup& m_options;
  CRunEnv& m_env;
  CEngineEventSink& m_events;
  std::atomic<size_t> m_nSlots{0};
  CLedgerRun* m_pLedger;
  const CPlan* m_pPlan;
  CInterrupt m_stop;
  const Clock::time_point m_start = Clock::now();
  // How each module's last attempt in this run ended, by address: the counts follow the last
  // attempt, as the ledger's stats do. A module whose address never came counts on its own.
  std::map<std::string, EFate> m_fates;
  long long m_nNamelessFailures = 0;
  std::atomic<long long> m_nLastArrival;  // ms since the start
  mutable std::mutex m_mutex;
  EStop m_stopReason = EStop::None;
  // Without a ledger: the modules programmed ok in this run, and the names given, by address.
  std::set<std::string> m_programmed;
  std::map<std::string, std::string> m_names;
};
