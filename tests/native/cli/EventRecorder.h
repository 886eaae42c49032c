// A presenter for tests: what the engine tells, slot by slot, as words a test can compare.
#pragma once

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "engine/events/EngineEvent.h"

// A presenter that keeps what it is told, slot by slot, as words a test can compare.
class CEventRecorder final : public CEngineEventSink {
 public:
  void OnArrived(const CModuleArrived& e) override {
    Note(e.m_at, "arrived at " + e.m_at.m_strPort);
  }
  void OnProgrammingStarted(const CProgrammingStarted& e) override {
    Note(e.m_at, "started " + e.m_values.m_strPin);
  }
  void OnAcknowledged(const CSettingAcknowledged& e) override {
    Note(e.m_at, SettingName(e.m_setting));
  }
  void OnAttemptEnded(const CAttemptEnded& e) override {
    const CModuleReport& report = e.m_report;
    Note(e.m_at, std::string(OutcomeText(report.m_outcome)) + " " +
                     (e.m_at.m_address ? e.m_at.m_address->Text() : "(no address)"));
  }
  void OnRunEnded(const CRunEnded& e) override {
    const char* why = e.m_end == ERunEnd::Count         ? "by count"
                      : e.m_end == ERunEnd::Interrupted ? "interrupted"
                                                        : "at its end";
    Note({}, "end " + std::string(why) + ", ok " + std::to_string(e.m_counts.m_nOk) + ", failed " +
                 std::to_string(e.m_counts.m_nFailed));
  }

  std::mutex m_mutex;
  std::map<size_t, std::vector<std::string>> m_slots;

 private:
  void Note(const CEventPlace& at, const std::string& what) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_slots[at.m_strLabel.empty() ? 99 : at.m_nSlot].push_back(what);
  }
};
