// What the module operations need of the setup dialog. The dialog implements it on the GUI
// thread; tests use a recording fake. Control ids are those of res/resource.h.
#pragma once

#include <string>

class CSetupView {
 public:
  virtual ~CSetupView() = default;

  virtual std::string GetControlText(int id) = 0;                    // GetWindowTextA
  virtual void SetControlText(int id, const std::string& text) = 0;  // SetWindowTextA
  virtual bool IsChecked(int id) = 0;                                // BM_GETCHECK
  virtual void SetCheck(int id, bool checked) = 0;                   // BM_SETCHECK 1 or 0
  virtual void EnableControl(int id) = 0;
  virtual void DisableControl(int id) = 0;
  virtual void StepProgress() = 0;   // PBM_STEPIT
  virtual void ResetProgress() = 0;  // PBM_SETPOS 0
  // Modal box with only OK and the exclamation icon, under the application's title; returns
  // when the user has dismissed it.
  virtual void ShowMessage(const char* text) = 0;
  virtual void BeginWaitCursor() = 0;
  virtual void EndWaitCursor() = 0;
};
