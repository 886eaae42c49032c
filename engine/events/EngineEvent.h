// What the engine tells of a run, as typed events: a module arrived, a step started, a setting
// was acknowledged, an attempt ended with its outcome, a module was removed, a slot's state
// changed, the counts changed, the run ended. Presenters (the operator's board, the JSON-lines
// events, a web page) subscribe to them and word them; the engine words nothing.
//
// Contract: events are published from the slots' own threads, several at once; a sink takes
// them without waiting on any output (a presenter posts to its writer thread). Every event of
// one slot comes from one thread, in the order it happened.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "engine/session/ModuleSession.h"
#include "protocol/ModuleAddress.h"

// Where it happened: the slot (its index from 0 and the label shown for it), its port, and the
// module's address once it is known.
struct CEventPlace {
  size_t m_nSlot = 0;
  std::string m_strLabel;
  std::string m_strPort;
  std::optional<CModuleAddress> m_address;
};

struct CModuleArrived {
  CEventPlace m_at;
};

// The module is about to be written with these values (the ledger's number with one).
struct CProgrammingStarted {
  CEventPlace m_at;
  CModuleSettings m_values;
  std::optional<long long> m_number;
};

enum class EPhase { Reading, Programming };

// A step of the module's exchange: 1 to CHeadlessView::kProgressSteps.
struct CStepStarted {
  CEventPlace m_at;
  EPhase m_phase = EPhase::Reading;
  int m_nStep = 0;
  std::string m_strDoing;
};

// A setting the module acknowledged in this attempt.
struct CSettingAcknowledged {
  CEventPlace m_at;
  ESetting m_setting = ESetting::Name;
};

struct CAttemptEnded {
  CEventPlace m_at;
  CModuleReport m_report;
  bool m_bTried = false;   // values were sent
  bool m_bVerify = false;  // a verifying read was asked for
  double m_dSeconds = 0;
};

struct CModuleRemoved {
  CEventPlace m_at;
};

enum class ESlotState {
  Waiting,      // no module on the jig
  NoPort,       // the port is not there
  Busy,         // another program holds the port
  Denied,       // the user may not open the port
  NoThread,     // the slot could not start
  Reading,      // a module is being read
  Programming,  // and written
  Done,         // its attempt ended; waiting for it to be taken off
};

struct CSlotStateChanged {
  CEventPlace m_at;
  ESlotState m_state = ESlotState::Waiting;
};

// Modules by their last attempt in this run, and the time the run has taken.
struct CRunCounts {
  long long m_nOk = 0;
  long long m_nFailed = 0;
  long long m_nSkipped = 0;
  double m_dHours = 0;
};

enum class ERunEnd { Interrupted, Count, Idle, LedgerLost, EventsLost, Other };

struct CRunEnded {
  ERunEnd m_end = ERunEnd::Other;
  CRunCounts m_counts;
};

class CEngineEventSink {
 public:
  virtual ~CEngineEventSink() = default;
  virtual void OnArrived(const CModuleArrived&) {}
  virtual void OnProgrammingStarted(const CProgrammingStarted&) {}
  virtual void OnStep(const CStepStarted&) {}
  virtual void OnAcknowledged(const CSettingAcknowledged&) {}
  virtual void OnAttemptEnded(const CAttemptEnded&) {}
  virtual void OnRemoved(const CModuleRemoved&) {}
  virtual void OnSlotState(const CSlotStateChanged&) {}
  virtual void OnCounts(const CRunCounts&) {}
  virtual void OnRunEnded(const CRunEnded&) {}
};

// Hands every event to each subscriber, in the order they subscribed. Subscribe before the
// first event: the list is not guarded against a change while events flow.
class CEngineEventFanOut final : public CEngineEventSink {
 public:
  void Subscribe(CEngineEventSink& sink) { m_sinks.push_back(&sink); }

  void OnArrived(const CModuleArrived& e) override { Each(&CEngineEventSink::OnArrived, e); }
  void OnProgrammingStarted(const CProgrammingStarted& e) override {
    Each(&CEngineEventSink::OnProgrammingStarted, e);
  }
  void OnStep(const CStepStarted& e) override { Each(&CEngineEventSink::OnStep, e); }
  void OnAcknowledged(const CSettingAcknowledged& e) override {
    Each(&CEngineEventSink::OnAcknowledged, e);
  }
  void OnAttemptEnded(const CAttemptEnded& e) override {
    Each(&CEngineEventSink::OnAttemptEnded, e);
  }
  void OnRemoved(const CModuleRemoved& e) override { Each(&CEngineEventSink::OnRemoved, e); }
  void OnSlotState(const CSlotStateChanged& e) override { Each(&CEngineEventSink::OnSlotState, e); }
  void OnCounts(const CRunCounts& e) override { Each(&CEngineEventSink::OnCounts, e); }
  void OnRunEnded(const CRunEnded& e) override { Each(&CEngineEventSink::OnRunEnded, e); }

 private:
  template <typename TEvent>
  void Each(void (CEngineEventSink::*on)(const TEvent&), const TEvent& event) {
    for (CEngineEventSink* sink : m_sinks) (sink->*on)(event);
  }

  std::vector<CEngineEventSink*> m_sinks;
};
