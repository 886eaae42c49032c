// Modal dialogs from in-memory templates: DoModal, OnInitDialog, DDX_Control binding and the
// default OK and Cancel handling, driven by real messages inside the modal loop.
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "framework/DialogTemplateBuilder.h"
#include "framework/Framework.h"

namespace {

const WORD IDC_NAME = 1003;
const WORD IDC_CHECK = 1014;
const WORD IDC_MISSING = 1999;
const UINT WM_RUN_STEP = WM_APP + 10;

CDialogTemplateBuilder MakeTemplate() {
  CDialogTemplateBuilder t(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME, 0, 0, 200, 100,
                           "Framework dialog");
  t.AddItem(0x0080, BS_DEFPUSHBUTTON | WS_TABSTOP, 140, 7, 50, 14, IDOK, "OK");
  t.AddItem(0x0080, BS_PUSHBUTTON | WS_TABSTOP, 140, 25, 50, 14, IDCANCEL, "Cancel");
  t.AddItem(0x0081, ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP, 7, 7, 100, 14, IDC_NAME, "");
  t.AddItem(0x0080, BS_AUTOCHECKBOX | WS_TABSTOP, 7, 30, 100, 10, IDC_CHECK, "Check");
  return t;
}

class CRecordingEdit : public CEdit {
 public:
  bool m_bPreSubclassed = false;

 protected:
  void PreSubclassWindow() override { m_bPreSubclassed = true; }
};

class CTestDlg : public CDialog {
 public:
  explicit CTestDlg(LPCDLGTEMPLATE lpTemplate, CWnd* pParent = nullptr) : CDialog(0, pParent) {
    InitModalIndirect(lpTemplate);
  }

  // Runs inside the modal loop, after the window is shown.
  std::function<void(CTestDlg&)> m_fnStep;
  bool m_bBindMissing = false;
  std::vector<const char*> m_calls;
  int m_nExchanges = 0;
  BOOL m_bBaseInitResult = -1;
  bool m_bBoundDuringInit = false;
  HWND m_hWndDuringInit = nullptr;

  CRecordingEdit m_editName;
  CButton m_chkOption;
  CButton m_btnMissing;

  void DoDataExchange(CDataExchange* pDX) override {
    ++m_nExchanges;
    m_calls.push_back(pDX->m_bSaveAndValidate ? "exchange-save" : "exchange-load");
    DDX_Control(pDX, IDC_NAME, m_editName);
    DDX_Control(pDX, IDC_CHECK, m_chkOption);
    if (m_bBindMissing) DDX_Control(pDX, IDC_MISSING, m_btnMissing);
  }
  BOOL OnInitDialog() override {
    m_calls.push_back("init");
    m_hWndDuringInit = m_hWnd;
    m_bBaseInitResult = CDialog::OnInitDialog();
    m_bBoundDuringInit = m_editName.m_hWnd != nullptr;
    if (m_bBaseInitResult) ::PostMessageA(m_hWnd, WM_RUN_STEP, 0, 0);
    return m_bBaseInitResult;
  }
  void OnOK() override {
    m_calls.push_back("ok");
    CDialog::OnOK();
  }
  void OnCancel() override {
    m_calls.push_back("cancel");
    CDialog::OnCancel();
  }

 protected:
  LRESULT OnRunStep(WPARAM, LPARAM) {
    if (m_fnStep) m_fnStep(*this);
    return 0;
  }
  DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CTestDlg, CDialog)
ON_MESSAGE(WM_RUN_STEP, OnRunStep)
END_MESSAGE_MAP()

TEST(DialogTest, OnInitDialogBindsMemberControlsAndTheOkButtonEndsTheDialog) {
  CDialogTemplateBuilder t = MakeTemplate();
  CTestDlg dlg(t.Get());
  HWND hWndName = nullptr;
  dlg.m_fnStep = [&](CTestDlg& d) {
    hWndName = ::GetDlgItem(d.m_hWnd, IDC_NAME);
    EXPECT_EQ(CWnd::FromHandle(hWndName), &d.m_editName);
    EXPECT_EQ(d.GetDlgItem(IDC_CHECK), &d.m_chkOption);
    EXPECT_TRUE(d.m_editName.m_bPreSubclassed);
    d.m_chkOption.SetCheck(BST_CHECKED);
    EXPECT_EQ(::IsDlgButtonChecked(d.m_hWnd, IDC_CHECK), BST_CHECKED);
    ::SendMessageA(::GetDlgItem(d.m_hWnd, IDOK), BM_CLICK, 0, 0);
  };
  EXPECT_EQ(dlg.DoModal(), IDOK);
  EXPECT_EQ(dlg.m_calls,
            (std::vector<const char*>{"init", "exchange-load", "ok", "exchange-save"}));
  EXPECT_TRUE(dlg.m_bBoundDuringInit);
  EXPECT_NE(dlg.m_hWndDuringInit, nullptr);
  EXPECT_EQ(dlg.m_nExchanges, 2) << "OK runs the saving exchange; binding happens once";
  EXPECT_FALSE(::IsWindow(hWndName));
  EXPECT_EQ(dlg.m_hWnd, nullptr) << "the object lets go of its destroyed window";
  EXPECT_EQ(dlg.m_editName.m_hWnd, nullptr);
}

TEST(DialogTest, CancelButtonEscapeAndCloseBoxAllEndWithIdCancel) {
  CDialogTemplateBuilder t = MakeTemplate();
  const std::function<void(CTestDlg&)> enders[] = {
      [](CTestDlg& d) { ::SendMessageA(::GetDlgItem(d.m_hWnd, IDCANCEL), BM_CLICK, 0, 0); },
      [](CTestDlg& d) {
        ::SetFocus(d.m_editName.m_hWnd);
        MSG msg = {d.m_editName.m_hWnd, WM_KEYDOWN, VK_ESCAPE, 0, 0, {0, 0}};
        ::IsDialogMessageA(d.m_hWnd, &msg);
      },
      [](CTestDlg& d) { ::SendMessageA(d.m_hWnd, WM_SYSCOMMAND, SC_CLOSE, 0); },
  };
  for (const auto& fnEnd : enders) {
    CTestDlg dlg(t.Get());
    dlg.m_fnStep = fnEnd;
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);
    EXPECT_EQ(dlg.m_calls, (std::vector<const char*>{"init", "exchange-load", "cancel"}));
  }
}

TEST(DialogTest, EnterInAnEditBoxReachesTheDefaultOkHandling) {
  CDialogTemplateBuilder t = MakeTemplate();
  CTestDlg dlg(t.Get());
  dlg.m_fnStep = [](CTestDlg& d) {
    ::SetFocus(d.m_editName.m_hWnd);
    MSG msg = {d.m_editName.m_hWnd, WM_KEYDOWN, VK_RETURN, 0, 0, {0, 0}};
    ::IsDialogMessageA(d.m_hWnd, &msg);
  };
  EXPECT_EQ(dlg.DoModal(), IDOK);
}

TEST(DialogTest, AMemberWithoutItsControlFailsTheDialogInsteadOfRunningUnbound) {
  CDialogTemplateBuilder t = MakeTemplate();
  CTestDlg dlg(t.Get());
  dlg.m_bBindMissing = true;
  bool bStepRan = false;
  dlg.m_fnStep = [&](CTestDlg& d) {
    bStepRan = true;
    d.EndDialog(IDOK);
  };
  EXPECT_EQ(dlg.DoModal(), -1);
  EXPECT_EQ(dlg.m_bBaseInitResult, FALSE);
  EXPECT_FALSE(bStepRan);
}

TEST(DialogTest, MissingTemplateReturnsMinusOneWithoutRunningTheDialog) {
  CDialog dlg(4321);
  EXPECT_EQ(dlg.DoModal(), -1);
  EXPECT_EQ(dlg.m_hWnd, nullptr);
}

TEST(DialogTest, NestedDialogDisablesItsOwnerUntilItEnds) {
  CDialogTemplateBuilder t = MakeTemplate();
  CTestDlg outer(t.Get());
  bool bOwnerDisabled = false;
  INT_PTR nInner = 0;
  outer.m_fnStep = [&](CTestDlg& o) {
    CTestDlg inner(t.Get(), &o);
    inner.m_fnStep = [&](CTestDlg& i) {
      bOwnerDisabled = !::IsWindowEnabled(o.m_hWnd);
      EXPECT_EQ(::GetWindow(i.m_hWnd, GW_OWNER), o.m_hWnd);
      i.EndDialog(7);
    };
    nInner = inner.DoModal();
    EXPECT_TRUE(::IsWindowEnabled(o.m_hWnd));
    o.EndDialog(IDCANCEL);
  };
  EXPECT_EQ(outer.DoModal(), IDCANCEL);
  EXPECT_EQ(nInner, 7);
  EXPECT_TRUE(bOwnerDisabled);
}

TEST(DialogTest, SystemMenuTakesAppendedItemsAndTheirCommandsReachTheMap) {
  CDialogTemplateBuilder t = MakeTemplate();
  CTestDlg dlg(t.Get());
  int nItemsBefore = 0;
  int nItemsAfter = 0;
  dlg.m_fnStep = [&](CTestDlg& d) {
    CMenu* pMenu = d.GetSystemMenu(FALSE);
    ASSERT_NE(pMenu, nullptr);
    nItemsBefore = ::GetMenuItemCount(pMenu->m_hMenu);
    EXPECT_TRUE(pMenu->AppendMenu(MF_SEPARATOR));
    EXPECT_TRUE(pMenu->AppendMenu(MF_STRING, 0x10, "About..."));
    nItemsAfter = ::GetMenuItemCount(pMenu->m_hMenu);
    char szText[32] = {};
    ::GetMenuStringA(pMenu->m_hMenu, 0x10, szText, sizeof(szText), MF_BYCOMMAND);
    EXPECT_STREQ(szText, "About...");
    d.EndDialog(IDOK);
  };
  EXPECT_EQ(dlg.DoModal(), IDOK);
  EXPECT_EQ(nItemsAfter, nItemsBefore + 2);
}

}  // namespace
