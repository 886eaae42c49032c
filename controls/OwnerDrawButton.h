#pragma once

#include <windows.h>

#include "framework/Controls.h"

// A push button that paints itself. Bound to a dialog's push button (SubclassWindow or
// DDX_Control), it turns the control owner-drawn and still behaves as a push button towards
// the dialog manager: its dialog code carries DLGC_DEFPUSHBUTTON or DLGC_UNDEFPUSHBUTTON, and
// BM_SETSTYLE, with which the dialog manager moves the default status between buttons, is
// tracked but never turns the control back into a standard push button.
//
// Derived classes paint in DrawItem (the parent reflects WM_DRAWITEM to it).
class COwnerDrawButton : public CButton {
 public:
  COwnerDrawButton() = default;
  ~COwnerDrawButton() override = default;

 protected:
  // Notes whether the control is a (default) push button, then makes it BS_OWNERDRAW and
  // has its frame recalculated (SWP_FRAMECHANGED).
  void PreSubclassWindow() override;

  // The default processing's answer plus DLGC_DEFPUSHBUTTON while this is the dialog's
  // default push button, DLGC_UNDEFPUSHBUTTON otherwise (for push buttons only).
  UINT OnGetDlgCode();
  // BM_SETSTYLE: wParam the new style, lParam the redraw flag. Tracks the default status and
  // passes the style on with its type forced to BS_OWNERDRAW; returns that result.
  LRESULT OnSetStyle(WPARAM wParam, LPARAM lParam);

  BOOL m_bPushButton = FALSE;  // it was a push button or default push button when bound
  BOOL m_bDefault = FALSE;     // it is the dialog's default push button now

  DECLARE_MESSAGE_MAP()
};
