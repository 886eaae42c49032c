// A clock that never waits: it records every pause of the code under test and every read
// time-out that a fake port ran out, and adds them up as the time that would have passed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "fakes/EventTimeline.h"
#include "protocol/Sleep.h"

class CFakeClock {
 public:
  explicit CFakeClock(CEventTimeline* timeline = nullptr) : m_pTimeline(timeline) {}

  // The sleep to inject into the code under test.
  SleepFn Sleeper() {
    return [this](DWORD ms) { Sleep(ms); };
  }

  void Sleep(DWORD ms) {
    m_nNowMs += ms;
    m_pauses.push_back(ms);
    if (m_pTimeline) m_pTimeline->Add("sleep " + std::to_string(ms));
  }

  // A read that waited out its time-out.
  void WaitOut(DWORD ms) {
    m_nNowMs += ms;
    m_timeouts.push_back(ms);
    if (m_pTimeline) m_pTimeline->Add("timeout " + std::to_string(ms));
  }

  std::uint64_t m_nNowMs = 0;
  std::vector<DWORD> m_pauses;
  std::vector<DWORD> m_timeouts;

 private:
  CEventTimeline* m_pTimeline;
};
