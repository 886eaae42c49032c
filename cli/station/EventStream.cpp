#include "cli/station/EventStream.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <system_error>

#include "engine/os/Platform.h"

struct CEventStream::CState {
  mutable std::mutex m_mutex;
  std::condition_variable m_cv;
  std::deque<std::string> m_pending;
  bool m_bWriting = false;
  bool m_bLost = false;
  std::string m_strLost;
  bool m_bStopping = false;
  bool m_bDone = false;
};

namespace {

// A reader this far behind is taken to be gone: the station does not hoard its events.
constexpr size_t kMaxPendingEvents = 4096;
constexpr auto kStopWait = std::chrono::seconds(3);

}  // namespace

CEventStream::CEventStream(CWriter write) : m_pState(std::make_shared<CState>()) {
  if (!write) return;
  try {
    StartWorkerThread([shared = m_pState, write = std::move(write)] {
      Write(shared, write);
    }).detach();
    m_bRunning = true;
  } catch (const std::system_error&) {
    m_pState->m_bLost = true;
    m_pState->m_strLost = "no thread could be started to write them";
  }
}

CEventStream::~CEventStream() {
  Stop();
}

void CEventStream::Post(const CJson& event) {
  if (!m_bRunning) return;
  CState& state = *m_pState;
  std::lock_guard<std::mutex> lock(state.m_mutex);
  if (state.m_bLost || state.m_bStopping) return;
  if (state.m_pending.size() >= kMaxPendingEvents) {
    state.m_bLost = true;
    state.m_strLost = "their reader fell " + std::to_string(kMaxPendingEvents) + " events behind";
    state.m_cv.notify_all();
    return;
  }
  state.m_pending.push_back(DumpJson(event) + "\n");
  state.m_cv.notify_all();
}

bool CEventStream::Lost() const {
  std::lock_guard<std::mutex> lock(m_pState->m_mutex);
  return m_pState->m_bLost;
}

std::string CEventStream::LostText() const {
  std::lock_guard<std::mutex> lock(m_pState->m_mutex);
  return m_pState->m_strLost;
}

void CEventStream::Write(std::shared_ptr<CState> shared, CWriter write) {
  CState& state = *shared;
  std::unique_lock<std::mutex> lock(state.m_mutex);
  for (;;) {
    state.m_cv.wait(lock,
                    [&] { return !state.m_pending.empty() || state.m_bStopping || state.m_bLost; });
    if (state.m_bLost || state.m_pending.empty()) break;
    const std::string line = std::move(state.m_pending.front());
    state.m_pending.pop_front();
    lock.unlock();
    const bool written = write(line);
    lock.lock();
    if (!written && !state.m_bLost) {
      state.m_bLost = true;
      state.m_strLost = "the output would take no more";
    }
  }
  state.m_bDone = true;
  state.m_cv.notify_all();
}

void CEventStream::Stop() {
  if (!m_bRunning) return;
  m_bRunning = false;
  CState& state = *m_pState;
  std::unique_lock<std::mutex> lock(state.m_mutex);
  state.m_bStopping = true;
  state.m_cv.notify_all();
  if (!state.m_cv.wait_for(lock, kStopWait, [&] { return state.m_bDone; }) && !state.m_bLost) {
    state.m_bLost = true;
    state.m_strLost = "their reader stopped taking them";
  }
}
