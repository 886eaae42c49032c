#include "cli/Progress.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <system_error>

#include "engine/os/Platform.h"
#include "engine/session/HeadlessView.h"

std::string ProgressLine(int step, const std::string& doing) {
  const int total = CHeadlessView::kProgressSteps;
  if (step < 0) step = 0;
  if (step > total) step = total;
  std::string line = "[";
  line.append(static_cast<size_t>(step), '#');
  line.append(static_cast<size_t>(total - step), '-');
  line += "] " + std::to_string(step) + "/" + std::to_string(total) + " " + doing;
  return line;
}

void CTerminalProgress::OnProgress(int step, const std::string& doing) {
  if (!m_bEnabled) return;
  // Carriage return and erase-to-end-of-line: the bar is redrawn where it stands.
  m_err << "\r\x1b[K" << ProgressLine(step, doing) << std::flush;
  m_bDrawn = true;
}

void CTerminalProgress::Finish() {
  if (!m_bDrawn) return;
  m_err << "\r\x1b[K" << std::flush;
  m_bDrawn = false;
}

struct CGangProgress::CState {
  std::mutex m_mutex;
  std::condition_variable m_cv;
  bool m_bTerminal = false;
  size_t m_nShown = 0;  // lines of the block on a terminal, the summary line among them
  std::vector<std::string> m_ports;
  std::vector<std::string> m_lines;
  // Plain lines not yet written, and how many were dropped for want of room.
  std::deque<std::string> m_pending;
  size_t m_nDropped = 0;
  bool m_bDirty = false;
  bool m_bStopping = false;
  bool m_bDone = false;
};

namespace {

constexpr size_t kMaxPendingLines = 256;

// The block as the terminal shows it: every port's line, or as many as fit and then one line
// for the rest.
std::string Frame(const std::vector<std::string>& lines, size_t shown, bool drawn) {
  std::string text;
  // Back to the block's first line, then every line afresh.
  if (drawn) text += "\x1b[" + std::to_string(shown) + "F";
  const bool cut = lines.size() > shown;
  const size_t full = cut ? shown - 1 : lines.size();
  for (size_t k = 0; k < full; ++k) text += "\x1b[2K" + lines[k] + "\n";
  if (cut) {
    text += "\x1b[2K... and " + std::to_string(lines.size() - full) +
            " more ports (the report lists every port)\n";
  }
  return text;
}

}  // namespace

CGangProgress::CGangProgress(CWriter write, bool terminal, bool quiet, int screenRows,
                             std::vector<std::string> ports)
    : m_pState(std::make_shared<CState>()) {
  CState& state = *m_pState;
  state.m_bTerminal = terminal;
  // One line stays free for the cursor below the block.
  const size_t fit = screenRows > 2 ? static_cast<size_t>(screenRows - 1) : 23;
  state.m_nShown = std::min(ports.size(), std::max<size_t>(fit, 2));
  state.m_lines.resize(ports.size());
  state.m_ports = std::move(ports);
  m_sinks.reserve(state.m_ports.size());
  for (size_t k = 0; k < state.m_ports.size(); ++k) m_sinks.emplace_back(this, k);
  if (quiet || state.m_ports.empty()) return;
  try {
    StartWorkerThread([state = m_pState, write = std::move(write)] {
      Draw(state, write);
    }).detach();
    m_bRunning = true;
  } catch (const std::system_error&) {
    // No thread for the progress: the run goes on without it.
  }
}

CGangProgress::~CGangProgress() {
  Stop();
}

void CGangProgress::Update(size_t index, int step, const std::string& doing) {
  if (!m_bRunning) return;
  CState& state = *m_pState;
  std::lock_guard<std::mutex> lock(state.m_mutex);
  std::string line = state.m_ports[index] + ": " + ProgressLine(step, doing);
  if (line == state.m_lines[index]) return;
  state.m_lines[index] = line;
  if (!state.m_bTerminal) {
    if (state.m_pending.size() < kMaxPendingLines) {
      state.m_pending.push_back(state.m_ports[index] + ": " + std::to_string(step) + "/" +
                                std::to_string(CHeadlessView::kProgressSteps) + " " + doing + "\n");
    } else {
      ++state.m_nDropped;
    }
  }
  state.m_bDirty = true;
  state.m_cv.notify_one();
}

void CGangProgress::Draw(std::shared_ptr<CState> shared, CWriter write) {
  CState& state = *shared;
  bool drawn = false;
  std::unique_lock<std::mutex> lock(state.m_mutex);
  for (;;) {
    state.m_cv.wait(lock, [&] { return state.m_bDirty || state.m_bStopping; });
    if (!state.m_bDirty) break;
    state.m_bDirty = false;
    std::string text;
    if (state.m_bTerminal) {
      text = Frame(state.m_lines, state.m_nShown, drawn);
      drawn = true;
    } else {
      for (const std::string& line : state.m_pending) text += line;
      state.m_pending.clear();
      if (state.m_nDropped > 0) {
        text += "(" + std::to_string(state.m_nDropped) + " progress lines dropped)\n";
        state.m_nDropped = 0;
      }
    }
    // The output may block (a full pipe): never while a worker could want the lock.
    lock.unlock();
    write(text);
    lock.lock();
  }
  state.m_bDone = true;
  state.m_cv.notify_all();
}

void CGangProgress::Stop() {
  if (!m_bRunning) return;
  m_bRunning = false;
  CState& state = *m_pState;
  std::unique_lock<std::mutex> lock(state.m_mutex);
  state.m_bStopping = true;
  state.m_cv.notify_all();
  // The last frame, if the output takes it soon; a blocked output is left to itself, with
  // the drawing thread that owns its half of the state.
  state.m_cv.wait_for(lock, std::chrono::milliseconds(500), [&] { return state.m_bDone; });
}
