// CColorEdit through real messages: the parent's control-colour messages reach the box's
// handler by reflection, and the system paints the box with the brush and colours it answers.
#include <gtest/gtest.h>

#include <string>

#include "controls/ColorEdit.h"
#include "framework/Framework.h"

namespace {

const COLORREF kWhite = RGB(255, 255, 255);
const COLORREF kBlack = RGB(0, 0, 0);
const int IDC_BOX = 1002;

// What the box answers to one control-colour message sent to its parent.
struct CColourAnswer {
  COLORREF crFill = CLR_INVALID;
  COLORREF crBack = CLR_INVALID;
  COLORREF crText = CLR_INVALID;
  HBRUSH hBrush = nullptr;
};

class ColorEditTest : public ::testing::Test {
 protected:
  // Showing a top-level window costs seconds under Wine without a window manager, so all
  // cases share one parent; each gets a fresh box.
  static void SetUpTestSuite() {
    HINSTANCE hInstance = ::GetModuleHandleA(nullptr);
    WNDCLASSA wc = {};
    wc.lpfnWndProc = ::DefWindowProcA;
    wc.hInstance = hInstance;
    wc.lpszClassName = "ColorEditTestParent";
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    ::RegisterClassA(&wc);
    HWND hWndParent =
        ::CreateWindowExA(0, "ColorEditTestParent", "parent", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 20,
                          20, 320, 120, nullptr, nullptr, hInstance, nullptr);
    s_pParent = new CWnd;
    if (hWndParent) s_pParent->SubclassWindow(hWndParent);
  }
  static void TearDownTestSuite() {
    if (s_pParent->m_hWnd) ::DestroyWindow(s_pParent->m_hWnd);
    delete s_pParent;
    s_pParent = nullptr;
  }

  void SetUp() override {
    m_crFace = ::GetSysColor(COLOR_BTNFACE);
    ASSERT_NE(m_crFace, kWhite) << "the cases below need a button face that is not white";
    ASSERT_NE(s_pParent->m_hWnd, nullptr);
    HWND hWndBox = ::CreateWindowExA(
        0, "EDIT", "    ", WS_CHILD | WS_VISIBLE | WS_BORDER | ES_AUTOHSCROLL, 10, 10, 240, 28,
        s_pParent->m_hWnd, reinterpret_cast<HMENU>(IDC_BOX), ::GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(hWndBox, nullptr);
    m_pBox = new CColorEdit;
    ASSERT_TRUE(m_pBox->SubclassDlgItem(IDC_BOX, s_pParent));
    ::UpdateWindow(s_pParent->m_hWnd);
    m_hDC = ::CreateCompatibleDC(nullptr);
  }
  void TearDown() override {
    delete m_pBox;
    ::DeleteDC(m_hDC);
    if (HWND hWndLeft = ::GetDlgItem(s_pParent->m_hWnd, IDC_BOX)) ::DestroyWindow(hWndLeft);
  }

  CColourAnswer Ask(UINT message) {
    ::SetBkColor(m_hDC, RGB(1, 1, 1));
    ::SetTextColor(m_hDC, RGB(2, 2, 2));
    CColourAnswer answer;
    answer.hBrush = reinterpret_cast<HBRUSH>(
        ::SendMessageA(s_pParent->m_hWnd, message, reinterpret_cast<WPARAM>(m_hDC),
                       reinterpret_cast<LPARAM>(m_pBox->m_hWnd)));
    LOGBRUSH lb = {};
    if (answer.hBrush && ::GetObjectA(answer.hBrush, sizeof(lb), &lb) == sizeof(lb) &&
        lb.lbStyle == BS_SOLID)
      answer.crFill = lb.lbColor;
    answer.crBack = ::GetBkColor(m_hDC);
    answer.crText = ::GetTextColor(m_hDC);
    return answer;
  }

  // Both kinds of control-colour message get the same answer; returns it.
  CColourAnswer AskBoth() {
    CColourAnswer edit = Ask(WM_CTLCOLOREDIT);
    CColourAnswer stat = Ask(WM_CTLCOLORSTATIC);
    EXPECT_EQ(edit.hBrush, stat.hBrush);
    EXPECT_EQ(edit.crBack, stat.crBack);
    EXPECT_EQ(edit.crText, stat.crText);
    return edit;
  }

  // Colours on screen now, without letting any message through: inside the character cells
  // of the leading spaces, and in the empty part of the box to their right.
  void ReadPixels(COLORREF* pcrCells, COLORREF* pcrFill) {
    HWND hWnd = m_pBox->m_hWnd;
    LRESULT lFirst = ::SendMessageA(hWnd, EM_POSFROMCHAR, 0, 0);
    LRESULT lFourth = ::SendMessageA(hWnd, EM_POSFROMCHAR, 3, 0);
    int xCell = (static_cast<short>(LOWORD(lFirst)) + static_cast<short>(LOWORD(lFourth))) / 2;
    int yCell = static_cast<short>(HIWORD(lFirst)) + 3;
    RECT rc;
    ::GetClientRect(hWnd, &rc);
    HDC hDC = ::GetDC(hWnd);
    *pcrCells = ::GetPixel(hDC, xCell, yCell);
    *pcrFill = ::GetPixel(hDC, rc.right - 4, rc.bottom / 2);
    ::ReleaseDC(hWnd, hDC);
  }

  std::string BoxText() {
    char sz[64] = {};
    ::GetWindowTextA(m_pBox->m_hWnd, sz, sizeof(sz));
    return sz;
  }

  bool IsReadOnlyStyle() {
    return (::GetWindowLongPtrA(m_pBox->m_hWnd, GWL_STYLE) & ES_READONLY) != 0;
  }

  static CWnd* s_pParent;
  CColorEdit* m_pBox = nullptr;
  HDC m_hDC = nullptr;
  COLORREF m_crFace = 0;
};

CWnd* ColorEditTest::s_pParent = nullptr;

TEST_F(ColorEditTest, FreshBoxFillsWhiteWithBlackTextOnButtonFaceCells) {
  CColourAnswer answer = AskBoth();
  EXPECT_EQ(answer.crFill, kWhite);
  EXPECT_EQ(answer.crBack, m_crFace);
  EXPECT_EQ(answer.crText, kBlack);

  ::RedrawWindow(m_pBox->m_hWnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
  COLORREF crCells = 0, crFill = 0;
  ReadPixels(&crCells, &crFill);
  EXPECT_EQ(crFill, kWhite);
  EXPECT_EQ(crCells, m_crFace);
}

TEST_F(ColorEditTest, ReadOnlyOnAFreshBoxTurnsItButtonFaceAtOnceAndRefusesTyping) {
  EXPECT_NE(m_pBox->SetReadOnly(TRUE), FALSE);
  COLORREF crCells = 0, crFill = 0;
  ReadPixels(&crCells, &crFill);
  EXPECT_EQ(crFill, m_crFace) << "repainted before SetReadOnly returned";
  EXPECT_EQ(crCells, m_crFace);

  CColourAnswer answer = AskBoth();
  EXPECT_EQ(answer.crFill, m_crFace);
  EXPECT_EQ(answer.crBack, m_crFace);
  EXPECT_EQ(answer.crText, kBlack);

  EXPECT_TRUE(IsReadOnlyStyle());
  ::SendMessageA(m_pBox->m_hWnd, WM_CHAR, 'a', 1);
  EXPECT_EQ(BoxText(), "    ");
}

TEST_F(ColorEditTest, EditableAgainMeansWhiteEverywhereAndTypingWorks) {
  ASSERT_NE(m_pBox->SetReadOnly(TRUE), FALSE);
  EXPECT_NE(m_pBox->SetReadOnly(FALSE), FALSE);
  COLORREF crCells = 0, crFill = 0;
  ReadPixels(&crCells, &crFill);
  EXPECT_EQ(crFill, kWhite);
  EXPECT_EQ(crCells, kWhite);

  CColourAnswer answer = AskBoth();
  EXPECT_EQ(answer.crFill, kWhite);
  EXPECT_EQ(answer.crBack, kWhite) << "white became the background colour";
  EXPECT_FALSE(IsReadOnlyStyle());
  ::SendMessageA(m_pBox->m_hWnd, WM_CHAR, 'a', 1);
  EXPECT_NE(BoxText(), "    ");
}

TEST_F(ColorEditTest, ReadOnlyAfterEditableStaysWhite) {
  ASSERT_NE(m_pBox->SetReadOnly(FALSE), FALSE);
  ASSERT_NE(m_pBox->SetReadOnly(TRUE), FALSE);
  CColourAnswer answer = AskBoth();
  EXPECT_EQ(answer.crFill, kWhite);
  EXPECT_EQ(answer.crBack, kWhite);
  EXPECT_TRUE(IsReadOnlyStyle());
  COLORREF crCells = 0, crFill = 0;
  ReadPixels(&crCells, &crFill);
  EXPECT_EQ(crFill, kWhite);
}

TEST_F(ColorEditTest, NewBackColourReplacesTheBrushAndShowsBeforeReturning) {
  HBRUSH hOld = Ask(WM_CTLCOLOREDIT).hBrush;
  ASSERT_NE(hOld, nullptr);
  const COLORREF crGreen = RGB(20, 200, 40);
  m_pBox->SetBackColor(crGreen);
  EXPECT_EQ(::GetObjectType(hOld), 0u) << "the replaced brush was deleted";
  COLORREF crCells = 0, crFill = 0;
  ReadPixels(&crCells, &crFill);
  EXPECT_EQ(crFill, crGreen);
  EXPECT_EQ(crCells, crGreen);
  CColourAnswer answer = Ask(WM_CTLCOLOREDIT);
  EXPECT_EQ(answer.crFill, crGreen);
  EXPECT_EQ(answer.crBack, crGreen);
  EXPECT_EQ(answer.crText, kBlack);
}

TEST_F(ColorEditTest, DestructorDeletesTheBrushAndDestroysTheWindow) {
  HBRUSH hBrush = Ask(WM_CTLCOLOREDIT).hBrush;
  HWND hWndBox = m_pBox->m_hWnd;
  ASSERT_EQ(::GetObjectType(hBrush), static_cast<DWORD>(OBJ_BRUSH));
  delete m_pBox;
  m_pBox = nullptr;
  EXPECT_EQ(::GetObjectType(hBrush), 0u);
  EXPECT_FALSE(::IsWindow(hWndBox));

  CColorEdit unbound;
  (void)unbound;
}

TEST_F(ColorEditTest, BoxWhoseWindowIsGoneIsDestroyedQuietly) {
  HWND hWndBox = m_pBox->m_hWnd;
  ::DestroyWindow(hWndBox);
  EXPECT_EQ(m_pBox->m_hWnd, nullptr);
  delete m_pBox;
  m_pBox = nullptr;
  EXPECT_EQ(CWnd::FromHandlePermanent(hWndBox), nullptr);
}

}  // namespace
