// A setup dialog without windows: it keeps the controls' state and records, in order, every
// call that changes what the user sees (m_calls) and every message box (m_messages).
//
// m_calls entries: "text NAME=value", "check NAME=1" or "=0", "enable NAME", "disable NAME",
// "step", "reset", "message <text>", "wait on", "wait off". NAME is the control id without
// IDC_ (EXIT for IDCANCEL). Reads of texts and checks are counted, not recorded in m_calls.
// m_fnOnMessage runs while a message box is "up", so a test can look at the rest of the
// world at that moment; m_fnOnGetText runs before a text is handed out and may change it.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "fakes/EventTimeline.h"
#include "protocol/SetupView.h"
#include "res/resource.h"

inline std::string ControlName(int id) {
  switch (id) {
    case IDOK:
      return "OK";
    case IDCANCEL:
      return "EXIT";
    case IDC_READ:
      return "READ";
    case IDC_PROGRAM:
      return "PROGRAM";
    case IDC_DEVICE_ADDRESS:
      return "DEVICE_ADDRESS";
    case IDC_DEVICE_NAME:
      return "DEVICE_NAME";
    case IDC_PEER_ADDR1:
      return "PEER_ADDR1";
    case IDC_PEER_ADDR2:
      return "PEER_ADDR2";
    case IDC_PEER_ADDR3:
      return "PEER_ADDR3";
    case IDC_PEER_ADDR4:
      return "PEER_ADDR4";
    case IDC_PEER_ADDR5:
      return "PEER_ADDR5";
    case IDC_PEER_ADDR6:
      return "PEER_ADDR6";
    case IDC_PIN_CODE:
      return "PIN_CODE";
    case IDC_MASTER:
      return "MASTER";
    case IDC_SLAVE:
      return "SLAVE";
    case IDC_PROGRESS:
      return "PROGRESS";
    case IDC_TURN_OFF:
      return "TURN_OFF";
    default:
      return "id" + std::to_string(id);
  }
}

class CFakeSetupView : public CSetupView {
 public:
  // The dialog's progress bar runs from 0 to 7.
  static constexpr int kProgressMax = 7;

  explicit CFakeSetupView(CEventTimeline* timeline = nullptr) : m_pTimeline(timeline) {}

  std::string GetControlText(int id) override {
    ++m_textReads[id];
    if (m_fnOnGetText) m_fnOnGetText(id);
    return m_texts[id];
  }
  void SetControlText(int id, const std::string& text) override {
    m_texts[id] = text;
    Record("text " + ControlName(id) + "=" + text);
  }
  bool IsChecked(int id) override {
    ++m_checkReads[id];
    return m_checks[id];
  }
  void SetCheck(int id, bool checked) override {
    m_checks[id] = checked;
    Record("check " + ControlName(id) + (checked ? "=1" : "=0"));
  }
  void EnableControl(int id) override {
    m_disabled[id] = false;
    Record("enable " + ControlName(id));
  }
  void DisableControl(int id) override {
    m_disabled[id] = true;
    Record("disable " + ControlName(id));
  }
  void StepProgress() override {
    if (m_nProgress < kProgressMax) ++m_nProgress;
    ++m_nSteps;
    Record("step");
  }
  void ResetProgress() override {
    m_nProgress = 0;
    Record("reset");
  }
  void ShowMessage(const char* text) override {
    m_messages.push_back(text);
    Record(std::string("message ") + text);
    if (m_fnOnMessage) m_fnOnMessage(text);
  }
  void BeginWaitCursor() override {
    ++m_nWaitDepth;
    Record("wait on");
  }
  void EndWaitCursor() override {
    --m_nWaitDepth;
    Record("wait off");
  }

  bool IsEnabled(int id) const {
    auto it = m_disabled.find(id);
    return it == m_disabled.end() || !it->second;
  }

  std::map<int, std::string> m_texts;
  std::map<int, bool> m_checks;
  std::map<int, bool> m_disabled;
  int m_nProgress = 0;
  int m_nSteps = 0;
  int m_nWaitDepth = 0;
  std::vector<std::string> m_calls;
  std::vector<std::string> m_messages;
  std::map<int, int> m_textReads;
  std::map<int, int> m_checkReads;
  std::function<void(const char* text)> m_fnOnMessage;
  std::function<void(int id)> m_fnOnGetText;

 private:
  void Record(const std::string& call) {
    m_calls.push_back(call);
    if (m_pTimeline) m_pTimeline->Add("view " + call);
  }

  CEventTimeline* m_pTimeline;
};
