// One slot of a station: a port that takes one module after another. Its thread probes the
// port while it waits, takes a module that answers through read, values and program (and a
// verifying read), shows the result and waits until the module is taken off (the port goes,
// or three probes in a row go unanswered) before it takes the next.
//
// Contract: Start runs the slot on a thread of its own; Join waits for it. The slot stops
// taking modules once the station stops; a module under way finishes first (the user's
// interruption ends it at its next exchange). Every port the slot opens is closed again before
// its thread ends. SetPresent may be called from any thread.
#pragma once

#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "engine/station/StationContext.h"
#include "serial/CommApi.h"

class CSlot {
 public:
  // port: as the slot's events name it; listed: the name its channel lists; api: the channel,
  // owned when given as owned.
  CSlot(CStationContext& context, std::string label, std::string port, std::string listed,
        CommApi& api, std::unique_ptr<CommApi> owned);
  ~CSlot();
  CSlot(const CSlot&) = delete;
  CSlot& operator=(const CSlot&) = delete;

  const std::string& Port() const { return m_strPort; }
  // Whether the port is there now (its name listed, its link in the watched folder).
  void SetPresent(bool present) { m_bPresent = present; }
  // False when no thread could be started.
  bool Start();
  void Join();

 private:
  enum class EProbe { Answered, Silent, Busy, Denied, Gone };
  class CSink;

  void Run();
  EProbe Probe(CModuleSession& session);
  // The module taken last answers the probe: whether it is still that one (its address read
  // again on a connection of its own).
  bool StillThere(CModuleSession& prober);
  // A module answered: arrived, read, programmed, its result shown and counted.
  void TakeModule();
  // The module's run has ended with report: the result on the line, the events, the counts.
  void Finish(CModuleReport& report, double seconds, bool tried, bool again);
  // The module is off the jig (or its port gone).
  void Removed();
  // Tells the slot's state when it changed.
  void SetState(ESlotState state);
  // This slot, and the module's address as far as it is known.
  CEventPlace Place() const;

  CStationContext& m_context;
  const std::string m_strLabel;
  const std::string m_strPort;
  const std::string m_strListed;
  std::unique_ptr<CommApi> m_pOwnedApi;
  CommApi& m_api;
  size_t m_nSlot = 0;
  ESlotState m_state = ESlotState::Waiting;
  std::atomic<bool> m_bPresent{true};
  std::thread m_thread;
  // The module that was on the jig last: its address, and whether it is still taken to be on.
  std::optional<CModuleAddress> m_lastAddress;
  bool m_bOccupied = false;
  // Its run ended ok, or it had been programmed before.
  bool m_bLastOk = false;
};
