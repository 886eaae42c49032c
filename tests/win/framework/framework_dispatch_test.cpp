// Message maps, default processing, subclassing and reflection on real windows.
#include <gtest/gtest.h>

#include <vector>

#include "framework/Framework.h"

namespace {

const UINT WM_SHARED = WM_APP + 1;     // handled by base and derived maps
const UINT WM_BASE_ONLY = WM_APP + 2;  // handled by the base map only
const UINT WM_ORIGINAL = WM_APP + 3;   // handled by nobody but the original procedure
const UINT WM_CALLS_DEFAULT = WM_APP + 4;
const UINT WM_SET_TEXT_VIA_DEFAULT = WM_APP + 5;

// The window class's own procedure: what "default processing" reaches.
std::vector<UINT> g_originalSeen;
LRESULT CALLBACK OriginalProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message >= WM_APP) g_originalSeen.push_back(message);
  if (message == WM_ORIGINAL || message == WM_CALLS_DEFAULT) return 44;
  if (message == WM_COMMAND) return 55;
  return ::DefWindowProcA(hWnd, message, wParam, lParam);
}

HWND CreatePlainWindow(HWND hWndParent = nullptr, DWORD dwStyle = WS_OVERLAPPEDWINDOW) {
  static const ATOM s_atom = [] {
    WNDCLASSA wc = {};
    wc.lpfnWndProc = OriginalProc;
    wc.hInstance = ::GetModuleHandleA(nullptr);
    wc.lpszClassName = "FrameworkDispatchTest";
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    return ::RegisterClassA(&wc);
  }();
  (void)s_atom;
  return ::CreateWindowExA(0, "FrameworkDispatchTest", "test", dwStyle, 10, 10, 300, 200,
                           hWndParent, nullptr, ::GetModuleHandleA(nullptr), nullptr);
}

class CBaseWnd : public CWnd {
 public:
  int m_nBaseShared = 0;
  int m_nBaseOnly = 0;
  int m_nClicks = 0;
  WNDPROC m_pfnProcAtPreSubclass = nullptr;
  CWnd* m_pBoundAtPreSubclass = nullptr;

 protected:
  void PreSubclassWindow() override {
    m_pfnProcAtPreSubclass = reinterpret_cast<WNDPROC>(::GetWindowLongPtrA(m_hWnd, GWLP_WNDPROC));
    m_pBoundAtPreSubclass = FromHandlePermanent(m_hWnd);
  }
  LRESULT OnShared(WPARAM, LPARAM) {
    ++m_nBaseShared;
    return 11;
  }
  LRESULT OnBaseOnly(WPARAM wParam, LPARAM) {
    ++m_nBaseOnly;
    return 22 + static_cast<LRESULT>(wParam);
  }
  void OnButton7() { ++m_nClicks; }

  DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CBaseWnd, CWnd)
ON_MESSAGE(WM_SHARED, OnShared)
ON_MESSAGE(WM_BASE_ONLY, OnBaseOnly)
ON_BN_CLICKED(7, OnButton7)
END_MESSAGE_MAP()

class CDerivedWnd : public CBaseWnd {
 public:
  int m_nDerivedShared = 0;
  std::vector<UINT> m_defaultSeen;

  LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) override {
    if (message >= WM_APP) m_defaultSeen.push_back(message);
    return CBaseWnd::DefWindowProc(message, wParam, lParam);
  }

 protected:
  LRESULT OnShared(WPARAM, LPARAM) {
    ++m_nDerivedShared;
    return 33;
  }
  LRESULT OnCallsDefault(WPARAM, LPARAM) { return Default() + 1; }

  DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CDerivedWnd, CBaseWnd)
ON_MESSAGE(WM_SHARED, OnShared)
ON_MESSAGE(WM_CALLS_DEFAULT, OnCallsDefault)
END_MESSAGE_MAP()

class DispatchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_originalSeen.clear();
    m_hWnd = CreatePlainWindow();
    ASSERT_NE(m_hWnd, nullptr);
  }
  void TearDown() override {
    if (::IsWindow(m_hWnd)) ::DestroyWindow(m_hWnd);
  }
  HWND m_hWnd = nullptr;
};

TEST_F(DispatchTest, MostDerivedHandlerWinsThenBaseMapThenOriginalProcedure) {
  CDerivedWnd wnd;
  ASSERT_TRUE(wnd.SubclassWindow(m_hWnd));

  EXPECT_EQ(::SendMessageA(m_hWnd, WM_SHARED, 0, 0), 33);
  EXPECT_EQ(wnd.m_nDerivedShared, 1);
  EXPECT_EQ(wnd.m_nBaseShared, 0);

  EXPECT_EQ(::SendMessageA(m_hWnd, WM_BASE_ONLY, 5, 0), 27);
  EXPECT_EQ(wnd.m_nBaseOnly, 1);

  EXPECT_EQ(::SendMessageA(m_hWnd, WM_ORIGINAL, 0, 0), 44);
  EXPECT_EQ(wnd.m_defaultSeen, std::vector<UINT>{WM_ORIGINAL});

  // Handled messages never reach the default processing.
  EXPECT_EQ(g_originalSeen, std::vector<UINT>{WM_ORIGINAL});
}

TEST_F(DispatchTest, DefaultFromAHandlerRunsTheVirtualDefaultProcessingOfThatMessage) {
  CDerivedWnd wnd;
  ASSERT_TRUE(wnd.SubclassWindow(m_hWnd));
  EXPECT_EQ(::SendMessageA(m_hWnd, WM_CALLS_DEFAULT, 0, 0), 45);
  EXPECT_EQ(wnd.m_defaultSeen, std::vector<UINT>{WM_CALLS_DEFAULT});
  EXPECT_EQ(g_originalSeen, std::vector<UINT>{WM_CALLS_DEFAULT});
  EXPECT_EQ(wnd.Default(), 0) << "outside a handler there is no message to pass on";
}

TEST_F(DispatchTest, CommandEntriesMatchIdAndNotificationCode) {
  CDerivedWnd wnd;
  ASSERT_TRUE(wnd.SubclassWindow(m_hWnd));
  EXPECT_EQ(::SendMessageA(m_hWnd, WM_COMMAND, MAKEWPARAM(7, BN_CLICKED), 0), 0);
  EXPECT_EQ(wnd.m_nClicks, 1);
  EXPECT_EQ(::SendMessageA(m_hWnd, WM_COMMAND, MAKEWPARAM(8, BN_CLICKED), 0), 55);
  EXPECT_EQ(::SendMessageA(m_hWnd, WM_COMMAND, MAKEWPARAM(7, BN_DOUBLECLICKED), 0), 55);
  EXPECT_EQ(wnd.m_nClicks, 1);
}

TEST_F(DispatchTest, SubclassingReplacesAndUnsubclassingRestoresTheProcedure) {
  CDerivedWnd wnd;
  ASSERT_TRUE(wnd.SubclassWindow(m_hWnd));
  EXPECT_EQ(wnd.m_pfnProcAtPreSubclass, &OriginalProc)
      << "PreSubclassWindow must run before the procedure is replaced";
  EXPECT_EQ(wnd.m_pBoundAtPreSubclass, &wnd);
  EXPECT_EQ(reinterpret_cast<WNDPROC>(::GetWindowLongPtrA(m_hWnd, GWLP_WNDPROC)), &CWnd::WndProc);
  EXPECT_EQ(CWnd::FromHandle(m_hWnd), &wnd);

  CDerivedWnd other;
  EXPECT_FALSE(other.SubclassWindow(m_hWnd)) << "a window binds to one object only";
  EXPECT_FALSE(wnd.SubclassWindow(m_hWnd));

  EXPECT_EQ(wnd.UnsubclassWindow(), m_hWnd);
  EXPECT_EQ(wnd.m_hWnd, nullptr);
  EXPECT_EQ(reinterpret_cast<WNDPROC>(::GetWindowLongPtrA(m_hWnd, GWLP_WNDPROC)), &OriginalProc);
  EXPECT_EQ(CWnd::FromHandlePermanent(m_hWnd), nullptr);
  EXPECT_EQ(::SendMessageA(m_hWnd, WM_SHARED, 0, 0), 0);
  EXPECT_EQ(wnd.m_nDerivedShared, 0);

  EXPECT_TRUE(other.SubclassWindow(m_hWnd)) << "free again after unsubclassing";
}

TEST_F(DispatchTest, DestroyedWindowReleasesItsObjectAndAnObjectReleasesItsWindow) {
  {
    CDerivedWnd wnd;
    ASSERT_TRUE(wnd.SubclassWindow(m_hWnd));
    ::DestroyWindow(m_hWnd);
    EXPECT_EQ(wnd.m_hWnd, nullptr);
    EXPECT_EQ(CWnd::FromHandlePermanent(m_hWnd), nullptr);
  }
  m_hWnd = CreatePlainWindow();
  {
    CDerivedWnd wnd;
    ASSERT_TRUE(wnd.SubclassWindow(m_hWnd));
  }
  EXPECT_TRUE(::IsWindow(m_hWnd));
  EXPECT_EQ(reinterpret_cast<WNDPROC>(::GetWindowLongPtrA(m_hWnd, GWLP_WNDPROC)), &OriginalProc);
  EXPECT_EQ(::SendMessageA(m_hWnd, WM_ORIGINAL, 0, 0), 44);
}

TEST_F(DispatchTest, UnboundHandlesGetTemporaryWrappersThatDoNotRouteMessages) {
  CWnd* pTemp = CWnd::FromHandle(m_hWnd);
  ASSERT_NE(pTemp, nullptr);
  EXPECT_EQ(pTemp->m_hWnd, m_hWnd);
  EXPECT_EQ(CWnd::FromHandle(m_hWnd), pTemp);
  EXPECT_EQ(CWnd::FromHandle(nullptr), nullptr);
  EXPECT_EQ(reinterpret_cast<WNDPROC>(::GetWindowLongPtrA(m_hWnd, GWLP_WNDPROC)), &OriginalProc);

  CDerivedWnd wnd;
  ASSERT_TRUE(wnd.SubclassWindow(m_hWnd));
  EXPECT_EQ(CWnd::FromHandle(m_hWnd), &wnd);
}

// A child that colours itself and draws itself through reflected messages.
class CReflectingChild : public CButton {
 public:
  HBRUSH m_hBrush = nullptr;
  std::vector<UINT> m_kinds;
  HDC m_hDCSeen = nullptr;
  int m_nDrawItems = 0;
  UINT m_nDrawCtlId = 0;

 protected:
  HBRUSH CtlColor(CDC* pDC, UINT nCtlColor) {
    m_kinds.push_back(nCtlColor);
    m_hDCSeen = pDC ? pDC->m_hDC : nullptr;
    return m_hBrush;
  }
  void DrawItem(LPDRAWITEMSTRUCT lpDis) override {
    ++m_nDrawItems;
    m_nDrawCtlId = lpDis->CtlID;
  }
  DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CReflectingChild, CButton)
ON_WM_CTLCOLOR_REFLECT()
END_MESSAGE_MAP()

class ReflectionTest : public DispatchTest {
 protected:
  void SetUp() override {
    DispatchTest::SetUp();
    ASSERT_TRUE(m_parent.SubclassWindow(m_hWnd));
    m_hWndChild = ::CreateWindowExA(0, "BUTTON", "x", WS_CHILD | WS_VISIBLE | BS_OWNERDRAW, 5, 5,
                                    80, 30, m_hWnd, reinterpret_cast<HMENU>(21),
                                    ::GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(m_hWndChild, nullptr);
    m_hDC = ::CreateCompatibleDC(nullptr);
  }
  void TearDown() override {
    ::DeleteDC(m_hDC);
    DispatchTest::TearDown();
  }
  CDerivedWnd m_parent;
  HWND m_hWndChild = nullptr;
  HDC m_hDC = nullptr;
};

TEST_F(ReflectionTest, ControlColourMessagesReachTheBoundChildAndItsBrushIsTheAnswer) {
  CReflectingChild child;
  ASSERT_TRUE(child.SubclassWindow(m_hWndChild));
  CBrush brush(RGB(1, 2, 3));
  child.m_hBrush = brush;

  LRESULT lEdit = ::SendMessageA(m_hWnd, WM_CTLCOLOREDIT, reinterpret_cast<WPARAM>(m_hDC),
                                 reinterpret_cast<LPARAM>(m_hWndChild));
  LRESULT lStatic = ::SendMessageA(m_hWnd, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(m_hDC),
                                   reinterpret_cast<LPARAM>(m_hWndChild));
  EXPECT_EQ(reinterpret_cast<HBRUSH>(lEdit), static_cast<HBRUSH>(brush));
  EXPECT_EQ(reinterpret_cast<HBRUSH>(lStatic), static_cast<HBRUSH>(brush));
  EXPECT_EQ(child.m_kinds, (std::vector<UINT>{CTLCOLOR_EDIT, CTLCOLOR_STATIC}));
  EXPECT_EQ(child.m_hDCSeen, m_hDC);
  EXPECT_TRUE(m_parent.m_defaultSeen.empty()) << "an answered reflection ends the parent's work";
}

TEST_F(ReflectionTest, NullBrushFromTheChildLeavesTheParentsDefaultColouring) {
  CReflectingChild child;
  ASSERT_TRUE(child.SubclassWindow(m_hWndChild));
  LRESULT lBound = ::SendMessageA(m_hWnd, WM_CTLCOLOREDIT, reinterpret_cast<WPARAM>(m_hDC),
                                  reinterpret_cast<LPARAM>(m_hWndChild));
  EXPECT_EQ(child.m_kinds.size(), 1u);
  ASSERT_TRUE(child.UnsubclassWindow());
  LRESULT lUnbound = ::SendMessageA(m_hWnd, WM_CTLCOLOREDIT, reinterpret_cast<WPARAM>(m_hDC),
                                    reinterpret_cast<LPARAM>(m_hWndChild));
  EXPECT_NE(lBound, 0);
  EXPECT_EQ(lBound, lUnbound) << "same answer as for a child that is not ours";
  EXPECT_EQ(child.m_kinds.size(), 1u);
}

TEST_F(ReflectionTest, OwnerDrawnButtonPaintsThroughItsDrawItem) {
  CReflectingChild child;
  ASSERT_TRUE(child.SubclassWindow(m_hWndChild));
  ::ShowWindow(m_hWnd, SW_SHOWNOACTIVATE);
  ::RedrawWindow(m_hWndChild, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
  EXPECT_GE(child.m_nDrawItems, 1) << "the system's own WM_DRAWITEM, reflected";
  EXPECT_EQ(child.m_nDrawCtlId, 21u);

  int nBefore = child.m_nDrawItems;
  DRAWITEMSTRUCT dis = {};
  dis.CtlType = ODT_BUTTON;
  dis.CtlID = 21;
  dis.hwndItem = m_hWndChild;
  dis.hDC = m_hDC;
  EXPECT_EQ(::SendMessageA(m_hWnd, WM_DRAWITEM, 21, reinterpret_cast<LPARAM>(&dis)), TRUE);
  EXPECT_EQ(child.m_nDrawItems, nBefore + 1);

  dis.CtlType = ODT_MENU;
  ::SendMessageA(m_hWnd, WM_DRAWITEM, 0, reinterpret_cast<LPARAM>(&dis));
  EXPECT_EQ(child.m_nDrawItems, nBefore + 1) << "menu items are not a child's";
}

// The application object's map takes the commands that no window handles.
class CCommandApp : public CWinApp {
 public:
  int m_nHelp = 0;

 protected:
  void OnAppHelp() { ++m_nHelp; }
  DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CCommandApp, CWinApp)
ON_COMMAND(ID_HELP, OnAppHelp)
END_MESSAGE_MAP()

TEST_F(DispatchTest, CommandsNoWindowHandlesGoToTheApplicationsMap) {
  CCommandApp app;
  CDerivedWnd wnd;
  ASSERT_TRUE(wnd.SubclassWindow(m_hWnd));
  EXPECT_EQ(::SendMessageA(m_hWnd, WM_COMMAND, MAKEWPARAM(ID_HELP, 0), 0), 0);
  EXPECT_EQ(app.m_nHelp, 1);
  EXPECT_EQ(::SendMessageA(m_hWnd, WM_COMMAND, MAKEWPARAM(7, BN_CLICKED), 0), 0);
  EXPECT_EQ(app.m_nHelp, 1);
  EXPECT_EQ(wnd.m_nClicks, 1);
}

TEST_F(DispatchTest, ModifyStyleChangesOnlyTheNamedBits) {
  CWnd wnd;
  ASSERT_TRUE(wnd.SubclassWindow(m_hWnd));
  DWORD dwBefore = wnd.GetStyle();
  ASSERT_TRUE(dwBefore & WS_MAXIMIZEBOX);
  EXPECT_TRUE(wnd.ModifyStyle(WS_MAXIMIZEBOX, WS_VSCROLL, SWP_FRAMECHANGED));
  EXPECT_EQ(wnd.GetStyle(), (dwBefore & ~DWORD(WS_MAXIMIZEBOX)) | WS_VSCROLL);
  EXPECT_FALSE(wnd.ModifyStyle(WS_MAXIMIZEBOX, 0));
}

}  // namespace
