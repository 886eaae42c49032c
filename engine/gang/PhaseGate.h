// The meeting point of gang's worker threads and its coordinating thread between two phases.
//
// Contract: Arrive blocks until every party has arrived at the same meeting; Leave takes one
// party away for good (a worker that ended early, or whose thread could not start) and may
// release the others.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <mutex>

// Where the workers and the coordinating thread meet between two phases: every port probed
// before the modules are numbered, every module read before the values are worked out, and
// the values checked before any module is programmed. One thread per worker for the whole
// run: a thread costs more than all of a phase's own work.
class CPhaseGate {
 public:
  explicit CPhaseGate(size_t parties) : m_nParties(parties) {}

  // Blocks until every party has arrived at this meeting.
  void Arrive() {
    std::unique_lock<std::mutex> lock(m_mutex);
    const size_t generation = m_nGeneration;
    if (++m_nArrived >= m_nParties) {
      Release();
      return;
    }
    m_cv.wait(lock, [&] { return m_nGeneration != generation; });
  }
  // One party fewer from now on (a worker whose thread could not start).
  void Leave() {
    std::lock_guard<std::mutex> lock(m_mutex);
    --m_nParties;
    if (m_nArrived > 0 && m_nArrived >= m_nParties) Release();
  }

 private:
  void Release() {
    m_nArrived = 0;
    ++m_nGeneration;
    m_cv.notify_all();
  }

  std::mutex m_mutex;
  std::condition_variable m_cv;
  size_t m_nParties;
  size_t m_nArrived = 0;
  size_t m_nGeneration = 0;
};
