// The operator's view of a station on stderr, a presenter of the engine's events. On a
// terminal: one line per slot, redrawn in place, and a summary line under them, every line cut
// to the terminal's width and the block to its height ("... and N more slots"). Otherwise one
// plain line per event, for a log.
//
// Contract: events come from the slots' threads and never wait on the output: a writer thread
// draws. Plain lines pile up only to a limit while the output does not take them; later ones
// are dropped and a line says how many. Stop draws the last state if the output takes it soon
// and returns without waiting on an output that does not.
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "engine/events/EngineEvent.h"
#include "engine/events/WriterThread.h"
#include "engine/station/StationWords.h"

// The block as a terminal of rows x columns shows it (0: not known), without moving up first.
std::string BoardFrame(const std::vector<std::string>& lines, const std::string& summary,
                       size_t rows, size_t columns);

class CStationBoard final : public CEngineEventSink {
 public:
  using CWriter = std::function<void(const std::string& text)>;
  struct CScreen {
    bool m_bTerminal = false;
    int m_nRows = 0;  // 0 when not known
    int m_nColumns = 0;
  };
  // bell: ring on a failure; start: how the writer thread is started.
  CStationBoard(CWriter write, CScreen screen, bool quiet, bool bell,
                CWriterThread::CStarter start = {});
  ~CStationBoard() override { Stop(); }

  void OnArrived(const CModuleArrived& event) override;
  void OnStep(const CStepStarted& event) override;
  void OnAttemptEnded(const CAttemptEnded& event) override;
  void OnRemoved(const CModuleRemoved& event) override;
  void OnSlotState(const CSlotStateChanged& event) override;
  void OnCounts(const CRunCounts& counts) override;
  void OnRunEnded(const CRunEnded& ended) override;
  void Stop();

 private:
  struct CSlotLine {
    std::string m_strLabel;
    std::string m_strState = "waiting";
    std::string m_strResult;
  };
  // The slot's line, made when its first event comes. Called with the lock held.
  CSlotLine& Line(const CEventPlace& at);
  void SetState(const CEventPlace& at, const std::string& state);
  // A plain line for a log; on a terminal a failure rings the bell.
  void Event(const CEventPlace& at, const std::string& text, bool failure);
  std::string Frame();

  const CScreen m_screen;
  const bool m_bBell;
  std::mutex m_mutex;
  std::vector<CSlotLine> m_lines;
  std::string m_strSummary;
  size_t m_nDrawn = 0;  // lines of the block on the screen
  bool m_bRing = false;
  CWriterThread m_writer;
};
