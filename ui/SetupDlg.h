// CSetupDlg: the program's main window, the modal dialog of template IDD_SETUP_DIALOG that shows
// the module's settings and runs Read and Program from its buttons.
//
// The dialog owns the serial channel and the operations object, and is the operations' view:
// every CSetupView call is a plain call on the GUI thread on one of the member controls. Read
// and Program run inside their button handlers and hold the GUI thread until they end; the
// dialog repaints only while one of their message boxes is up or after they return.
#pragma once

#include <string>

#include "controls/ColorEdit.h"
#include "controls/IconButton.h"
#include "framework/Framework.h"
#include "protocol/SetupOperations.h"
#include "protocol/SetupView.h"
#include "serial/SerialPort.h"

class CSetupDlg : public CDialog, public CSetupView {
 public:
  // pParent null when the application object runs the dialog. Loads the application icon;
  // the window is created by DoModal.
  explicit CSetupDlg(CWnd* pParent = nullptr);
  ~CSetupDlg() override;

  // CSetupView. Ids are those of the template; an id without a control reads as empty or
  // unchecked and is otherwise ignored.
  std::string GetControlText(int id) override;
  void SetControlText(int id, const std::string& text) override;
  bool IsChecked(int id) override;
  void SetCheck(int id, bool checked) override;
  void EnableControl(int id) override;
  void DisableControl(int id) override;
  void StepProgress() override;
  void ResetProgress() override;
  // A modal box, only OK and the exclamation icon, under the application's title, owned by
  // the dialog, which takes no input until the user has dismissed it.
  void ShowMessage(const char* text) override;
  void BeginWaitCursor() override;
  void EndWaitCursor() override;

  DECLARE_MESSAGE_MAP()

  void DoDataExchange(CDataExchange* pDX) override;
  BOOL OnInitDialog() override;

  void OnSysCommand(UINT nID, LPARAM lParam);
  void OnPaint();
  HCURSOR OnQueryDragIcon();
  void OnRead();
  void OnProgram();
  void OnMaster();
  void OnSlave();

  // The member control bound to the id, else the dialog's child of that id; null for none.
  CWnd* ControlById(int id);

  CSerialPort m_serial;
  // Holds the operation state shared by Read and Program: m_strPortName, m_ackBuf, m_nRetry.
  CSetupOperations m_ops;
  CButton m_chkTurnOff;
  CProgressCtrl m_progress;
  CButton m_chkSlave;
  CButton m_chkMaster;
  CColorEdit m_editDeviceAddress;
  CColorEdit m_editDeviceName;
  CColorEdit m_editPeerAddr6;
  CColorEdit m_editPeerAddr5;
  CColorEdit m_editPeerAddr4;
  CColorEdit m_editPeerAddr3;
  CColorEdit m_editPeerAddr2;
  CColorEdit m_editPeerAddr1;
  CColorEdit m_editPinCode;
  CIconButton m_btnExit;
  CIconButton m_btnProgram;
  CIconButton m_btnRead;
  // The application icon (resource IDR_MAINFRAME); shared, never destroyed by the dialog.
  HICON m_hAppIcon;
};
