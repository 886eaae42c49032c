#include "engine/events/WriterThread.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <system_error>

struct CWriterThread::CState {
  explicit CState(COptions options) : m_options(std::move(options)) {}
  const COptions m_options;
  mutable std::mutex m_mutex;
  std::condition_variable m_cv;
  std::deque<std::string> m_pending;
  size_t m_nDropped = 0;  // DropAndCount: not yet told
  size_t m_nRefused = 0;  // Lose: posted once lost
  bool m_bDirty = false;
  bool m_bInFlight = false;  // an item handed to the output and not yet back
  bool m_bInFrame = false;   // the owner's frame maker is running
  ELost m_lost = ELost::No;
  bool m_bStopping = false;
  // Stop gave up on the output: the owner may be gone, so none of its callbacks is called.
  bool m_bAbandoned = false;
  bool m_bDone = false;
};

CWriterThread::CWriterThread(CWrite write, COptions options)
    : m_pState(std::make_shared<CState>(std::move(options))) {
  if (!write) return;
  auto work = [state = m_pState, write = std::move(write)] { Run(state, write); };
  try {
    std::thread thread =
        m_pState->m_options.m_fnStart ? m_pState->m_options.m_fnStart(work) : std::thread(work);
    thread.detach();
    m_bRunning = true;
  } catch (const std::system_error&) {
    m_pState->m_lost = ELost::NoThread;
  }
}

CWriterThread::~CWriterThread() {
  Stop(std::chrono::milliseconds(500));
}

void CWriterThread::Post(std::string text) {
  CState& state = *m_pState;
  std::lock_guard<std::mutex> lock(state.m_mutex);
  if (!m_bRunning || state.m_bStopping) {
    if (state.m_lost != ELost::No) ++state.m_nRefused;
    return;
  }
  const bool full = state.m_pending.size() >= state.m_options.m_nBound;
  if (state.m_options.m_full == EFull::Lose && (full || state.m_lost != ELost::No)) {
    if (state.m_lost == ELost::No) state.m_lost = ELost::Behind;
    ++state.m_nRefused;
  } else if (full) {
    ++state.m_nDropped;
  } else {
    state.m_pending.push_back(std::move(text));
  }
  state.m_cv.notify_all();
}

void CWriterThread::Refresh() {
  CState& state = *m_pState;
  std::lock_guard<std::mutex> lock(state.m_mutex);
  if (!state.m_options.m_fnFrame) return;
  state.m_bDirty = true;
  state.m_cv.notify_all();
}

CWriterThread::ELost CWriterThread::Lost() const {
  std::lock_guard<std::mutex> lock(m_pState->m_mutex);
  return m_pState->m_lost;
}

size_t CWriterThread::Unwritten() const {
  std::lock_guard<std::mutex> lock(m_pState->m_mutex);
  return m_pState->m_nRefused + m_pState->m_pending.size();
}

void CWriterThread::Run(std::shared_ptr<CState> shared, CWrite write) {
  CState& state = *shared;
  const COptions& options = state.m_options;
  std::unique_lock<std::mutex> lock(state.m_mutex);
  for (;;) {
    state.m_cv.wait(lock, [&] {
      return !state.m_pending.empty() || state.m_nDropped > 0 || state.m_bDirty ||
             state.m_bStopping;
    });
    std::string text;
    bool frame = false;
    if (state.m_bAbandoned) {
      break;
    } else if (!state.m_pending.empty()) {
      text = std::move(state.m_pending.front());
      state.m_pending.pop_front();
    } else if (state.m_nDropped > 0) {
      if (options.m_fnDropped) text = options.m_fnDropped(state.m_nDropped);
      state.m_nDropped = 0;
    } else if (state.m_bDirty) {
      state.m_bDirty = false;
      frame = true;
    } else {
      break;  // stopping, and everything written
    }
    if (frame) {
      state.m_bInFrame = true;
      lock.unlock();
      text = options.m_fnFrame();
      lock.lock();
      state.m_bInFrame = false;
      state.m_cv.notify_all();
      if (state.m_bAbandoned) break;
    }
    // The output may block (a full pipe): never while a poster could want the lock.
    state.m_bInFlight = !frame;
    lock.unlock();
    const bool written = text.empty() || write(text);
    lock.lock();
    state.m_bInFlight = false;
    if (!written && !state.m_bAbandoned) {
      state.m_lost = ELost::OutputGone;
      state.m_nRefused += (frame ? 0 : 1) + state.m_pending.size();
      state.m_pending.clear();
      break;
    }
    if (frame && options.m_pace.count() > 0 && !state.m_bStopping) {
      state.m_cv.wait_for(lock, options.m_pace, [&] { return state.m_bStopping; });
    }
  }
  state.m_bDone = true;
  state.m_cv.notify_all();
}

size_t CWriterThread::Stop(std::chrono::milliseconds wait) {
  CState& state = *m_pState;
  std::unique_lock<std::mutex> lock(state.m_mutex);
  if (m_bRunning) {
    m_bRunning = false;
    state.m_bStopping = true;
    state.m_bDirty = static_cast<bool>(state.m_options.m_fnFrame);  // the last state
    state.m_cv.notify_all();
    if (!state.m_cv.wait_for(lock, wait, [&] { return state.m_bDone; }) &&
        state.m_lost == ELost::No) {
      state.m_lost = ELost::Stalled;
    }
    if (!state.m_bDone) {
      // What the blocked output has not taken stays unwritten: the thread writes no more of it.
      state.m_nRefused += state.m_pending.size() + (state.m_bInFlight ? 1 : 0);
      state.m_pending.clear();
      state.m_bInFlight = false;
      state.m_bAbandoned = true;
      // A frame being made touches the owner's state; it takes no output, so it ends soon.
      state.m_cv.wait(lock, [&] { return !state.m_bInFrame; });
    }
  }
  return state.m_nRefused + state.m_pending.size();
}
