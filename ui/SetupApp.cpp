#include "ui/SetupApp.h"

#include "ui/SetupDlg.h"

CSetupApp::CSetupApp() : CWinApp(nullptr) {}

CSetupApp::~CSetupApp() = default;

BEGIN_MESSAGE_MAP(CSetupApp, CWinApp)
ON_COMMAND(ID_HELP, OnHelp)
END_MESSAGE_MAP()

// The dialog holds no OLE controls and needs no 3-D drawing of its own: the system has drawn
// dialog controls that way since Windows 4, so start-up is only the dialog.
BOOL CSetupApp::InitInstance() {
  CSetupDlg dlg;
  m_pMainWnd = &dlg;
  dlg.DoModal();
  m_pMainWnd = nullptr;
  return FALSE;
}
