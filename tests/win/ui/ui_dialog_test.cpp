// The setup dialog built from the real template, run modally on this thread: what a fresh
// dialog shows, the role boxes, the operations the protocol uses on it, its message box, the
// about box from the system menu and the keys that end it or do not.
#include <gtest/gtest.h>
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "common/Canvas.h"
#include "res/resource.h"
#include "tests/common/MessageTexts.h"
#include "ui/SetupDlg.h"

namespace {

const UINT WM_NEXT_STAGE = WM_APP + 1;
const UINT_PTR kFailsafeTimer = 77;
// What the probe paints as the minimised window's background, so the icon shows against it.
const COLORREF kIconBackground = RGB(255, 0, 255);

// The setup dialog with a list of stages, each run from the dialog's own message loop once
// the dialog is up. After the last stage the dialog ends with IDABORT unless a stage ended
// it or asked to keep it running; a timer ends a stuck dialog with -3.
class CProbeDlg : public CSetupDlg {
 public:
  using Stage = std::function<void(CProbeDlg&)>;

  std::vector<Stage> m_stages;
  bool m_bEndAfterStages = true;
  size_t m_nStagesRun = 0;
  int m_nIconErases = 0;  // WM_ICONERASEBKGND seen: only the minimised paint sends it
  // While minimised, the client area is the whole minimised window less its last column,
  // as on the Windows versions where the minimised paint shows (today's give a minimised
  // window no client area). 159 x 24 under Wine: odd and even, wider and lower than the icon.
  bool m_bIconClient = false;

  using CSetupDlg::m_btnExit;
  using CSetupDlg::m_btnProgram;
  using CSetupDlg::m_btnRead;
  using CSetupDlg::m_chkMaster;
  using CSetupDlg::m_chkSlave;
  using CSetupDlg::m_chkTurnOff;
  using CSetupDlg::m_editDeviceAddress;
  using CSetupDlg::m_editDeviceName;
  using CSetupDlg::m_editPeerAddr1;
  using CSetupDlg::m_editPeerAddr2;
  using CSetupDlg::m_editPeerAddr3;
  using CSetupDlg::m_editPeerAddr4;
  using CSetupDlg::m_editPeerAddr5;
  using CSetupDlg::m_editPeerAddr6;
  using CSetupDlg::m_editPinCode;
  using CSetupDlg::m_hAppIcon;
  using CSetupDlg::m_ops;
  using CSetupDlg::m_progress;

  HWND Item(int id) const { return ::GetDlgItem(m_hWnd, id); }
  std::string Text(int id) const {
    char buf[256] = "";
    ::GetDlgItemTextA(m_hWnd, id, buf, sizeof buf);
    return buf;
  }
  LRESULT Send(int id, UINT msg, WPARAM wp = 0, LPARAM lp = 0) const {
    return ::SendDlgItemMessageA(m_hWnd, id, msg, wp, lp);
  }

  BOOL OnInitDialog() override {
    const BOOL result = CSetupDlg::OnInitDialog();
    ::SetTimer(m_hWnd, kFailsafeTimer, 20000, nullptr);
    ::PostMessageA(m_hWnd, WM_NEXT_STAGE, 0, 0);
    return result;
  }

 protected:
  LRESULT OnNextStage(WPARAM, LPARAM) {
    if (m_nStagesRun < m_stages.size()) {
      m_stages[m_nStagesRun++](*this);
      ::PostMessageA(m_hWnd, WM_NEXT_STAGE, 0, 0);
    } else if (m_bEndAfterStages) {
      EndDialog(IDABORT);
    }
    return 0;
  }
  LRESULT OnIconEraseBkgnd(WPARAM wParam, LPARAM) {
    ++m_nIconErases;
    RECT rc;
    GetClientRect(&rc);
    HBRUSH hBrush = ::CreateSolidBrush(kIconBackground);
    ::FillRect(reinterpret_cast<HDC>(wParam), &rc, hBrush);
    ::DeleteObject(hBrush);
    return TRUE;
  }
  LRESULT OnNcCalcSize(WPARAM, LPARAM lParam) {
    if (!m_bIconClient || !IsIconic()) return Default();
    // The first rectangle is the proposed window rectangle; what is left of it is the client.
    reinterpret_cast<RECT*>(lParam)->right -= 1;
    return 0;
  }
  LRESULT OnTimer(WPARAM wParam, LPARAM) {
    if (wParam == kFailsafeTimer) EndDialog(-3);
    return 0;
  }

  DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CProbeDlg, CSetupDlg)
ON_MESSAGE(WM_NEXT_STAGE, OnNextStage)
ON_MESSAGE(WM_TIMER, OnTimer)
ON_MESSAGE(WM_ICONERASEBKGND, OnIconEraseBkgnd)
ON_MESSAGE(WM_NCCALCSIZE, OnNcCalcSize)
END_MESSAGE_MAP()

INT_PTR RunStages(std::vector<CProbeDlg::Stage> stages, bool bEndAfterStages = true,
                  size_t* pStagesRun = nullptr) {
  // As in the program: the application object has the dialog as its main window, which makes
  // it the owner of the about box.
  CWinApp app;
  CProbeDlg dlg;
  app.m_pMainWnd = &dlg;
  dlg.m_stages = std::move(stages);
  dlg.m_bEndAfterStages = bEndAfterStages;
  const INT_PTR result = dlg.DoModal();
  app.m_pMainWnd = nullptr;
  if (pStagesRun) *pStagesRun = dlg.m_nStagesRun;
  return result;
}

// Runs the stages and fails unless the dialog came up and every stage ran: a DoModal that
// fails returns at once and would skip every check.
void RunAllStages(std::vector<CProbeDlg::Stage> stages) {
  const size_t nStages = stages.size();
  size_t nRun = 0;
  EXPECT_EQ(RunStages(std::move(stages), true, &nRun), IDABORT);
  EXPECT_EQ(nRun, nStages) << "stages run";
}

// Watches for the next dialog window this thread shows (a message box or the about box),
// lets the test look at it from inside its own modal loop, then ends it with IDOK.
class CBoxWatcher {
 public:
  struct CSeen {
    int nShown = 0;
    std::string title;
    std::string text;  // the message box's text (static 0xFFFF)
    HICON hIcon = nullptr;
    std::vector<int> buttons;  // ids of the visible buttons
    bool bOwnerEnabled = true;
  };

  explicit CBoxWatcher(HWND hwndOwner) {
    s_pThis = this;
    m_hwndOwner = hwndOwner;
    m_hHook = ::SetWindowsHookExA(WH_CBT, HookProc, nullptr, ::GetCurrentThreadId());
  }
  ~CBoxWatcher() {
    ::UnhookWindowsHookEx(m_hHook);
    s_pThis = nullptr;
  }
  CSeen m_seen;

 private:
  static LRESULT CALLBACK HookProc(int nCode, WPARAM wParam, LPARAM lParam) {
    if (nCode == HCBT_ACTIVATE && s_pThis) {
      HWND hwnd = reinterpret_cast<HWND>(wParam);
      char cls[32] = "";
      ::GetClassNameA(hwnd, cls, sizeof cls);
      if (hwnd != s_pThis->m_hwndOwner && std::string(cls) == "#32770" && !s_pThis->m_hwndBox) {
        s_pThis->m_hwndBox = hwnd;
        // Looked at once the box runs its own loop, fully built and shown.
        ::SetTimer(nullptr, 0, 50, TimerProc);
      }
    }
    return ::CallNextHookEx(nullptr, nCode, wParam, lParam);
  }
  static void CALLBACK TimerProc(HWND, UINT, UINT_PTR idEvent, DWORD) {
    ::KillTimer(nullptr, idEvent);
    CBoxWatcher* self = s_pThis;
    if (!self || !self->m_hwndBox) return;
    HWND box = self->m_hwndBox;
    CSeen& seen = self->m_seen;
    ++seen.nShown;
    char buf[512] = "";
    ::GetWindowTextA(box, buf, sizeof buf);
    seen.title = buf;
    buf[0] = '\0';
    ::GetDlgItemTextA(box, 0xFFFF, buf, sizeof buf);
    seen.text = buf;
    for (HWND child = ::GetWindow(box, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT)) {
      char cls[32] = "";
      ::GetClassNameA(child, cls, sizeof cls);
      const LONG_PTR style = ::GetWindowLongPtrA(child, GWL_STYLE);
      if (!(style & WS_VISIBLE)) continue;
      if (_stricmp(cls, "Static") == 0 && (style & SS_TYPEMASK) == SS_ICON)
        seen.hIcon = reinterpret_cast<HICON>(::SendMessageA(child, STM_GETICON, 0, 0));
      if (_stricmp(cls, "Button") == 0) seen.buttons.push_back(::GetDlgCtrlID(child));
    }
    seen.bOwnerEnabled = ::IsWindowEnabled(self->m_hwndOwner) != FALSE;
    self->m_hwndBox = nullptr;
    ::PostMessageA(box, WM_COMMAND, IDOK, 0);
  }

  static CBoxWatcher* s_pThis;
  HHOOK m_hHook = nullptr;
  HWND m_hwndOwner = nullptr;
  HWND m_hwndBox = nullptr;
};
CBoxWatcher* CBoxWatcher::s_pThis = nullptr;

TEST(UiDialog, FreshDialogShowsTheInitialState) {
  const INT_PTR result = RunStages({[](CProbeDlg& dlg) {
    EXPECT_EQ(dlg.Text(IDC_DEVICE_ADDRESS), " XX : XX : XX : XX : XX : XX ");
    EXPECT_TRUE(::GetWindowLongPtrA(dlg.Item(IDC_DEVICE_ADDRESS), GWL_STYLE) & ES_READONLY);
    EXPECT_EQ(dlg.Text(IDC_DEVICE_NAME), "");
    for (int id = IDC_PEER_ADDR1; id <= IDC_PEER_ADDR6; ++id) {
      EXPECT_EQ(dlg.Text(id), "FF") << id;
      EXPECT_EQ(dlg.Send(id, EM_GETLIMITTEXT), 2) << id;
    }
    EXPECT_EQ(dlg.Text(IDC_PIN_CODE), "58203716");
    EXPECT_EQ(dlg.Send(IDC_PIN_CODE, EM_GETLIMITTEXT), 8);
    EXPECT_EQ(dlg.Send(IDC_DEVICE_NAME, EM_GETLIMITTEXT), 16);
    EXPECT_EQ(dlg.Send(IDC_SLAVE, BM_GETCHECK), BST_CHECKED);
    EXPECT_EQ(dlg.Send(IDC_MASTER, BM_GETCHECK), BST_UNCHECKED);
    EXPECT_EQ(dlg.Send(IDC_TURN_OFF, BM_GETCHECK), BST_UNCHECKED);

    PBRANGE range = {};
    dlg.Send(IDC_PROGRESS, PBM_GETRANGE, FALSE, reinterpret_cast<LPARAM>(&range));
    EXPECT_EQ(range.iLow, 0);
    EXPECT_EQ(range.iHigh, 7);
    EXPECT_EQ(dlg.Send(IDC_PROGRESS, PBM_GETPOS), 0);
    EXPECT_EQ(dlg.Send(IDC_PROGRESS, PBM_SETSTEP, 1), 1);  // answers the previous step
    EXPECT_EQ(dlg.m_ops.m_nRetry, 0);
    EXPECT_TRUE(dlg.m_ops.m_strPortName.empty());

    // The hidden OK button keeps Enter from ending the dialog.
    EXPECT_FALSE(::IsWindowVisible(dlg.Item(IDOK)));
    EXPECT_FALSE(::IsWindowEnabled(dlg.Item(IDOK)));
    for (int id : {IDC_READ, IDC_PROGRAM, IDCANCEL}) EXPECT_TRUE(::IsWindowEnabled(dlg.Item(id)));

    // Every member control is bound to its control, and the icon buttons are owner-drawn.
    const std::pair<int, CWnd*> bound[] = {{IDC_TURN_OFF, &dlg.m_chkTurnOff},
                                           {IDC_PROGRESS, &dlg.m_progress},
                                           {IDC_SLAVE, &dlg.m_chkSlave},
                                           {IDC_MASTER, &dlg.m_chkMaster},
                                           {IDC_DEVICE_ADDRESS, &dlg.m_editDeviceAddress},
                                           {IDC_DEVICE_NAME, &dlg.m_editDeviceName},
                                           {IDC_PEER_ADDR6, &dlg.m_editPeerAddr6},
                                           {IDC_PEER_ADDR5, &dlg.m_editPeerAddr5},
                                           {IDC_PEER_ADDR4, &dlg.m_editPeerAddr4},
                                           {IDC_PEER_ADDR3, &dlg.m_editPeerAddr3},
                                           {IDC_PEER_ADDR2, &dlg.m_editPeerAddr2},
                                           {IDC_PEER_ADDR1, &dlg.m_editPeerAddr1},
                                           {IDC_PIN_CODE, &dlg.m_editPinCode},
                                           {IDCANCEL, &dlg.m_btnExit},
                                           {IDC_PROGRAM, &dlg.m_btnProgram},
                                           {IDC_READ, &dlg.m_btnRead}};
    for (const auto& b : bound) {
      EXPECT_EQ(CWnd::FromHandlePermanent(dlg.Item(b.first)), b.second) << b.first;
    }
    for (int id : {IDC_READ, IDC_PROGRAM, IDCANCEL}) {
      EXPECT_EQ(::GetWindowLongPtrA(dlg.Item(id), GWL_STYLE) & 0x0F, BS_OWNERDRAW) << id;
    }

    ASSERT_NE(dlg.m_hAppIcon, nullptr);
    EXPECT_EQ(reinterpret_cast<HICON>(dlg.SendMessage(WM_GETICON, ICON_BIG)), dlg.m_hAppIcon);
    EXPECT_EQ(reinterpret_cast<HICON>(dlg.SendMessage(WM_GETICON, ICON_SMALL)), dlg.m_hAppIcon);
    EXPECT_EQ(reinterpret_cast<HICON>(dlg.SendMessage(WM_QUERYDRAGICON)), dlg.m_hAppIcon);

    // The system menu ends with a separator and the about entry.
    HMENU hMenu = ::GetSystemMenu(dlg.m_hWnd, FALSE);
    ASSERT_NE(hMenu, nullptr);
    const int n = ::GetMenuItemCount(hMenu);
    ASSERT_GE(n, 2);
    EXPECT_EQ(::GetMenuItemID(hMenu, n - 1), static_cast<UINT>(IDM_ABOUTBOX));
    char item[128] = "";
    ::GetMenuStringA(hMenu, n - 1, item, sizeof item, MF_BYPOSITION);
    EXPECT_STREQ(item, "Infor&mazioni su corvane_bt_config...");
    EXPECT_TRUE(::GetMenuState(hMenu, n - 2, MF_BYPOSITION) & MF_SEPARATOR);
  }});
  EXPECT_EQ(result, IDABORT);
}

TEST(UiDialog, RoleBoxesKeepExactlyOneChecked) {
  RunAllStages({[](CProbeDlg& dlg) {
    struct CStep {
      int clicked;
      LRESULT master, slave;
    };
    const CStep steps[] = {{IDC_MASTER, 1, 0}, {IDC_MASTER, 0, 1}, {IDC_SLAVE, 1, 0},
                           {IDC_SLAVE, 0, 1},  {IDC_MASTER, 1, 0}, {IDC_SLAVE, 0, 1}};
    int i = 0;
    for (const CStep& s : steps) {
      dlg.Send(s.clicked, BM_CLICK);
      EXPECT_EQ(dlg.Send(IDC_MASTER, BM_GETCHECK), s.master) << "click " << i;
      EXPECT_EQ(dlg.Send(IDC_SLAVE, BM_GETCHECK), s.slave) << "click " << i;
      ++i;
    }
  }});
}

TEST(UiDialog, ViewOperationsActOnTheControls) {
  RunAllStages({[](CProbeDlg& dlg) {
    CSetupView& view = dlg;
    // Texts set by Read are not cut to the typing limits.
    const std::string longName(40, 'N');
    view.SetControlText(IDC_DEVICE_NAME, longName);
    EXPECT_EQ(view.GetControlText(IDC_DEVICE_NAME), longName);
    view.SetControlText(IDC_PIN_CODE, "");
    EXPECT_EQ(view.GetControlText(IDC_PIN_CODE), "");
    view.SetControlText(IDC_PEER_ADDR3, "0A");
    EXPECT_EQ(dlg.Text(IDC_PEER_ADDR3), "0A");
    EXPECT_EQ(view.GetControlText(IDC_DEVICE_ADDRESS), " XX : XX : XX : XX : XX : XX ");

    view.SetCheck(IDC_TURN_OFF, true);
    EXPECT_TRUE(view.IsChecked(IDC_TURN_OFF));
    EXPECT_EQ(dlg.Send(IDC_TURN_OFF, BM_GETCHECK), BST_CHECKED);
    view.SetCheck(IDC_MASTER, true);
    view.SetCheck(IDC_SLAVE, false);
    EXPECT_TRUE(view.IsChecked(IDC_MASTER));
    EXPECT_FALSE(view.IsChecked(IDC_SLAVE));

    for (int id : {IDC_READ, IDC_PROGRAM, IDCANCEL}) {
      view.DisableControl(id);
      EXPECT_FALSE(::IsWindowEnabled(dlg.Item(id))) << id;
      view.EnableControl(id);
      EXPECT_TRUE(::IsWindowEnabled(dlg.Item(id))) << id;
    }

    for (int step = 1; step <= 7; ++step) {
      view.StepProgress();
      EXPECT_EQ(dlg.Send(IDC_PROGRESS, PBM_GETPOS), step);
    }
    view.ResetProgress();
    EXPECT_EQ(dlg.Send(IDC_PROGRESS, PBM_GETPOS), 0);

    HCURSOR hWait = ::LoadCursorA(nullptr, MAKEINTRESOURCEA(32514));  // IDC_WAIT
    view.BeginWaitCursor();
    EXPECT_EQ(::GetCursor(), hWait);
    view.EndWaitCursor();
    EXPECT_NE(::GetCursor(), hWait);
  }});
}

TEST(UiDialog, MessageIsAWarningBoxUnderTheAppTitleOverADisabledDialog) {
  RunAllStages({[](CProbeDlg& dlg) {
    CBoxWatcher watcher(dlg.m_hWnd);
    dlg.ShowMessage(kCannotConnect);
    const CBoxWatcher::CSeen& seen = watcher.m_seen;
    EXPECT_EQ(seen.nShown, 1);
    EXPECT_EQ(seen.text, kCannotConnect);
    EXPECT_EQ(seen.title, AfxGetAppTitle());
    EXPECT_EQ(seen.hIcon, ::LoadIconA(nullptr, MAKEINTRESOURCEA(32515)));  // IDI_EXCLAMATION
    EXPECT_EQ(seen.buttons, std::vector<int>{IDOK});
    EXPECT_FALSE(seen.bOwnerEnabled);
    EXPECT_TRUE(::IsWindowEnabled(dlg.m_hWnd));
  }});
}

TEST(UiDialog, SystemMenuOpensTheAboutBox) {
  RunAllStages({[](CProbeDlg& dlg) {
    CBoxWatcher watcher(dlg.m_hWnd);
    dlg.SendMessage(WM_SYSCOMMAND, IDM_ABOUTBOX);
    EXPECT_EQ(watcher.m_seen.nShown, 1);
    EXPECT_EQ(watcher.m_seen.title, "Informazioni su corvane_bt_config");
    EXPECT_FALSE(watcher.m_seen.bOwnerEnabled);
    EXPECT_EQ(watcher.m_seen.buttons, std::vector<int>{IDOK});
    // The low four bits of a system command are the system's own; the entry still matches.
    dlg.SendMessage(WM_SYSCOMMAND, IDM_ABOUTBOX | 0x3);
    EXPECT_EQ(watcher.m_seen.nShown, 2);
    EXPECT_TRUE(::IsWindowEnabled(dlg.m_hWnd));
    EXPECT_EQ(dlg.Text(IDC_PIN_CODE), "58203716");
  }});
}

TEST(UiDialog, MinimisedWindowPaintsTheAppIcon) {
  RunAllStages({[](CProbeDlg& dlg) {
    dlg.RedrawWindow(nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    EXPECT_EQ(dlg.m_nIconErases, 0);
    dlg.m_bIconClient = true;
    ::ShowWindow(dlg.m_hWnd, SW_MINIMIZE);
    ASSERT_TRUE(::IsIconic(dlg.m_hWnd));
    ::SetWindowPos(dlg.m_hWnd, nullptr, 0, 0, 0, 0,
                   SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_FRAMECHANGED);
    RECT rc;
    ::GetClientRect(dlg.m_hWnd, &rc);
    ASSERT_EQ(rc.right, 159);
    ASSERT_EQ(rc.bottom, 24);
    ASSERT_EQ(::GetSystemMetrics(SM_CXICON), 32);
    ASSERT_EQ(::GetSystemMetrics(SM_CYICON), 32);
    dlg.RedrawWindow(nullptr, nullptr, RDW_INVALIDATE | RDW_INTERNALPAINT | RDW_UPDATENOW);
    EXPECT_GE(dlg.m_nIconErases, 1);

    // The application icon at x = (159 - 32 + 1) / 2 = 64 and y = (24 - 32 + 1) / 2 = -3, the
    // halves rounded toward zero, drawn at the system's icon size: so the window must look
    // like this picture.
    CCanvas picture(rc.right, rc.bottom);
    picture.Fill(kIconBackground);
    ::DrawIcon(picture.m_hDC, 64, -3, dlg.m_hAppIcon);
    HDC hWindow = ::GetDC(dlg.m_hWnd);
    int nIconPixels = 0;
    int nDifferent = 0;
    for (int y = 0; y < rc.bottom; ++y)
      for (int x = 0; x < rc.right; ++x) {
        const COLORREF expected = picture.At(x, y);
        nIconPixels += expected != kIconBackground;
        nDifferent += ::GetPixel(hWindow, x, y) != expected;
      }
    ::ReleaseDC(dlg.m_hWnd, hWindow);
    EXPECT_GT(nIconPixels, 300) << "most of the icon lies inside the window";
    EXPECT_EQ(nDifferent, 0) << "pixels unlike the icon centred in the minimised window";
    EXPECT_EQ(reinterpret_cast<HICON>(dlg.SendMessage(WM_QUERYDRAGICON)), dlg.m_hAppIcon);
    ::ShowWindow(dlg.m_hWnd, SW_RESTORE);
    EXPECT_FALSE(::IsIconic(dlg.m_hWnd));
  }});
}

TEST(UiDialog, EnterInATextBoxKeepsTheDialogEscapeEndsIt) {
  size_t stagesRun = 0;
  const INT_PTR result = RunStages(
      {[](CProbeDlg& dlg) {
         ::SetFocus(dlg.Item(IDC_DEVICE_NAME));
         ::PostMessageA(dlg.Item(IDC_DEVICE_NAME), WM_KEYDOWN, VK_RETURN, 1);
       },
       // Runs only if Enter left the dialog up.
       [](CProbeDlg& dlg) { ::PostMessageA(dlg.Item(IDC_DEVICE_NAME), WM_KEYDOWN, VK_ESCAPE, 1); }},
      false, &stagesRun);
  EXPECT_EQ(stagesRun, 2u);
  EXPECT_EQ(result, IDCANCEL);
}

TEST(UiDialog, ExitButtonEndsTheDialog) {
  const INT_PTR result = RunStages({[](CProbeDlg& dlg) { dlg.Send(IDCANCEL, BM_CLICK); }}, false);
  EXPECT_EQ(result, IDCANCEL);
}

}  // namespace
