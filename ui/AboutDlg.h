// CAboutDlg: the about box (template IDD_ABOUTBOX), opened modally from the setup dialog's
// system menu. It keeps no state; OK, Enter, Escape and the close box end it.
#pragma once

#include "framework/Framework.h"

class CAboutDlg : public CDialog {
 public:
  // No parent given: the owner is the application's main window, which takes no input while
  // the box is up.
  CAboutDlg();
  ~CAboutDlg() override;

  DECLARE_MESSAGE_MAP()

  // Exchanges nothing.
  void DoDataExchange(CDataExchange* pDX) override;
};
