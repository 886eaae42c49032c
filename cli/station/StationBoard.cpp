#include "cli/station/StationBoard.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <system_error>
#include <vector>

#include "engine/os/Platform.h"

struct CStationBoard::CState {
  std::mutex m_mutex;
  std::condition_variable m_cv;
  bool m_bTerminal = false;
  bool m_bBell = false;
  size_t m_nFit = 23;  // lines the block may take on the screen, the summary among them
  std::vector<std::string> m_labels;
  std::vector<std::string> m_states;
  std::string m_strSummary;
  std::deque<std::string> m_pending;
  size_t m_nDropped = 0;
  bool m_bRing = false;
  bool m_bDirty = false;
  bool m_bStopping = false;
  bool m_bDone = false;
};

namespace {

constexpr size_t kMaxPendingLines = 1024;
constexpr size_t kMaxLabelWidth = 40;

// The block as the terminal shows it: a line per slot (as many as fit, then one line for the
// rest) and the summary.
std::string Frame(const std::vector<std::string>& labels, const std::vector<std::string>& states,
                  const std::string& summary, size_t fit) {
  size_t width = 0;
  for (const std::string& label : labels) width = std::max(width, label.size());
  width = std::min(width, kMaxLabelWidth);
  const size_t room = fit > 1 ? fit - 1 : 1;
  const bool cut = labels.size() > room;
  const size_t full = cut ? room - 1 : labels.size();
  std::string text;
  for (size_t k = 0; k < full; ++k) {
    std::string label = labels[k];
    if (label.size() < width) label.append(width - label.size(), ' ');
    text += "\x1b[2K" + label + "  " + states[k] + "\n";
  }
  if (cut) text += "\x1b[2K... and " + std::to_string(labels.size() - full) + " more slots\n";
  return text + "\x1b[2K" + summary + "\n";
}

}  // namespace

CStationBoard::CStationBoard(CWriter write, bool terminal, bool quiet, bool bell, int screenRows)
    : m_pState(std::make_shared<CState>()) {
  CState& state = *m_pState;
  state.m_bTerminal = terminal;
  state.m_bBell = bell && terminal;
  // One line stays free for the cursor below the block.
  if (screenRows > 3) state.m_nFit = static_cast<size_t>(screenRows - 1);
  if (quiet) return;
  try {
    StartWorkerThread([shared = m_pState, write = std::move(write)] {
      Draw(shared, write);
    }).detach();
    m_bRunning = true;
  } catch (const std::system_error&) {
    // No thread for the view: the station works on without it.
  }
}

CStationBoard::~CStationBoard() {
  Stop();
}

size_t CStationBoard::AddSlot(const std::string& label) {
  CState& state = *m_pState;
  std::lock_guard<std::mutex> lock(state.m_mutex);
  state.m_labels.push_back(label);
  state.m_states.emplace_back("waiting");
  state.m_bDirty = state.m_bTerminal;
  state.m_cv.notify_one();
  return state.m_labels.size() - 1;
}

void CStationBoard::SetState(size_t slot, const std::string& text) {
  CState& state = *m_pState;
  std::lock_guard<std::mutex> lock(state.m_mutex);
  if (slot >= state.m_states.size() || state.m_states[slot] == text) return;
  state.m_states[slot] = text;
  if (state.m_bTerminal) Wake();
}

void CStationBoard::Event(size_t slot, const std::string& text, bool failure) {
  CState& state = *m_pState;
  std::lock_guard<std::mutex> lock(state.m_mutex);
  if (state.m_bTerminal) {
    if (!failure || !state.m_bBell) return;
    state.m_bRing = true;
  } else if (state.m_pending.size() < kMaxPendingLines && slot < state.m_labels.size()) {
    state.m_pending.push_back(state.m_labels[slot] + ": " + text + "\n");
  } else {
    ++state.m_nDropped;
  }
  Wake();
}

void CStationBoard::SetSummary(const std::string& summary) {
  CState& state = *m_pState;
  std::lock_guard<std::mutex> lock(state.m_mutex);
  if (state.m_strSummary == summary) return;
  state.m_strSummary = summary;
  if (state.m_bTerminal) Wake();
}

// Called with the state's lock held.
void CStationBoard::Wake() {
  m_pState->m_bDirty = true;
  m_pState->m_cv.notify_one();
}

void CStationBoard::Draw(std::shared_ptr<CState> shared, CWriter write) {
  CState& state = *shared;
  size_t drawn = 0;  // lines of the block on the screen
  std::unique_lock<std::mutex> lock(state.m_mutex);
  for (;;) {
    state.m_cv.wait(lock, [&] { return state.m_bDirty || state.m_bStopping; });
    if (!state.m_bDirty) break;
    state.m_bDirty = false;
    std::string text;
    if (state.m_bTerminal) {
      // Back to the block's first line, then every line afresh.
      if (drawn > 0) text += "\x1b[" + std::to_string(drawn) + "F";
      text += Frame(state.m_labels, state.m_states, state.m_strSummary, state.m_nFit);
      drawn = std::min(state.m_labels.size() + 1, std::max<size_t>(state.m_nFit, 2));
      if (state.m_bRing) text += "\a";
      state.m_bRing = false;
    } else {
      for (const std::string& line : state.m_pending) text += line;
      state.m_pending.clear();
      if (state.m_nDropped > 0) {
        text += "(" + std::to_string(state.m_nDropped) + " lines dropped)\n";
        state.m_nDropped = 0;
      }
    }
    // The output may block (a full pipe): never while a worker could want the lock.
    lock.unlock();
    write(text);
    lock.lock();
    // Redraws come at most ten times a second: a terminal need not see every step.
    if (state.m_bTerminal && !state.m_bStopping) {
      state.m_cv.wait_for(lock, std::chrono::milliseconds(100), [&] { return state.m_bStopping; });
    }
  }
  state.m_bDone = true;
  state.m_cv.notify_all();
}

void CStationBoard::Stop() {
  if (!m_bRunning) return;
  m_bRunning = false;
  CState& state = *m_pState;
  std::unique_lock<std::mutex> lock(state.m_mutex);
  state.m_bStopping = true;
  state.m_bDirty = true;  // the last state, summary included
  state.m_cv.notify_all();
  // The last frame, if the output takes it soon; a blocked output is left to its thread.
  state.m_cv.wait_for(lock, std::chrono::milliseconds(500), [&] { return state.m_bDone; });
}
