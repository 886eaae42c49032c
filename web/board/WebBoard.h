// The station's board in a browser: one tile per slot and the run's summary, kept from the
// engine's events and published whole to the live pages at every change.
//
// Contract: the event calls come from the slots' threads, several at once; each takes a short
// lock, words the board as JSON and posts it to the hub, which never waits on a browser. The
// page (/), the snapshot (/board/state) and the stream (/board/events, served by CWebServer)
// all show the same JSON. Text from a module travels as JSON data only; the page sets it as
// text, never as markup.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "engine/events/EngineEvent.h"
#include "web/SseHub.h"
#include "web/WebServer.h"

class CWebBoard final : public CEngineEventSink {
 public:
  static constexpr const char* kEventsPath = "/board/events";

  explicit CWebBoard(CSseHub& hub);
  // The page and the snapshot, for CWebServer::Route("/", ...).
  CWebServer::CHandler Handler();
  // The board as JSON, as the page and the stream get it.
  std::string State() const;

  void OnArrived(const CModuleArrived& e) override;
  void OnProgrammingStarted(const CProgrammingStarted& e) override;
  void OnStep(const CStepStarted& e) override;
  void OnAttemptEnded(const CAttemptEnded& e) override;
  void OnRemoved(const CModuleRemoved& e) override;
  void OnSlotState(const CSlotStateChanged& e) override;
  void OnCounts(const CRunCounts& e) override;
  void OnRunEnded(const CRunEnded& e) override;

 private:
  struct CTile {
    std::string m_strLabel;
    std::string m_strPort;
    ESlotState m_state = ESlotState::Waiting;
    std::string m_strStep;
    std::string m_strName;
    std::string m_strNumber;
    std::string m_strAddress;
    std::string m_strResult;  // "ok", "failed", "skipped" or empty
    std::string m_strFailure;
  };

  CTile& At(const CEventPlace& place);  // with m_mutex held
  std::string StateLocked() const;
  void Publish();  // with m_mutex held

  CSseHub& m_hub;
  mutable std::mutex m_mutex;
  std::vector<CTile> m_tiles;
  CRunCounts m_counts;
  bool m_bRunning = true;
  std::string m_strEnd;
};
