// The icon button on real windows under Wine: dialog codes, clicks from mouse and keyboard,
// icon ownership, and what it paints (classic look checked by pixels, themed look by the
// calls that reach a fake visual-styles library).
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "common/Canvas.h"
#include "controls/IconButton.h"
#include "controls/ThemeApi.h"
#include "fakes/FakeThemeLibrary.h"
#include "res/resource.h"

namespace {

const int kButtonId = 1000;
const int kWidth = 100;
const int kHeight = 30;
const COLORREF kIconColour = RGB(255, 0, 0);

struct CCommand {
  int nId;
  int nCode;
  HWND hWndFrom;
};
std::vector<CCommand> g_commands;

int CountClicks(int nId = kButtonId) {
  return static_cast<int>(
      std::count_if(g_commands.begin(), g_commands.end(),
                    [&](const CCommand& c) { return c.nId == nId && c.nCode == BN_CLICKED; }));
}

LRESULT CALLBACK ParentProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_COMMAND)
    g_commands.push_back({LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam)});
  return ::DefWindowProcA(hWnd, message, wParam, lParam);
}

HWND CreateParent() {
  static const ATOM s_atom = [] {
    WNDCLASSA wc = {};
    wc.lpfnWndProc = ParentProc;
    wc.hInstance = ::GetModuleHandleA(nullptr);
    wc.lpszClassName = "ControlsIconButtonParent";
    return ::RegisterClassA(&wc);
  }();
  (void)s_atom;
  return ::CreateWindowExA(0, "ControlsIconButtonParent", "parent", WS_OVERLAPPEDWINDOW, 20, 20,
                           300, 200, nullptr, nullptr, ::GetModuleHandleA(nullptr), nullptr);
}

// A 16 x 16 icon, opaque, all of one colour.
HICON CreateSolidIcon(COLORREF colour, int nSize = 16) {
  HDC hScreen = ::GetDC(nullptr);
  HBITMAP hColour = ::CreateCompatibleBitmap(hScreen, nSize, nSize);
  HDC hMem = ::CreateCompatibleDC(hScreen);
  HGDIOBJ hOld = ::SelectObject(hMem, hColour);
  HBRUSH hBrush = ::CreateSolidBrush(colour);
  RECT rc = {0, 0, nSize, nSize};
  ::FillRect(hMem, &rc, hBrush);
  ::DeleteObject(hBrush);
  ::SelectObject(hMem, hOld);
  ::DeleteDC(hMem);
  ::ReleaseDC(nullptr, hScreen);
  std::vector<BYTE> zeros(static_cast<size_t>(nSize * nSize), 0);
  HBITMAP hMask = ::CreateBitmap(nSize, nSize, 1, 1, zeros.data());
  ICONINFO info = {TRUE, 0, 0, hMask, hColour};
  HICON hIcon = ::CreateIconIndirect(&info);
  ::DeleteObject(hColour);
  ::DeleteObject(hMask);
  return hIcon;
}

// A 16 x 16 icon whose every pixel is transparent: painting with it leaves what the button
// drew under its icon, in the same layout as with a real icon.
HICON CreateInvisibleIcon() {
  std::vector<BYTE> ones(16 * 2, 0xFF);
  std::vector<BYTE> zeros(16 * 2, 0);
  HBITMAP hMask = ::CreateBitmap(16, 16, 1, 1, ones.data());
  HBITMAP hColour = ::CreateBitmap(16, 16, 1, 1, zeros.data());
  ICONINFO info = {TRUE, 0, 0, hMask, hColour};
  HICON hIcon = ::CreateIconIndirect(&info);
  ::DeleteObject(hColour);
  ::DeleteObject(hMask);
  return hIcon;
}

// What an icon resource of this program holds, pixel by pixel: which pixels its mask makes
// transparent, and the colour of the others.
struct CIconPixels {
  int nWidth = 0;
  int nHeight = 0;
  std::vector<bool> transparent;
  std::vector<COLORREF> colour;
};

CIconPixels ReadResourceIcon(UINT nId) {
  CIconPixels icon;
  HICON hIcon = static_cast<HICON>(::LoadImageA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(nId),
                                                IMAGE_ICON, 0, 0, LR_DEFAULTCOLOR));
  ICONINFO info = {};
  if (!hIcon || !::GetIconInfo(hIcon, &info)) return icon;
  BITMAP bm = {};
  if (info.hbmColor && ::GetObjectA(info.hbmColor, sizeof bm, &bm)) {
    icon.nWidth = bm.bmWidth;
    icon.nHeight = bm.bmHeight;
    const size_t n = static_cast<size_t>(bm.bmWidth * bm.bmHeight);
    struct {
      BITMAPINFOHEADER header;
      RGBQUAD colours[2];
    } bmi = {};
    bmi.header.biSize = sizeof bmi.header;
    bmi.header.biWidth = bm.bmWidth;
    bmi.header.biHeight = -bm.bmHeight;
    bmi.header.biPlanes = 1;
    bmi.header.biBitCount = 32;
    bmi.header.biCompression = BI_RGB;
    std::vector<DWORD> colour(n);
    HDC hDC = ::GetDC(nullptr);
    ::GetDIBits(hDC, info.hbmColor, 0, static_cast<UINT>(bm.bmHeight), colour.data(),
                reinterpret_cast<BITMAPINFO*>(&bmi), DIB_RGB_COLORS);
    // The mask as one bit a pixel, rows padded to 32 bits; a set bit is transparent.
    const int nStride = (bm.bmWidth + 31) / 32 * 4;
    std::vector<BYTE> mask(static_cast<size_t>(nStride * bm.bmHeight));
    bmi.header.biBitCount = 1;
    ::GetDIBits(hDC, info.hbmMask, 0, static_cast<UINT>(bm.bmHeight), mask.data(),
                reinterpret_cast<BITMAPINFO*>(&bmi), DIB_RGB_COLORS);
    ::ReleaseDC(nullptr, hDC);
    for (int y = 0; y < bm.bmHeight; ++y)
      for (int x = 0; x < bm.bmWidth; ++x) {
        const DWORD px = colour[static_cast<size_t>(y * bm.bmWidth + x)];
        icon.colour.push_back(RGB((px >> 16) & 0xFF, (px >> 8) & 0xFF, px & 0xFF));
        icon.transparent.push_back((mask[static_cast<size_t>(y * nStride + x / 8)] << (x % 8)) &
                                   0x80);
      }
  }
  if (info.hbmColor) ::DeleteObject(info.hbmColor);
  if (info.hbmMask) ::DeleteObject(info.hbmMask);
  ::DestroyIcon(hIcon);
  return icon;
}

bool IsIconAlive(HICON hIcon) {
  ICONINFO info;
  if (!::GetIconInfo(hIcon, &info)) return false;
  if (info.hbmColor) ::DeleteObject(info.hbmColor);
  if (info.hbmMask) ::DeleteObject(info.hbmMask);
  return true;
}

::testing::AssertionResult RectIs(const RECT& rc, LONG l, LONG t, LONG r, LONG b) {
  if (rc.left == l && rc.top == t && rc.right == r && rc.bottom == b)
    return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure()
         << "rect (" << rc.left << "," << rc.top << ")-(" << rc.right << "," << rc.bottom
         << "), expected (" << l << "," << t << ")-(" << r << "," << b << ")";
}

class IconButtonTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_commands.clear();
    m_hWndParent = CreateParent();
    ASSERT_NE(m_hWndParent, nullptr);
  }
  void TearDown() override {
    m_buttons.clear();
    ::DestroyWindow(m_hWndParent);
  }

  CIconButton& MakeButton(DWORD dwType = BS_PUSHBUTTON, const char* pszCaption = "Read",
                          int nWidth = kWidth, int nHeight = kHeight, int nId = kButtonId) {
    HWND hWnd =
        ::CreateWindowExA(0, "BUTTON", pszCaption, WS_CHILD | WS_VISIBLE | dwType, 10, 10, nWidth,
                          nHeight, m_hWndParent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(nId)),
                          ::GetModuleHandleA(nullptr), nullptr);
    m_buttons.push_back(std::make_unique<CIconButton>());
    CIconButton& button = *m_buttons.back();
    EXPECT_TRUE(button.SubclassWindow(hWnd));
    return button;
  }

  // Paints the button with each of the program's own button icons and checks the icon's
  // pixels against what the button paints beneath it.
  void ExpectResourceIconsTransparent(CIconButton& button);

  static void Paint(CIconButton& button, CCanvas& canvas, UINT nState, int nWidth = kWidth,
                    int nHeight = kHeight) {
    DRAWITEMSTRUCT dis = {};
    dis.CtlType = ODT_BUTTON;
    dis.CtlID = static_cast<UINT>(button.GetDlgCtrlID());
    dis.itemAction = ODA_DRAWENTIRE;
    dis.itemState = nState;
    dis.hwndItem = button.m_hWnd;
    dis.hDC = canvas.m_hDC;
    dis.rcItem = RECT{0, 0, nWidth, nHeight};
    button.DrawItem(&dis);
  }

  HWND m_hWndParent = nullptr;
  std::vector<std::unique_ptr<CIconButton>> m_buttons;
};

// ---------------------------------------------------------------------------------------
// Towards the dialog manager

TEST_F(IconButtonTest, BecomesOwnerDrawnAndReportsPushButtonDialogCodes) {
  CIconButton& push = MakeButton(BS_PUSHBUTTON);
  CIconButton& def = MakeButton(BS_DEFPUSHBUTTON, "EXIT", kWidth, kHeight, 2);
  CIconButton& check = MakeButton(BS_AUTOCHECKBOX, "Check", kWidth, kHeight, 3);

  EXPECT_EQ(push.GetStyle() & 0x0F, static_cast<DWORD>(BS_OWNERDRAW));
  EXPECT_EQ(def.GetStyle() & 0x0F, static_cast<DWORD>(BS_OWNERDRAW));

  MSG tab = {push.m_hWnd, WM_KEYDOWN, VK_TAB, 0, 0, {0, 0}};
  MSG enter = {push.m_hWnd, WM_KEYDOWN, VK_RETURN, 0, 0, {0, 0}};
  EXPECT_EQ(push.SendMessage(WM_GETDLGCODE), 0x24);
  EXPECT_EQ(push.SendMessage(WM_GETDLGCODE, VK_RETURN, reinterpret_cast<LPARAM>(&enter)), 0x24);
  EXPECT_EQ(push.SendMessage(WM_GETDLGCODE, VK_TAB, reinterpret_cast<LPARAM>(&tab)), 0x20);
  MSG escape = {push.m_hWnd, WM_KEYDOWN, VK_ESCAPE, 0, 0, {0, 0}};
  EXPECT_EQ(push.SendMessage(WM_GETDLGCODE, VK_ESCAPE, reinterpret_cast<LPARAM>(&escape)), 0x20);
  EXPECT_EQ(def.SendMessage(WM_GETDLGCODE), 0x14);
  EXPECT_EQ(def.SendMessage(WM_GETDLGCODE, VK_TAB, reinterpret_cast<LPARAM>(&tab)), 0x10);
  // Not a push button when bound: no push-button bit at all.
  EXPECT_EQ(check.SendMessage(WM_GETDLGCODE), DLGC_WANTALLKEYS);
}

// What the standard control below the button is asked: recorded between the two.
WNDPROC g_pfnButtonProc = nullptr;
std::vector<WPARAM> g_setStyles;
LRESULT CALLBACK RecordingButtonProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == BM_SETSTYLE) g_setStyles.push_back(wParam);
  return ::CallWindowProcA(g_pfnButtonProc, hWnd, message, wParam, lParam);
}

TEST_F(IconButtonTest, SetStyleKeepsOwnerDrawAndTracksTheDefaultStatus) {
  HWND hWnd = ::CreateWindowExA(0, "BUTTON", "Read", WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON, 10, 10,
                                kWidth, kHeight, m_hWndParent,
                                reinterpret_cast<HMENU>(static_cast<INT_PTR>(kButtonId)),
                                ::GetModuleHandleA(nullptr), nullptr);
  g_pfnButtonProc = reinterpret_cast<WNDPROC>(
      ::SetWindowLongPtrA(hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&RecordingButtonProc)));
  g_setStyles.clear();
  CIconButton button;
  ASSERT_TRUE(button.SubclassWindow(hWnd));

  button.SendMessage(BM_SETSTYLE, BS_DEFPUSHBUTTON | BS_MULTILINE, TRUE);
  EXPECT_EQ(button.GetStyle() & 0x0F, static_cast<DWORD>(BS_OWNERDRAW));
  EXPECT_EQ(button.SendMessage(WM_GETDLGCODE), 0x14);

  button.SendMessage(BM_SETSTYLE, BS_PUSHBUTTON | BS_MULTILINE, TRUE);
  EXPECT_EQ(button.GetStyle() & 0x0F, static_cast<DWORD>(BS_OWNERDRAW));
  EXPECT_EQ(button.SendMessage(WM_GETDLGCODE), 0x24);

  // Another type leaves the default status alone.
  button.SendMessage(BM_SETSTYLE, BS_DEFPUSHBUTTON, TRUE);
  button.SendMessage(BM_SETSTYLE, BS_CHECKBOX, TRUE);
  EXPECT_EQ(button.GetStyle() & 0x0F, static_cast<DWORD>(BS_OWNERDRAW));
  EXPECT_EQ(button.SendMessage(WM_GETDLGCODE), 0x14);

  // The control itself only ever hears of owner-draw, with the flags above the type kept.
  const std::vector<WPARAM> expected = {BS_OWNERDRAW | BS_MULTILINE, BS_OWNERDRAW | BS_MULTILINE,
                                        BS_OWNERDRAW, BS_OWNERDRAW};
  EXPECT_EQ(g_setStyles, expected);
  button.UnsubclassWindow();
  ::DestroyWindow(hWnd);
}

// ---------------------------------------------------------------------------------------
// Clicks

TEST_F(IconButtonTest, DoubleClickGivesTwoClicksAndLeavesNothingPending) {
  CIconButton& button = MakeButton();
  const LPARAM pt = MAKELPARAM(10, 10);

  button.SendMessage(WM_LBUTTONDOWN, MK_LBUTTON, pt);
  button.SendMessage(WM_LBUTTONUP, 0, pt);
  EXPECT_EQ(CountClicks(), 1);
  button.SendMessage(WM_LBUTTONDBLCLK, MK_LBUTTON, pt);
  EXPECT_TRUE(button.SendMessage(BM_GETSTATE) & BST_PUSHED) << "the double-click shows the press";
  EXPECT_EQ(CountClicks(), 1);
  button.SendMessage(WM_LBUTTONUP, 0, pt);
  EXPECT_EQ(CountClicks(), 2);
  EXPECT_FALSE(button.SendMessage(BM_GETSTATE) & BST_PUSHED);
  EXPECT_NE(::GetCapture(), button.m_hWnd);

  ASSERT_EQ(g_commands.size(), 2u);
  EXPECT_EQ(g_commands[1].hWndFrom, button.m_hWnd);

  button.SendMessage(WM_LBUTTONUP, 0, pt);
  EXPECT_EQ(CountClicks(), 2) << "a stray release clicks nothing";
}

TEST_F(IconButtonTest, PressReleasedOutsideTheButtonTakesTheClickBack) {
  CIconButton& button = MakeButton();
  const LPARAM inside = MAKELPARAM(10, 10);
  const LPARAM outside = MAKELPARAM(kWidth + 20, 10);
  const LPARAM leftOfIt = MAKELPARAM(-20, 10);

  // A single press dragged off and let go there.
  button.SendMessage(WM_LBUTTONDOWN, MK_LBUTTON, inside);
  button.SendMessage(WM_MOUSEMOVE, MK_LBUTTON, outside);
  button.SendMessage(WM_LBUTTONUP, 0, outside);
  EXPECT_EQ(CountClicks(), 0);
  EXPECT_FALSE(button.SendMessage(BM_GETSTATE) & BST_PUSHED);

  // The double-click's press, dragged off to either side and let go there.
  for (LPARAM away : {outside, leftOfIt}) {
    g_commands.clear();
    button.SendMessage(WM_LBUTTONDOWN, MK_LBUTTON, inside);
    button.SendMessage(WM_LBUTTONUP, 0, inside);
    button.SendMessage(WM_LBUTTONDBLCLK, MK_LBUTTON, inside);
    button.SendMessage(WM_MOUSEMOVE, MK_LBUTTON, away);
    button.SendMessage(WM_LBUTTONUP, 0, away);
    EXPECT_EQ(CountClicks(), 1) << "only the first click of the double-click";
    EXPECT_FALSE(button.SendMessage(BM_GETSTATE) & BST_PUSHED);
    EXPECT_NE(::GetCapture(), button.m_hWnd);
    button.SendMessage(WM_LBUTTONUP, 0, inside);
    EXPECT_EQ(CountClicks(), 1) << "nothing left pending for a later release";
  }

  // Dragged off and back in before letting go: the second click stands.
  g_commands.clear();
  button.SendMessage(WM_LBUTTONDBLCLK, MK_LBUTTON, inside);
  button.SendMessage(WM_MOUSEMOVE, MK_LBUTTON, outside);
  button.SendMessage(WM_MOUSEMOVE, MK_LBUTTON, inside);
  button.SendMessage(WM_LBUTTONUP, 0, inside);
  EXPECT_EQ(CountClicks(), 1);
  ::ReleaseCapture();
}

TEST_F(IconButtonTest, EnterClicksOnceAtOnceAndItsPressEndsAtKeyRelease) {
  CIconButton& button = MakeButton();
  const LPARAM down = 0x001C0001;
  const LPARAM repeat = 0x401C0001;
  const LPARAM up = static_cast<LPARAM>(0xC01C0001u);

  button.SendMessage(WM_KEYDOWN, VK_RETURN, down);
  EXPECT_EQ(CountClicks(), 0);
  button.SendMessage(WM_CHAR, VK_RETURN, down);
  EXPECT_EQ(CountClicks(), 1) << "the click goes out on the character, before key release";
  ASSERT_EQ(g_commands.size(), 1u);
  EXPECT_EQ(g_commands[0].hWndFrom, button.m_hWnd);
  EXPECT_TRUE(button.SendMessage(BM_GETSTATE) & BST_PUSHED);

  button.SendMessage(WM_KEYDOWN, VK_RETURN, repeat);
  button.SendMessage(WM_CHAR, VK_RETURN, repeat);
  EXPECT_EQ(CountClicks(), 1) << "auto-repeat is the same key press";

  button.SendMessage(WM_KEYUP, VK_RETURN, up);
  EXPECT_FALSE(button.SendMessage(BM_GETSTATE) & BST_PUSHED);
  EXPECT_EQ(CountClicks(), 1);

  button.SendMessage(WM_LBUTTONUP, 0, MAKELPARAM(10, 10));
  EXPECT_EQ(CountClicks(), 1) << "no click left pending for a mouse release";
}

TEST_F(IconButtonTest, EnterPressEndsWhenTheFocusLeavesBeforeKeyRelease) {
  CIconButton& button = MakeButton();
  button.SendMessage(WM_CHAR, VK_RETURN, 0x001C0001);
  EXPECT_TRUE(button.SendMessage(BM_GETSTATE) & BST_PUSHED);
  button.SendMessage(WM_KILLFOCUS, 0, 0);
  EXPECT_FALSE(button.SendMessage(BM_GETSTATE) & BST_PUSHED);
  button.SendMessage(WM_LBUTTONUP, 0, MAKELPARAM(10, 10));
  EXPECT_EQ(CountClicks(), 1);
}

TEST_F(IconButtonTest, SpaceClicksOnceOnKeyRelease) {
  CIconButton& button = MakeButton();
  ::SetFocus(button.m_hWnd);

  button.SendMessage(WM_KEYDOWN, VK_SPACE, 0x00390001);
  button.SendMessage(WM_CHAR, VK_SPACE, 0x00390001);
  EXPECT_EQ(CountClicks(), 0);
  EXPECT_TRUE(button.SendMessage(BM_GETSTATE) & BST_PUSHED);
  button.SendMessage(WM_KEYUP, VK_SPACE, static_cast<LPARAM>(0xC0390001u));
  EXPECT_EQ(CountClicks(), 1);
  EXPECT_FALSE(button.SendMessage(BM_GETSTATE) & BST_PUSHED);

  button.SendMessage(WM_LBUTTONUP, 0, MAKELPARAM(10, 10));
  EXPECT_EQ(CountClicks(), 1) << "no click left pending for a mouse release";
}

// ---------------------------------------------------------------------------------------
// Inside a real dialog: the dialog manager's keyboard handling with these dialog codes

// A modeless dialog made in memory: a hidden default OK button and two push buttons.
class CDialogTemplate {
 public:
  CDialogTemplate() {
    Dword(WS_POPUP | WS_VISIBLE | WS_CAPTION | DS_SETFONT);
    Dword(0);
    m_words.push_back(3);
    m_words.insert(m_words.end(), {0, 0, 160, 60, 0, 0});
    Text("dialog");
    m_words.push_back(8);
    Text("MS Shell Dlg");
    Item(BS_DEFPUSHBUTTON | WS_DISABLED, 100, 5, 50, 14, IDOK, "OK");
    Item(BS_PUSHBUTTON | WS_TABSTOP | WS_VISIBLE, 5, 30, 60, 20, 1000, "Read");
    Item(BS_PUSHBUTTON | WS_TABSTOP | WS_VISIBLE, 70, 30, 60, 20, 1001, "Program");
  }
  LPCDLGTEMPLATE Get() const { return reinterpret_cast<LPCDLGTEMPLATE>(m_words.data()); }

 private:
  void Dword(DWORD dw) { m_words.insert(m_words.end(), {LOWORD(dw), HIWORD(dw)}); }
  void Text(const char* psz) {
    for (; *psz; ++psz) m_words.push_back(static_cast<BYTE>(*psz));
    m_words.push_back(0);
  }
  void Item(DWORD dwStyle, short x, short y, short cx, short cy, WORD id, const char* pszText) {
    if (m_words.size() % 2) m_words.push_back(0);
    Dword(dwStyle | WS_CHILD);
    Dword(0);
    m_words.insert(m_words.end(), {WORD(x), WORD(y), WORD(cx), WORD(cy), id, 0xFFFF, 0x0080});
    Text(pszText);
    m_words.push_back(0);
  }
  std::vector<WORD> m_words;
};

INT_PTR CALLBACK DialogProc(HWND, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) return TRUE;
  if (message == WM_COMMAND) {
    g_commands.push_back({LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam)});
    return TRUE;
  }
  return FALSE;
}

void PumpDialog(HWND hDlg) {
  MSG msg;
  while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (!::IsDialogMessageA(hDlg, &msg)) {
      ::TranslateMessage(&msg);
      ::DispatchMessageA(&msg);
    }
  }
}

void PressKey(HWND hDlg, HWND hWndFocus, WPARAM vk, UINT nScan) {
  ::PostMessageA(hWndFocus, WM_KEYDOWN, vk, MAKELPARAM(1, nScan));
  PumpDialog(hDlg);
  ::PostMessageA(hWndFocus, WM_KEYUP, vk,
                 static_cast<LPARAM>(0xC0000001u | (static_cast<DWORD>(nScan) << 16)));
  PumpDialog(hDlg);
}

TEST(IconButtonInDialog, KeysTabAndDefaultStatusWithTheDialogManager) {
  g_commands.clear();
  CDialogTemplate tmpl;
  HWND hDlg =
      ::CreateDialogIndirectParamA(::GetModuleHandleA(nullptr), tmpl.Get(), nullptr, DialogProc, 0);
  ASSERT_NE(hDlg, nullptr);
  CIconButton read;
  CIconButton program;
  ASSERT_TRUE(read.SubclassWindow(::GetDlgItem(hDlg, 1000)));
  ASSERT_TRUE(program.SubclassWindow(::GetDlgItem(hDlg, 1001)));
  PumpDialog(hDlg);

  ::SendMessageA(hDlg, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(read.m_hWnd), TRUE);
  PumpDialog(hDlg);
  ASSERT_EQ(::GetFocus(), read.m_hWnd);
  EXPECT_EQ(read.SendMessage(WM_GETDLGCODE), 0x14) << "the focused push button is the default";
  EXPECT_EQ(read.GetStyle() & 0x0F, static_cast<DWORD>(BS_OWNERDRAW));

  PressKey(hDlg, read.m_hWnd, VK_RETURN, 0x1C);
  EXPECT_EQ(CountClicks(1000), 1);
  EXPECT_EQ(CountClicks(IDOK), 0) << "Enter on the button is the button's, not the dialog's";
  EXPECT_FALSE(read.SendMessage(BM_GETSTATE) & BST_PUSHED);

  PressKey(hDlg, read.m_hWnd, VK_SPACE, 0x39);
  EXPECT_EQ(CountClicks(1000), 2);
  EXPECT_FALSE(read.SendMessage(BM_GETSTATE) & BST_PUSHED);

  PressKey(hDlg, read.m_hWnd, VK_TAB, 0x0F);
  EXPECT_EQ(::GetFocus(), program.m_hWnd) << "Tab still moves the focus";
  EXPECT_EQ(program.SendMessage(WM_GETDLGCODE), 0x14);
  EXPECT_EQ(read.SendMessage(WM_GETDLGCODE), 0x24);
  EXPECT_EQ(read.GetStyle() & 0x0F, static_cast<DWORD>(BS_OWNERDRAW));
  EXPECT_EQ(program.GetStyle() & 0x0F, static_cast<DWORD>(BS_OWNERDRAW));

  PressKey(hDlg, program.m_hWnd, VK_RETURN, 0x1C);
  EXPECT_EQ(CountClicks(1001), 1);
  EXPECT_EQ(CountClicks(1000), 2);
  EXPECT_EQ(static_cast<int>(g_commands.size()), 3);

  PressKey(hDlg, program.m_hWnd, VK_ESCAPE, 0x01);
  ASSERT_EQ(static_cast<int>(g_commands.size()), 4);
  EXPECT_EQ(g_commands[3].nId, IDCANCEL) << "Escape on a focused icon button cancels the dialog";
  EXPECT_EQ(CountClicks(1001), 1);
  ::DestroyWindow(hDlg);
}

// ---------------------------------------------------------------------------------------
// Icon ownership and hover

TEST_F(IconButtonTest, SecondSetIconFreesTheFirstAndTheButtonFreesTheLast) {
  HICON hFirst = CreateSolidIcon(kIconColour);
  HICON hSecond = CreateSolidIcon(RGB(0, 0, 255));
  {
    CIconButton& button = MakeButton();
    button.SetIcon(hFirst, 1);
    EXPECT_TRUE(IsIconAlive(hFirst));
    button.SetIcon(hSecond, 1);
    EXPECT_FALSE(IsIconAlive(hFirst));
    EXPECT_TRUE(IsIconAlive(hSecond));
    m_buttons.clear();
  }
  EXPECT_FALSE(IsIconAlive(hSecond));
}

TEST_F(IconButtonTest, MissingIconResourceReplacesTheIconWithNone) {
  HICON hIcon = CreateSolidIcon(kIconColour);
  CIconButton& button = MakeButton();
  button.SetIcon(hIcon, 1);
  button.SetIcon(4711u, 1);
  EXPECT_FALSE(IsIconAlive(hIcon));

  // Painted as a button without icon: caption centred across, no icon colour anywhere.
  CCanvas canvas(kWidth, kHeight);
  Paint(button, canvas, 0);
  EXPECT_EQ(canvas.Count(kIconColour, canvas.Whole()), 0);
}

TEST_F(IconButtonTest, HoverCapturesTheMouseUntilTheCursorLeaves) {
  CIconButton& button = MakeButton();
  button.SendMessage(WM_MOUSEMOVE, 0, MAKELPARAM(5, 5));
  EXPECT_EQ(::GetCapture(), button.m_hWnd);
  button.SendMessage(WM_MOUSEMOVE, 0, MAKELPARAM(kWidth, 5));  // the right edge is outside
  EXPECT_NE(::GetCapture(), button.m_hWnd);
  button.SendMessage(WM_MOUSEMOVE, 0, MAKELPARAM(kWidth - 1, kHeight - 1));
  EXPECT_EQ(::GetCapture(), button.m_hWnd);
  button.SendMessage(WM_MOUSEMOVE, 0, MAKELPARAM(-1, 5));
  EXPECT_NE(::GetCapture(), button.m_hWnd);
}

TEST_F(IconButtonTest, LeavingWhileTheMouseButtonIsDownKeepsThePressAlive) {
  CIconButton& button = MakeButton();
  button.SendMessage(WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
  button.SendMessage(WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(200, 5));
  EXPECT_EQ(::GetCapture(), button.m_hWnd);
  button.SendMessage(WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(5, 5));
  button.SendMessage(WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
  EXPECT_EQ(CountClicks(), 1) << "dragged out and back in, released inside";
}

TEST_F(IconButtonTest, EraseBackgroundErasesNothing) {
  CIconButton& button = MakeButton();
  CCanvas canvas(kWidth, kHeight);
  EXPECT_EQ(button.SendMessage(WM_ERASEBKGND, reinterpret_cast<WPARAM>(canvas.m_hDC)), TRUE);
  EXPECT_EQ(canvas.Count(kUntouched, canvas.Whole()), kWidth * kHeight);
}

// ---------------------------------------------------------------------------------------
// Classic look, by pixels

class IconButtonClassicPaint : public IconButtonTest {
 protected:
  void SetUp() override {
    IconButtonTest::SetUp();
    ASSERT_FALSE(CThemeApi::IsLoaded()) << "no CThemeApi instance may be alive here";
    m_pButton = &MakeButton();
    m_pButton->SetIcon(CreateSolidIcon(kIconColour), 1);
    m_face = ::GetSysColor(COLOR_BTNFACE);
    m_text = ::GetSysColor(COLOR_BTNTEXT);
  }

  // The caption's pixels, away from frame and icon.
  static RECT TextArea() { return RECT{26, 3, kWidth - 3, kHeight - 3}; }

  // Height of one line of the caption in the font the button paints with (the parent has none).
  static int LineHeight() {
    HDC hDC = ::CreateCompatibleDC(nullptr);
    RECT rc = {0, 0, 1000, 1000};
    const int n = ::DrawTextA(hDC, "Read", -1, &rc, DT_CALCRECT | DT_WORDBREAK);
    ::DeleteDC(hDC);
    return n;
  }

  CIconButton* m_pButton = nullptr;
  COLORREF m_face = 0;
  COLORREF m_text = 0;
};

TEST_F(IconButtonClassicPaint, NormalFaceIconAtEightCentredAndCaptionFromThirtyTwo) {
  CCanvas canvas(kWidth, kHeight);
  Paint(*m_pButton, canvas, 0);

  EXPECT_EQ(canvas.Count(kUntouched, canvas.Whole()), 0) << "the whole button is painted";
  EXPECT_EQ(canvas.At(50, 3), m_face);
  EXPECT_EQ(canvas.At(kWidth - 6, kHeight / 2), m_face);
  EXPECT_TRUE(RectIs(canvas.Find(kIconColour, canvas.Whole()), 8, 7, 24, 23));

  const RECT rcText = canvas.Find(m_text, TextArea());
  ASSERT_LT(rcText.left, rcText.right) << "caption not found";
  EXPECT_GE(rcText.left, 32);
  EXPECT_LE(rcText.left, 34);
  const int nTop = (kHeight - LineHeight()) / 2;
  EXPECT_GE(rcText.top, nTop);
  EXPECT_LE(rcText.bottom, nTop + LineHeight());

  EXPECT_NE(canvas.At(0, 0), RGB(0, 0, 0)) << "no focus frame";
  EXPECT_EQ(canvas.Count(m_face, RECT{26, 4, 90, 5}), 64) << "no focus rectangle";
}

TEST_F(IconButtonClassicPaint, PressedIsFlatAndShiftsIconAndCaptionByOnePixel) {
  CCanvas normal(kWidth, kHeight);
  Paint(*m_pButton, normal, 0);
  CCanvas pressed(kWidth, kHeight);
  Paint(*m_pButton, pressed, ODS_SELECTED);

  const COLORREF shadow = ::GetSysColor(COLOR_BTNSHADOW);
  EXPECT_EQ(pressed.At(0, 0), shadow);
  EXPECT_EQ(pressed.At(kWidth - 1, kHeight - 1), shadow);
  EXPECT_EQ(pressed.At(1, 1), m_face);
  EXPECT_TRUE(RectIs(pressed.Find(kIconColour, pressed.Whole()), 9, 8, 25, 24));

  RECT rcNormal = normal.Find(m_text, TextArea());
  ::OffsetRect(&rcNormal, 1, 1);
  const RECT rcPressed = pressed.Find(m_text, TextArea());
  EXPECT_TRUE(RectIs(rcPressed, rcNormal.left, rcNormal.top, rcNormal.right, rcNormal.bottom));
}

TEST_F(IconButtonClassicPaint, FocusedHasBlackFrameAndDottedRectangle) {
  CCanvas canvas(kWidth, kHeight);
  Paint(*m_pButton, canvas, ODS_FOCUS);
  const COLORREF black = RGB(0, 0, 0);
  EXPECT_EQ(canvas.At(0, 0), black);
  EXPECT_EQ(canvas.At(0, kHeight / 2), black);
  EXPECT_EQ(canvas.At(kWidth / 2, 0), black);
  EXPECT_EQ(canvas.At(kWidth / 2, kHeight - 1), black);

  // The dotted rectangle runs 4 pixels inside the edge: rows 4 and 25, columns 4 and 95.
  const int nDotsTop = 64 - canvas.Count(m_face, RECT{26, 4, 90, 5});
  EXPECT_GE(nDotsTop, 28);
  EXPECT_LE(nDotsTop, 36);
  const int nDotsBottom = 64 - canvas.Count(m_face, RECT{26, 25, 90, 26});
  EXPECT_GE(nDotsBottom, 28);
  EXPECT_LE(nDotsBottom, 36);
  EXPECT_EQ(canvas.Count(m_face, RECT{26, 3, 90, 4}), 64);
  EXPECT_EQ(canvas.Count(m_face, RECT{26, 5, 90, 6}), 64);
  EXPECT_LT(canvas.Count(m_face, RECT{95, 8, 96, 22}), 14);

  CCanvas noRect(kWidth, kHeight);
  Paint(*m_pButton, noRect, ODS_FOCUS | ODS_NOFOCUSRECT);
  EXPECT_EQ(noRect.At(0, 0), black);
  EXPECT_EQ(noRect.Count(m_face, RECT{26, 4, 90, 5}), 64);
}

TEST_F(IconButtonClassicPaint, DisabledGreysTheIconAndEmbossesTheCaption) {
  CCanvas normal(kWidth, kHeight);
  Paint(*m_pButton, normal, 0);
  CCanvas canvas(kWidth, kHeight);
  Paint(*m_pButton, canvas, ODS_DISABLED);

  EXPECT_EQ(canvas.Count(kIconColour, canvas.Whole()), 0);
  EXPECT_GT(64 * 3 - canvas.Count(m_face, RECT{8, 7, 24, 23}), 0) << "the greyed icon is drawn";
  EXPECT_EQ(canvas.Count(m_text, TextArea()), 0);

  const RECT rcNormal = normal.Find(m_text, TextArea());
  const RECT rcShadow = canvas.Find(::GetSysColor(COLOR_BTNSHADOW), TextArea());
  const RECT rcLight = canvas.Find(::GetSysColor(COLOR_BTNHIGHLIGHT), TextArea());
  EXPECT_TRUE(RectIs(rcShadow, rcNormal.left, rcNormal.top, rcNormal.right, rcNormal.bottom));
  EXPECT_EQ(rcLight.right, rcShadow.right + 1);
  EXPECT_EQ(rcLight.bottom, rcShadow.bottom + 1);
}

TEST_F(IconButtonClassicPaint, IconWithoutCaptionIsCentredBothWays) {
  m_pButton->SetWindowText("");
  CCanvas canvas(kWidth, kHeight);
  Paint(*m_pButton, canvas, 0);
  EXPECT_TRUE(RectIs(canvas.Find(kIconColour, canvas.Whole()), 42, 7, 58, 23));
  EXPECT_EQ(canvas.Count(m_text, TextArea()), 0);
}

TEST_F(IconButtonClassicPaint, CaptionWithoutIconIsCentredAcrossWithoutMeasuring) {
  m_pButton->SetIcon(static_cast<HICON>(nullptr), 1);
  CCanvas canvas(kWidth, kHeight);
  Paint(*m_pButton, canvas, 0);
  const RECT rcText = canvas.Find(m_text, RECT{3, 0, kWidth - 3, kHeight - 3});
  ASSERT_LT(rcText.left, rcText.right);
  EXPECT_NEAR((rcText.left + rcText.right) / 2, kWidth / 2, 2);
  // DT_VCENTER does nothing without DT_SINGLELINE: the caption stays at the top.
  EXPECT_LT(rcText.top, (kHeight - LineHeight()) / 2);
}

TEST_F(IconButtonClassicPaint, HoverChangesNothingInTheClassicLook) {
  CCanvas before(kWidth, kHeight);
  Paint(*m_pButton, before, 0);
  m_pButton->SendMessage(WM_MOUSEMOVE, 0, MAKELPARAM(5, 5));
  CCanvas hot(kWidth, kHeight);
  Paint(*m_pButton, hot, 0);
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x) ASSERT_EQ(before.At(x, y), hot.At(x, y)) << x << "," << y;
  ::ReleaseCapture();
}

TEST_F(IconButtonTest, ImagePlacementForBothAlignmentsAndOversizedIcons) {
  CIconButton& left = MakeButton();
  left.SetIcon(static_cast<HICON>(nullptr), 1);
  const RECT rcItem = {0, 0, 100, 30};
  RECT rcText = rcItem;
  EXPECT_TRUE(RectIs(left.PrepareImageRect(TRUE, rcItem, &rcText, FALSE, 16, 16), 8, 7, 100, 30));
  EXPECT_TRUE(RectIs(rcText, 32, 0, 92, 30));
  rcText = rcItem;
  EXPECT_TRUE(RectIs(left.PrepareImageRect(TRUE, rcItem, &rcText, TRUE, 16, 16), 9, 8, 101, 31));

  CIconButton& right = MakeButton(BS_PUSHBUTTON, "Read", kWidth, kHeight, 1001);
  right.SetIcon(static_cast<HICON>(nullptr), 2);
  rcText = rcItem;
  EXPECT_TRUE(RectIs(right.PrepareImageRect(TRUE, rcItem, &rcText, FALSE, 15, 15), 78, 7, 100, 30));
  EXPECT_TRUE(RectIs(rcText, 7, 0, 78, 30));

  // Larger than the button: overhangs equally on both sides, the halves truncating to zero.
  const RECT rcSmall = {0, 0, 30, 29};
  rcText = rcSmall;
  EXPECT_TRUE(
      RectIs(left.PrepareImageRect(FALSE, rcSmall, &rcText, FALSE, 40, 40), -5, -5, 30, 29));
  EXPECT_TRUE(RectIs(rcText, 0, 0, 30, 29)) << "without text the text rectangle stays";
}

// Wine ships a visual-styles library and runs themed: the real one paints icon and caption.
TEST_F(IconButtonTest, RealVisualStylesLibraryPaintsIconAndCaption) {
  CThemeApi::SetLoader(nullptr);
  CThemeApi api;
  ASSERT_TRUE(CThemeApi::IsLoaded());
  CIconButton& button = MakeButton();
  button.SetIcon(CreateSolidIcon(kIconColour), 1);
  CCanvas canvas(kWidth, kHeight);
  Paint(button, canvas, 0);
  EXPECT_TRUE(button.IsThemed());
  EXPECT_EQ(canvas.Count(kUntouched, canvas.Whole()), 0);
  EXPECT_TRUE(RectIs(canvas.Find(kIconColour, canvas.Whole()), 8, 7, 24, 23));
  // The caption: dark pixels right of the icon, none left of x = 32.
  int nDark = 0;
  int nLeftmost = kWidth;
  for (int y = 3; y < kHeight - 3; ++y)
    for (int x = 26; x < kWidth - 4; ++x) {
      const COLORREF c = canvas.At(x, y);
      if (GetRValue(c) + GetGValue(c) + GetBValue(c) < 200) {
        ++nDark;
        nLeftmost = std::min(nLeftmost, x);
      }
    }
  EXPECT_GT(nDark, 20);
  EXPECT_GE(nLeftmost, 32);
  m_buttons.clear();
}

// The program's own button icons, painted as the dialog paints them: every pixel their mask
// makes transparent shows what the button drew beneath, every other pixel the icon's colour.
void IconButtonTest::ExpectResourceIconsTransparent(CIconButton& button) {
  for (UINT nId : {IDI_EXIT, IDI_PROGRAM, IDI_READ}) {
    const CIconPixels icon = ReadResourceIcon(nId);
    ASSERT_EQ(icon.nWidth, 16) << "icon " << nId;
    ASSERT_EQ(icon.nHeight, 16) << "icon " << nId;

    button.SetIcon(CreateInvisibleIcon(), 1);
    CCanvas background(kWidth, kHeight);
    Paint(button, background, 0);
    button.SetIcon(nId, 1);
    CCanvas canvas(kWidth, kHeight);
    Paint(button, canvas, 0);

    // The dialog's buttons place a 16 x 16 icon 8 pixels from the left, centred in height.
    const int nLeft = 8;
    const int nTop = (kHeight - 16) / 2;
    int nTransparent = 0;
    int nBackgroundLost = 0;
    int nOpaque = 0;
    int nColourWrong = 0;
    for (int y = 0; y < 16; ++y)
      for (int x = 0; x < 16; ++x) {
        const size_t i = static_cast<size_t>(y * 16 + x);
        const COLORREF bg = background.At(nLeft + x, nTop + y);
        const COLORREF got = canvas.At(nLeft + x, nTop + y);
        if (icon.transparent[i]) {
          ++nTransparent;
          if (got != bg) ++nBackgroundLost;
        } else {
          ++nOpaque;
          if (got != icon.colour[i] || got == bg) ++nColourWrong;
        }
      }
    EXPECT_GT(nTransparent, 0) << "icon " << nId;
    EXPECT_GT(nOpaque, 0) << "icon " << nId;
    EXPECT_EQ(nBackgroundLost, 0) << "icon " << nId << ": transparent pixels changed, of "
                                  << nTransparent;
    EXPECT_EQ(nColourWrong, 0) << "icon " << nId << ": opaque pixels not the icon's, of "
                               << nOpaque;
  }
}

TEST_F(IconButtonTest, ResourceIconsAreTransparentInTheClassicLook) {
  ASSERT_FALSE(CThemeApi::IsLoaded()) << "no CThemeApi instance may be alive here";
  CIconButton& button = MakeButton();
  ExpectResourceIconsTransparent(button);
  ASSERT_FALSE(button.IsThemed());
}

TEST_F(IconButtonTest, ResourceIconsAreTransparentInTheThemedLook) {
  CThemeApi::SetLoader(nullptr);
  CThemeApi api;
  ASSERT_TRUE(CThemeApi::IsLoaded());
  CIconButton& button = MakeButton();
  ExpectResourceIconsTransparent(button);
  ASSERT_TRUE(button.IsThemed());
  m_buttons.clear();
}

// ---------------------------------------------------------------------------------------
// Themed look, through a fake visual-styles library

class IconButtonThemedPaint : public IconButtonTest {
 protected:
  void SetUp() override {
    IconButtonTest::SetUp();
    m_pApi = std::make_unique<CThemeApi>();
    ASSERT_TRUE(CThemeApi::IsLoaded());
    m_pButton = &MakeButton();
    m_pButton->SetIcon(CreateSolidIcon(kIconColour), 1);
    fake_theme::g_calls.clear();
  }
  void TearDown() override {
    IconButtonTest::TearDown();
    m_pApi.reset();
  }

  static std::vector<fake_theme::CCall> Calls(const char* pszName) {
    std::vector<fake_theme::CCall> calls;
    for (const fake_theme::CCall& call : fake_theme::g_calls)
      if (call.strName == pszName) calls.push_back(call);
    return calls;
  }
  // Background and text state of one paint.
  void PaintStates(UINT nState, int* pnBack, int* pnText) {
    fake_theme::g_calls.clear();
    CCanvas canvas(kWidth, kHeight);
    Paint(*m_pButton, canvas, nState);
    const auto back = Calls("DrawThemeBackground");
    const auto text = Calls("DrawThemeText");
    ASSERT_EQ(back.size(), 1u);
    ASSERT_EQ(text.size(), 1u);
    *pnBack = back[0].nState;
    *pnText = text[0].nState;
  }

  fake_theme::CScope m_fake;
  std::unique_ptr<CThemeApi> m_pApi;
  CIconButton* m_pButton = nullptr;
};

TEST_F(IconButtonThemedPaint, FirstPaintOpensTheButtonThemeAndDrawsPartAndState) {
  CCanvas canvas(kWidth, kHeight);
  Paint(*m_pButton, canvas, 0);

  const auto open = Calls("OpenThemeData");
  ASSERT_EQ(open.size(), 1u);
  EXPECT_EQ(open[0].hWnd, m_pButton->m_hWnd);
  EXPECT_EQ(open[0].strText, L"Button");

  const auto back = Calls("DrawThemeBackground");
  ASSERT_EQ(back.size(), 1u);
  EXPECT_EQ(back[0].hTheme, fake_theme::g_hFakeTheme);
  EXPECT_EQ(back[0].nPart, 1);
  EXPECT_EQ(back[0].nState, 1);
  EXPECT_TRUE(RectIs(back[0].rc, 0, 0, kWidth, kHeight));
  EXPECT_FALSE(back[0].bHasClip);

  const auto text = Calls("DrawThemeText");
  ASSERT_EQ(text.size(), 1u);
  EXPECT_EQ(text[0].nPart, 1);
  EXPECT_EQ(text[0].nState, 1);
  EXPECT_EQ(text[0].strText, L"Read");
  EXPECT_EQ(text[0].nCount, 4);
  EXPECT_EQ(text[0].dwFlags, static_cast<DWORD>(DT_WORDBREAK | DT_VCENTER));
  EXPECT_EQ(text[0].dwFlags2, 0u);
  EXPECT_EQ(text[0].rc.left, 32);
  const int nTextHeight = text[0].rc.bottom - text[0].rc.top;
  EXPECT_GT(nTextHeight, 0);
  EXPECT_EQ(text[0].rc.top, (kHeight - nTextHeight) / 2);

  EXPECT_TRUE(RectIs(canvas.Find(kIconColour, canvas.Whole()), 8, 7, 24, 23));

  // Later paints use the handle they have.
  Paint(*m_pButton, canvas, 0);
  EXPECT_EQ(Calls("OpenThemeData").size(), 1u);
}

TEST_F(IconButtonThemedPaint, StateFollowsPressedHotFocusedAndDisabledOnlyChangesTheText) {
  int nBack = 0;
  int nText = 0;
  PaintStates(ODS_FOCUS, &nBack, &nText);
  EXPECT_EQ(nBack, 5);
  EXPECT_EQ(nText, 1);
  PaintStates(ODS_SELECTED | ODS_FOCUS, &nBack, &nText);
  EXPECT_EQ(nBack, 3);
  PaintStates(ODS_DISABLED, &nBack, &nText);
  EXPECT_EQ(nBack, 1);
  EXPECT_EQ(nText, 4);

  m_pButton->SendMessage(WM_MOUSEMOVE, 0, MAKELPARAM(5, 5));
  PaintStates(ODS_FOCUS, &nBack, &nText);
  EXPECT_EQ(nBack, 2) << "hot goes before focused";
  PaintStates(ODS_SELECTED, &nBack, &nText);
  EXPECT_EQ(nBack, 3) << "pressed goes before hot";
  EXPECT_EQ(nText, 1);
  PaintStates(ODS_DISABLED, &nBack, &nText);
  EXPECT_EQ(nBack, 2) << "disabled keeps the hot background";
  EXPECT_EQ(nText, 4);
  ::ReleaseCapture();
}

TEST_F(IconButtonThemedPaint, PressedShiftsNothingAndDisabledGreysTheIcon) {
  CCanvas pressed(kWidth, kHeight);
  Paint(*m_pButton, pressed, ODS_SELECTED);
  EXPECT_TRUE(RectIs(pressed.Find(kIconColour, pressed.Whole()), 8, 7, 24, 23));
  const auto text = Calls("DrawThemeText");
  ASSERT_EQ(text.size(), 1u);
  EXPECT_EQ(text[0].rc.left, 32);

  CCanvas disabled(kWidth, kHeight);
  Paint(*m_pButton, disabled, ODS_DISABLED);
  EXPECT_EQ(disabled.Count(kIconColour, disabled.Whole()), 0);
}

TEST_F(IconButtonThemedPaint, UnthemedApplicationPaintsClassicAndKeepsTheHandle) {
  CCanvas canvas(kWidth, kHeight);
  Paint(*m_pButton, canvas, 0);
  fake_theme::g_bAppThemed = FALSE;
  fake_theme::g_calls.clear();
  Paint(*m_pButton, canvas, 0);
  EXPECT_TRUE(Calls("DrawThemeBackground").empty());
  EXPECT_TRUE(Calls("DrawThemeText").empty());
  EXPECT_TRUE(Calls("CloseThemeData").empty());
  EXPECT_EQ(canvas.At(50, 3), ::GetSysColor(COLOR_BTNFACE));

  // A theme change while unthemed keeps the handle too.
  m_pButton->SendMessage(WM_THEMECHANGED);
  EXPECT_TRUE(Calls("CloseThemeData").empty());

  fake_theme::g_bAppThemed = TRUE;
  fake_theme::g_calls.clear();
  Paint(*m_pButton, canvas, 0);
  EXPECT_EQ(Calls("DrawThemeBackground").size(), 1u);
  EXPECT_TRUE(Calls("OpenThemeData").empty());
}

TEST_F(IconButtonThemedPaint, ThemeChangeClosesAtOnceAndReopensAtTheNextPaint) {
  CCanvas canvas(kWidth, kHeight);
  Paint(*m_pButton, canvas, 0);
  fake_theme::g_calls.clear();
  m_pButton->SendMessage(WM_THEMECHANGED);
  const auto close = Calls("CloseThemeData");
  ASSERT_EQ(close.size(), 1u);
  EXPECT_EQ(close[0].hTheme, fake_theme::g_hFakeTheme);

  fake_theme::g_calls.clear();
  Paint(*m_pButton, canvas, 0);
  EXPECT_EQ(Calls("OpenThemeData").size(), 1u);
  EXPECT_TRUE(Calls("CloseThemeData").empty()) << "the old handle is already closed";
  EXPECT_EQ(Calls("DrawThemeBackground").size(), 1u);
}

TEST_F(IconButtonThemedPaint, RefusedThemeIsNeverAskedForAgain) {
  fake_theme::g_hOpenResult = nullptr;
  CCanvas canvas(kWidth, kHeight);
  Paint(*m_pButton, canvas, 0);
  EXPECT_EQ(Calls("OpenThemeData").size(), 1u);
  EXPECT_TRUE(Calls("DrawThemeBackground").empty());
  EXPECT_EQ(canvas.At(50, 3), ::GetSysColor(COLOR_BTNFACE));

  fake_theme::g_hOpenResult = fake_theme::g_hFakeTheme;
  m_pButton->SendMessage(WM_THEMECHANGED);
  Paint(*m_pButton, canvas, 0);
  EXPECT_EQ(Calls("OpenThemeData").size(), 1u);
  EXPECT_TRUE(Calls("DrawThemeBackground").empty());
}

TEST_F(IconButtonThemedPaint, DestroyingTheButtonClosesItsTheme) {
  CCanvas canvas(kWidth, kHeight);
  Paint(*m_pButton, canvas, 0);
  fake_theme::g_calls.clear();
  m_buttons.clear();
  const auto close = Calls("CloseThemeData");
  ASSERT_EQ(close.size(), 1u);
  EXPECT_EQ(close[0].hTheme, fake_theme::g_hFakeTheme);
}

TEST_F(IconButtonThemedPaint, PaintsThroughTheDrawItemItsParentReflects) {
  CWnd parent;
  ASSERT_TRUE(parent.SubclassWindow(m_hWndParent));
  ::ShowWindow(m_hWndParent, SW_SHOWNA);
  m_pButton->RedrawWindow();
  EXPECT_EQ(Calls("OpenThemeData").size(), 1u);
  EXPECT_EQ(Calls("DrawThemeBackground").size(), 1u);
  const auto text = Calls("DrawThemeText");
  ASSERT_EQ(text.size(), 1u);
  EXPECT_EQ(text[0].strText, L"Read");
  m_buttons.clear();
  parent.UnsubclassWindow();
}

TEST_F(IconButtonThemedPaint, CaptionIsCentredByItsMeasuredHeightTruncatingTowardZero) {
  // Shorter than a line of text: the caption moves up by half the difference, rounded to 0.
  CIconButton& button = MakeButton(BS_PUSHBUTTON, "Read", kWidth, 9, 1002);
  button.SetIcon(CreateSolidIcon(kIconColour), 1);
  fake_theme::g_calls.clear();
  CCanvas canvas(kWidth, 9);
  Paint(button, canvas, 0, kWidth, 9);
  const auto text = Calls("DrawThemeText");
  ASSERT_EQ(text.size(), 1u);
  const int nTextHeight = text[0].rc.bottom - text[0].rc.top;
  ASSERT_GT(nTextHeight, 9);
  EXPECT_EQ(text[0].rc.top, -((nTextHeight - 9) / 2));
}

}  // namespace
