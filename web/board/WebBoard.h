// The station's board in a browser: one tile per slot and the run's summary, kept from the
// engine's events and published whole to the live pages at every change.
//
// Contract: the event calls come from the slots' threads, several at once; each takes a short
// lock, changes the tile and marks the board changed. A thread of the board's own words it as
// JSON and posts it to the hub (which never waits on a browser), at most every kGap: a burst of
// steps is one update, and 50 pages cost the station little. The run's end is posted at once.
// The page (/), the snapshot (/board/state) and the stream (/board/events, served by
// CWebServer) all show the same JSON. Text from a module travels as JSON data only; the page
// sets it as text, never as markup.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/events/EngineEvent.h"
#include "web/SseHub.h"
#include "web/WebServer.h"

class CWebBoard final : public CEngineEventSink {
 public:
  static constexpr const char* kEventsPath = "/board/events";

  static constexpr std::chrono::milliseconds kGap{250};

  explicit CWebBoard(CSseHub& hub);
  ~CWebBoard() override;
  CWebBoard(const CWebBoard&) = delete;
  CWebBoard& operator=(const CWebBoard&) = delete;
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
  void Publish();  // with m_mutex held: marks the board changed
  void Post();     // the publishing thread

  CSseHub& m_hub;
  mutable std::mutex m_mutex;
  std::vector<CTile> m_tiles;
  CRunCounts m_counts;
  bool m_bRunning = true;
  std::string m_strEnd;
  bool m_bChanged = false;
  bool m_bStopping = false;
  std::condition_variable m_wake;
  std::thread m_thread;
};
