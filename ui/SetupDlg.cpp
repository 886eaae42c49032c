#include "ui/SetupDlg.h"

#include <vector>

#include "protocol/Sleep.h"
#include "res/resource.h"
#include "ui/AboutDlg.h"

CSetupDlg::CSetupDlg(CWnd* pParent)
    : CDialog(IDD_SETUP_DIALOG, pParent),
      m_ops(m_serial, *this, PlatformSleep),
      m_hAppIcon(::LoadIconA(AfxGetInstanceHandle(), MAKEINTRESOURCEA(IDR_MAINFRAME))) {}

CSetupDlg::~CSetupDlg() = default;

BEGIN_MESSAGE_MAP(CSetupDlg, CDialog)
ON_WM_SYSCOMMAND()
ON_WM_PAINT()
ON_WM_QUERYDRAGICON()
ON_BN_CLICKED(IDC_READ, OnRead)
ON_BN_CLICKED(IDC_PROGRAM, OnProgram)
ON_BN_CLICKED(IDC_MASTER, OnMaster)
ON_BN_CLICKED(IDC_SLAVE, OnSlave)
END_MESSAGE_MAP()

void CSetupDlg::DoDataExchange(CDataExchange* pDX) {
  CDialog::DoDataExchange(pDX);
  DDX_Control(pDX, IDC_TURN_OFF, m_chkTurnOff);
  DDX_Control(pDX, IDC_PROGRESS, m_progress);
  DDX_Control(pDX, IDC_SLAVE, m_chkSlave);
  DDX_Control(pDX, IDC_MASTER, m_chkMaster);
  DDX_Control(pDX, IDC_DEVICE_ADDRESS, m_editDeviceAddress);
  DDX_Control(pDX, IDC_DEVICE_NAME, m_editDeviceName);
  DDX_Control(pDX, IDC_PEER_ADDR6, m_editPeerAddr6);
  DDX_Control(pDX, IDC_PEER_ADDR5, m_editPeerAddr5);
  DDX_Control(pDX, IDC_PEER_ADDR4, m_editPeerAddr4);
  DDX_Control(pDX, IDC_PEER_ADDR3, m_editPeerAddr3);
  DDX_Control(pDX, IDC_PEER_ADDR2, m_editPeerAddr2);
  DDX_Control(pDX, IDC_PEER_ADDR1, m_editPeerAddr1);
  DDX_Control(pDX, IDC_PIN_CODE, m_editPinCode);
  DDX_Control(pDX, IDCANCEL, m_btnExit);
  DDX_Control(pDX, IDC_PROGRAM, m_btnProgram);
  DDX_Control(pDX, IDC_READ, m_btnRead);
}

BOOL CSetupDlg::OnInitDialog() {
  if (!CDialog::OnInitDialog()) return FALSE;

  CMenu* pSysMenu = GetSystemMenu(FALSE);
  if (pSysMenu != nullptr) {
    char szAbout[256] = "";
    ::LoadStringA(AfxGetInstanceHandle(), IDS_ABOUTBOX, szAbout, sizeof szAbout);
    if (szAbout[0] != '\0') {
      pSysMenu->AppendMenu(MF_SEPARATOR);
      pSysMenu->AppendMenu(MF_STRING, IDM_ABOUTBOX, szAbout);
    }
  }

  SetIcon(m_hAppIcon, TRUE);
  SetIcon(m_hAppIcon, FALSE);

  m_btnExit.SetIcon(IDI_EXIT, 1);
  m_btnRead.SetIcon(IDI_READ, 1);
  m_btnProgram.SetIcon(IDI_PROGRAM, 1);

  m_editDeviceAddress.SetReadOnly(TRUE);
  m_editDeviceAddress.SetWindowText(" XX : XX : XX : XX : XX : XX ");
  m_editDeviceName.SetWindowText("");
  CColorEdit* peer[] = {&m_editPeerAddr1, &m_editPeerAddr2, &m_editPeerAddr3,
                        &m_editPeerAddr4, &m_editPeerAddr5, &m_editPeerAddr6};
  for (CColorEdit* pEdit : peer) pEdit->SetWindowText("FF");
  m_editPinCode.SetWindowText("58203716");

  m_editPinCode.LimitText(8);
  for (CColorEdit* pEdit : peer) pEdit->LimitText(2);
  m_editDeviceName.LimitText(16);

  m_chkSlave.SetCheck(BST_CHECKED);
  m_chkMaster.SetCheck(BST_UNCHECKED);

  m_progress.SetRange(0, 7);
  m_progress.SetPos(0);
  m_progress.SetStep(1);

  m_ops.m_nRetry = 0;
  return TRUE;
}

void CSetupDlg::OnSysCommand(UINT nID, LPARAM lParam) {
  if ((nID & 0xFFF0) == IDM_ABOUTBOX) {
    CAboutDlg dlgAbout;
    dlgAbout.DoModal();
  } else {
    CDialog::OnSysCommand(nID, lParam);
  }
}

void CSetupDlg::OnPaint() {
  if (!IsIconic()) {
    CDialog::OnPaint();
    return;
  }
  CPaintDC dc(this);
  SendMessage(WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc.GetSafeHdc()), 0);
  RECT rect;
  GetClientRect(&rect);
  const int x = (rect.right - rect.left - ::GetSystemMetrics(SM_CXICON) + 1) / 2;
  const int y = (rect.bottom - rect.top - ::GetSystemMetrics(SM_CYICON) + 1) / 2;
  dc.DrawIcon(x, y, m_hAppIcon);
}

HCURSOR CSetupDlg::OnQueryDragIcon() {
  return static_cast<HCURSOR>(m_hAppIcon);
}

void CSetupDlg::OnRead() {
  m_ops.OnRead();
}

void CSetupDlg::OnProgram() {
  m_ops.OnProgram();
}

// The two role boxes are independent check boxes; the click has already toggled the one
// clicked, and the other follows so that exactly one stays checked.
void CSetupDlg::OnMaster() {
  m_chkSlave.SetCheck(m_chkMaster.GetCheck() == BST_CHECKED ? BST_UNCHECKED : BST_CHECKED);
}

void CSetupDlg::OnSlave() {
  m_chkMaster.SetCheck(m_chkSlave.GetCheck() == BST_CHECKED ? BST_UNCHECKED : BST_CHECKED);
}

CWnd* CSetupDlg::ControlById(int id) {
  switch (id) {
    case IDC_TURN_OFF:
      return &m_chkTurnOff;
    case IDC_PROGRESS:
      return &m_progress;
    case IDC_SLAVE:
      return &m_chkSlave;
    case IDC_MASTER:
      return &m_chkMaster;
    case IDC_DEVICE_ADDRESS:
      return &m_editDeviceAddress;
    case IDC_DEVICE_NAME:
      return &m_editDeviceName;
    case IDC_PEER_ADDR6:
      return &m_editPeerAddr6;
    case IDC_PEER_ADDR5:
      return &m_editPeerAddr5;
    case IDC_PEER_ADDR4:
      return &m_editPeerAddr4;
    case IDC_PEER_ADDR3:
      return &m_editPeerAddr3;
    case IDC_PEER_ADDR2:
      return &m_editPeerAddr2;
    case IDC_PEER_ADDR1:
      return &m_editPeerAddr1;
    case IDC_PIN_CODE:
      return &m_editPinCode;
    case IDCANCEL:
      return &m_btnExit;
    case IDC_PROGRAM:
      return &m_btnProgram;
    case IDC_READ:
      return &m_btnRead;
    default:
      return GetDlgItem(id);
  }
}

std::string CSetupDlg::GetControlText(int id) {
  CWnd* pWnd = ControlById(id);
  if (pWnd == nullptr || pWnd->GetSafeHwnd() == nullptr) return std::string();
  // Texts set by Read are not cut to the typing limits, so size the buffer to the text.
  std::vector<char> buf(static_cast<size_t>(pWnd->GetWindowTextLength()) + 1);
  const int n = pWnd->GetWindowText(buf.data(), static_cast<int>(buf.size()));
  return std::string(buf.data(), n > 0 ? static_cast<size_t>(n) : 0);
}

void CSetupDlg::SetControlText(int id, const std::string& text) {
  CWnd* pWnd = ControlById(id);
  if (pWnd != nullptr && pWnd->GetSafeHwnd() != nullptr) pWnd->SetWindowText(text.c_str());
}

bool CSetupDlg::IsChecked(int id) {
  CWnd* pWnd = ControlById(id);
  if (pWnd == nullptr || pWnd->GetSafeHwnd() == nullptr) return false;
  return pWnd->SendMessage(BM_GETCHECK) == BST_CHECKED;
}

void CSetupDlg::SetCheck(int id, bool checked) {
  CWnd* pWnd = ControlById(id);
  if (pWnd != nullptr && pWnd->GetSafeHwnd() != nullptr)
    pWnd->SendMessage(BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED);
}

void CSetupDlg::EnableControl(int id) {
  CWnd* pWnd = GetDlgItem(id);
  if (pWnd != nullptr) pWnd->EnableWindow(TRUE);
}

void CSetupDlg::DisableControl(int id) {
  CWnd* pWnd = GetDlgItem(id);
  if (pWnd != nullptr) pWnd->EnableWindow(FALSE);
}

void CSetupDlg::StepProgress() {
  m_progress.StepIt();
}

void CSetupDlg::ResetProgress() {
  m_progress.SetPos(0);
}

void CSetupDlg::ShowMessage(const char* text) {
  CWnd::MessageBox(text, nullptr, MB_OK | MB_ICONEXCLAMATION);
}

void CSetupDlg::BeginWaitCursor() {
  CWnd::BeginWaitCursor();
}

void CSetupDlg::EndWaitCursor() {
  CWnd::EndWaitCursor();
}
