// The setup dialog's controls without a window, for the command line. The operations write
// and read control texts and checks here exactly as they do in the dialog; what a user would
// watch (the search, the bar stepping, a message box) goes to two callbacks instead of a screen.
//
// Contract: single-threaded, one view per worker. Nothing here blocks: a message "box" is
// recorded and returns at once, as if the user had pressed OK.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "protocol/SetupView.h"

class CHeadlessView final : public CSetupView {
 public:
  // The dialog's bar runs from 0 to 7; a successful operation steps it exactly seven times.
  static constexpr int kProgressSteps = 7;

  // searching: the search for the module starts (true) or has ended (false).
  // progress: the bar now stands at pos (0 after a reset).
  CHeadlessView(std::function<void(bool searching)> searching = nullptr,
                std::function<void(int pos)> progress = nullptr)
      : m_fnSearching(std::move(searching)), m_fnProgress(std::move(progress)) {}

  std::string GetControlText(int id) override;
  void SetControlText(int id, const std::string& text) override;
  bool IsChecked(int id) override;
  void SetCheck(int id, bool checked) override;
  void EnableControl(int) override {}
  void DisableControl(int) override {}
  void StepProgress() override;
  void ResetProgress() override;
  void ShowMessage(const char* text) override;
  void BeginWaitCursor() override;
  void EndWaitCursor() override;

  // Forgets the messages and the bar of the last run; texts and checks stay, as in the dialog.
  void BeginRun();
  // Highest bar position since BeginRun: how far the run got before it ended.
  int Reached() const { return m_nReached; }
  const std::vector<std::string>& Messages() const { return m_messages; }

 private:
  std::function<void(bool)> m_fnSearching;
  std::function<void(int)> m_fnProgress;
  std::map<int, std::string> m_texts;
  std::map<int, bool> m_checks;
  int m_nPos = 0;
  int m_nReached = 0;
  std::vector<std::string> m_messages;
};
