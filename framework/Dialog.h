// Modal dialogs from dialog templates, and the data exchange that binds member controls.
#pragma once

#include <windows.h>

#include "framework/Wnd.h"

// One data exchange pass over a dialog (CWnd::UpdateData creates it).
class CDataExchange {
 public:
  CDataExchange(CWnd* pDlgWnd, BOOL bSaveAndValidate)
      : m_pDlgWnd(pDlgWnd), m_bSaveAndValidate(bSaveAndValidate) {}

  CWnd* m_pDlgWnd;
  BOOL m_bSaveAndValidate;  // TRUE: controls -> members
  BOOL m_bFailed = FALSE;   // set by a DDX_ step that could not do its work
};

// Binds rControl to the dialog's control nIDC by subclassing (PreSubclassWindow runs). Does
// nothing when rControl is already bound (second and later passes). When the dialog has no
// such control or it cannot be bound, marks the pass failed and returns false.
bool DDX_Control(CDataExchange* pDX, int nIDC, CWnd& rControl);

// A modal dialog. DoModal creates the window from the template; the dialog window itself is
// bound to the object from WM_INITDIALOG on, so its message map sees every later message.
// Unhandled messages get the system's dialog processing (DefDlgProc).
class CDialog : public CWnd {
 public:
  // nIDTemplate: a dialog resource of the program's module. pParentWnd null: the owner is the
  // application's main window when it has one that is not this dialog, else none.
  explicit CDialog(UINT nIDTemplate, CWnd* pParentWnd = nullptr);
  ~CDialog() override;

  // Uses an in-memory template (kept by the caller until DoModal returns) instead of the
  // resource. The template's class and font must be usable by DialogBoxIndirectParamA.
  void InitModalIndirect(LPCDLGTEMPLATE lpDialogTemplate);

  // Creates the dialog, runs its modal loop and blocks until EndDialog; returns the value
  // passed to EndDialog, or -1 when the dialog could not be created (missing template,
  // failed first data exchange). The owner window is disabled meanwhile.
  INT_PTR DoModal();
  // Ends the modal loop with the result; the window is destroyed before DoModal returns.
  void EndDialog(int nResult);

  // Runs once, after the window and its controls exist and before the dialog is shown. The
  // base runs the first data exchange (UpdateData(FALSE), which binds the member controls);
  // if that fails it ends the dialog with -1 and returns FALSE. Return TRUE to let the system
  // give the focus to the first control, FALSE when the handler set it.
  virtual BOOL OnInitDialog();
  // IDOK: UpdateData(TRUE), then EndDialog(IDOK) unless that failed.
  virtual void OnOK();
  // IDCANCEL (Cancel button, Escape, close box): EndDialog(IDCANCEL).
  virtual void OnCancel();

  DECLARE_MESSAGE_MAP()

 private:
  static INT_PTR CALLBACK DialogProc(HWND hDlg, UINT message, WPARAM wParam, LPARAM lParam);

  UINT m_nIDTemplate;
  LPCDLGTEMPLATE m_lpDialogTemplate = nullptr;
  CWnd* m_pParentWnd;
};
