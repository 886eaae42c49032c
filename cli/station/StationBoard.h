// The operator's view of a station on stderr. On a terminal: one line per slot, redrawn in
// place, and a summary line under them. Otherwise one plain line per event, for a log.
//
// Contract: slot workers report from their own threads and never wait on the output: a thread
// of its own draws (as gang's progress does). Plain lines pile up only to a limit while the
// output does not take them; later ones are counted and dropped. Stop draws the last state if
// the output takes it and returns without waiting on an output that does not.
#pragma once

#include <functional>
#include <memory>
#include <string>

class CStationBoard {
 public:
  using CWriter = std::function<void(const std::string& text)>;
  // screenRows: the terminal's height (0 when unknown); bell: ring on a failure.
  CStationBoard(CWriter write, bool terminal, bool quiet, bool bell, int screenRows);
  ~CStationBoard();
  CStationBoard(const CStationBoard&) = delete;
  CStationBoard& operator=(const CStationBoard&) = delete;

  // A new line for a slot; returns its index.
  size_t AddSlot(const std::string& label);
  // What the slot's line says now ("waiting", "OK BT-0007, remove the module").
  void SetState(size_t slot, const std::string& state);
  // An event of the slot: a plain line without a terminal; a failure rings the bell on one.
  void Event(size_t slot, const std::string& text, bool failure);
  void SetSummary(const std::string& summary);
  void Stop();

 private:
  struct CState;
  static void Draw(std::shared_ptr<CState> state, CWriter write);
  void Wake();

  std::shared_ptr<CState> m_pState;
  bool m_bRunning = false;
};
