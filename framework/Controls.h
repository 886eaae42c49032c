// The standard controls the program binds to: thin wrappers of their messages.
// Each is used after SubclassDlgItem/DDX_Control bound it to the dialog's control.
#pragma once

#include <windows.h>

#include <commctrl.h>

#include "framework/Wnd.h"

class CEdit : public CWnd {
 public:
  // EM_SETREADONLY; non-zero on success.
  BOOL SetReadOnly(BOOL bReadOnly = TRUE);
  // EM_LIMITTEXT: typing stops at nMax characters; text set by program is not cut.
  void LimitText(int nMax);
};

class CButton : public CWnd {
 public:
  int GetCheck() const;       // BM_GETCHECK: BST_UNCHECKED, BST_CHECKED or BST_INDETERMINATE
  void SetCheck(int nCheck);  // BM_SETCHECK

  // Called with the button's own WM_DRAWITEM reflected by its parent; does nothing here.
  void DrawItem(LPDRAWITEMSTRUCT lpDrawItemStruct) override;

  DECLARE_MESSAGE_MAP()
};

// The common-controls progress bar ("msctls_progress32").
class CProgressCtrl : public CWnd {
 public:
  void SetRange(short nLower, short nUpper);  // PBM_SETRANGE
  int SetPos(int nPos);                       // PBM_SETPOS: previous position
  int SetStep(int nStep);                     // PBM_SETSTEP: previous step
  int StepIt();                               // PBM_STEPIT: previous position
};
