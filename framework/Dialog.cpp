#include "framework/Dialog.h"

#include <commctrl.h>

#include "framework/App.h"

bool DDX_Control(CDataExchange* pDX, int nIDC, CWnd& rControl) {
  if (rControl.m_hWnd) return true;
  HWND hWndControl = ::GetDlgItem(pDX->m_pDlgWnd->m_hWnd, nIDC);
  if (hWndControl && rControl.SubclassWindow(hWndControl)) return true;
  pDX->m_bFailed = TRUE;
  return false;
}

BOOL CWnd::UpdateData(BOOL bSaveAndValidate) {
  CDataExchange dx(this, bSaveAndValidate);
  DoDataExchange(&dx);
  return !dx.m_bFailed;
}

BEGIN_MESSAGE_MAP(CDialog, CWnd)
ON_COMMAND(IDOK, OnOK)
ON_COMMAND(IDCANCEL, OnCancel)
END_MESSAGE_MAP()

CDialog::CDialog(UINT nIDTemplate, CWnd* pParentWnd)
    : m_nIDTemplate(nIDTemplate), m_pParentWnd(pParentWnd) {}

CDialog::~CDialog() = default;

void CDialog::InitModalIndirect(LPCDLGTEMPLATE lpDialogTemplate) {
  m_lpDialogTemplate = lpDialogTemplate;
}

INT_PTR CDialog::DoModal() {
  // The progress bar of our dialogs lives in the common-controls library, whose classes
  // exist only after this call.
  static const bool s_bCommonControls = [] {
    INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
    return ::InitCommonControlsEx(&icc) != FALSE;
  }();
  (void)s_bCommonControls;

  HWND hWndOwner = nullptr;
  if (m_pParentWnd) {
    hWndOwner = m_pParentWnd->m_hWnd;
  } else if (CWinApp* pApp = AfxGetApp()) {
    if (pApp->m_pMainWnd && pApp->m_pMainWnd != this) hWndOwner = pApp->m_pMainWnd->m_hWnd;
  }

  HINSTANCE hInstance = AfxGetInstanceHandle();
  LPARAM lParam = reinterpret_cast<LPARAM>(this);
  if (m_lpDialogTemplate) {
    return ::DialogBoxIndirectParamA(hInstance, m_lpDialogTemplate, hWndOwner, &CDialog::DialogProc,
                                     lParam);
  }
  return ::DialogBoxParamA(hInstance, MAKEINTRESOURCEA(m_nIDTemplate), hWndOwner,
                           &CDialog::DialogProc, lParam);
}

void CDialog::EndDialog(int nResult) {
  if (m_hWnd) ::EndDialog(m_hWnd, nResult);
}

BOOL CDialog::OnInitDialog() {
  if (!UpdateData(FALSE)) {
    EndDialog(-1);
    return FALSE;
  }
  return TRUE;
}

void CDialog::OnOK() {
  if (!UpdateData(TRUE)) return;
  EndDialog(IDOK);
}

void CDialog::OnCancel() {
  EndDialog(IDCANCEL);
}

// Only WM_INITDIALOG is handled here: it binds the dialog window to its object, after which
// every message goes through CWnd::WndProc and the object's map first. Messages the map
// leaves alone come back here through the dialog's original procedure (DefDlgProc), and
// returning FALSE gives them the system's dialog processing.
INT_PTR CALLBACK CDialog::DialogProc(HWND hDlg, UINT message, WPARAM, LPARAM lParam) {
  if (message != WM_INITDIALOG) return FALSE;
  auto* pDlg = reinterpret_cast<CDialog*>(lParam);
  try {
    if (!pDlg || !pDlg->SubclassWindow(hDlg)) {
      ::EndDialog(hDlg, -1);
      return FALSE;
    }
    return pDlg->OnInitDialog();
  } catch (...) {
    ::EndDialog(hDlg, -1);
    return FALSE;
  }
}
