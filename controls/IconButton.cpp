#include "controls/IconButton.h"

#include <string>

#include "controls/OffscreenDC.h"
#include "controls/ThemeApi.h"

namespace {
// Part and states of the "Button" theme class.
const int kBpPushButton = 1;
const int kPbsNormal = 1;
const int kPbsHot = 2;
const int kPbsPressed = 3;
const int kPbsDisabled = 4;
const int kPbsDefaulted = 5;

const int kDefaultIconSize = 32;

// Bit 30 of a key message: the key was already down, so this is auto-repeat.
const LPARAM kKeyWasDown = 0x40000000;
}  // namespace

BEGIN_MESSAGE_MAP(CIconButton, COwnerDrawButton)
ON_WM_MOUSEMOVE()
ON_WM_ERASEBKGND()
END_MESSAGE_MAP()

CIconButton::~CIconButton() {
  if (m_hTheme) CThemeApi::CloseThemeData(m_hTheme);
  m_hTheme = nullptr;
  if (m_hIcon) ::DestroyIcon(m_hIcon);
  m_hIcon = nullptr;
}

void CIconButton::SetIcon(UINT nIconId, int nIconAlign) {
  HICON hIcon = static_cast<HICON>(::LoadImageA(::GetModuleHandleA(nullptr),
                                                MAKEINTRESOURCEA(LOWORD(nIconId)), IMAGE_ICON, 0, 0,
                                                LR_DEFAULTCOLOR));
  SetIcon(hIcon, nIconAlign);
}

void CIconButton::SetIcon(HICON hIcon, int nIconAlign) {
  if (m_hIcon) ::DestroyIcon(m_hIcon);
  m_hIcon = hIcon;
  m_nIconAlign = nIconAlign;
  if (m_hWnd) RedrawWindow(nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
}

BOOL CIconButton::IsThemed() const {
  return m_hTheme && CThemeApi::IsAppThemed();
}

void CIconButton::SendClick() {
  HWND hWndParent = ::GetParent(m_hWnd);
  if (hWndParent)
    ::SendMessageA(hWndParent, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(), BN_CLICKED),
                   reinterpret_cast<LPARAM>(m_hWnd));
}

void CIconButton::EndKeyPress() {
  if (!m_bKeyPress) return;
  m_bKeyPress = FALSE;
  SendMessage(BM_SETSTATE, FALSE);
}

LRESULT CIconButton::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_GETDLGCODE: {
      // Tab and Escape go to the dialog manager, so that Tab still moves the focus and
      // Escape still cancels the dialog: the first tab stop of the setup dialog is an icon
      // button, so otherwise Escape would do nothing until the user moved the focus.
      const MSG* pMsg = reinterpret_cast<const MSG*>(lParam);
      if (pMsg && pMsg->message == WM_KEYDOWN &&
          (pMsg->wParam == VK_TAB || pMsg->wParam == VK_ESCAPE))
        return 0;
      return DLGC_WANTALLKEYS;
    }
    case WM_CHAR:
      // Space needs nothing here: the standard control presses on its key-down and clicks
      // on its key-up. Enter is no key of the standard control; the click goes out now, so
      // that a handler that takes the focus away (a message box) has already run.
      if (wParam == VK_RETURN && !(lParam & kKeyWasDown)) {
        SendMessage(BM_SETSTATE, TRUE);
        m_bKeyPress = TRUE;
        SendClick();
      }
      break;
    case WM_KEYUP:
      if (wParam == VK_RETURN) EndKeyPress();
      break;
    case WM_KILLFOCUS:
      // The key-up goes to the window that has the focus then, not to us.
      EndKeyPress();
      break;
    case WM_LBUTTONUP:
      if (m_bPressPending) {
        SendMessage(BM_SETSTATE, FALSE);
        m_bPressPending = FALSE;
        if (::GetCapture() == m_hWnd) ::ReleaseCapture();
        // The capture brings the release here wherever it happens; as with a single press,
        // letting go outside the button takes the click back.
        RECT rcClient;
        GetClientRect(&rcClient);
        const POINT pt = {static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
        if (::PtInRect(&rcClient, pt)) SendClick();
      }
      break;
    case WM_LBUTTONDBLCLK:
      // The standard control never sees the double-click; with the mouse captured the
      // release comes back here wherever it happens.
      SendMessage(BM_SETSTATE, TRUE);
      m_bPressPending = TRUE;
      ::SetCapture(m_hWnd);
      return 0;
    case WM_THEMECHANGED:
      if (IsThemed() && m_hTheme) {
        CThemeApi::CloseThemeData(m_hTheme);
        m_hTheme = nullptr;
        m_bOpenTheme = TRUE;
      }
      break;
    default:
      break;
  }
  return COwnerDrawButton::DefWindowProc(message, wParam, lParam);
}

void CIconButton::OnMouseMove(UINT nFlags, POINT point) {
  POINT ptScreen = point;
  ClientToScreen(&ptScreen);
  RECT rcWindow;
  GetWindowRect(&rcWindow);

  const BOOL bWasHot = m_bHot;
  if (::PtInRect(&rcWindow, ptScreen)) {
    m_bHot = TRUE;
    // Keeps the move that leaves the button coming to it: no timer, no leave notification.
    SetCapture();
  } else {
    m_bHot = FALSE;
    // While the left button is down the capture is the standard control's (or the
    // double-click's): taking it away would cancel the press.
    if (!(nFlags & MK_LBUTTON) && ::GetCapture() == m_hWnd) ::ReleaseCapture();
  }
  if (m_bHot != bWasHot) InvalidateRect(nullptr, TRUE);
  Default();
}

BOOL CIconButton::OnEraseBkgnd(CDC*) {
  // Every paint covers the whole button; erasing first would only flicker.
  return TRUE;
}

RECT CIconButton::PrepareImageRect(BOOL bHasText, const RECT& rcItem, RECT* prcText, BOOL bPressed,
                                   int w, int h) const {
  RECT rcImage = rcItem;
  const int nWidth = rcItem.right - rcItem.left;
  if (bHasText) {
    if (m_nIconAlign != 2) {
      rcImage.left = rcItem.left + w / 2;
      prcText->left = rcItem.left + 2 * w;
      prcText->right = rcItem.left + nWidth - w / 2;
    } else {
      rcImage.left = rcItem.left + nWidth - w - w / 2;
      prcText->left = rcItem.left + w / 2;
      prcText->right = rcItem.left + nWidth - w - w / 2;
    }
  } else {
    rcImage.left += (nWidth - w) / 2;
  }
  rcImage.top += (rcImage.bottom - rcImage.top - h) / 2;
  if (bPressed && !IsThemed()) ::OffsetRect(&rcImage, 1, 1);
  return rcImage;
}

void CIconButton::DrawButtonIcon(CDC* pDC, BOOL bHasText, const RECT& rcItem, RECT* prcText,
                                 BOOL bPressed, BOOL bDisabled) {
  if (!m_hIcon) return;

  int w = kDefaultIconSize;
  int h = kDefaultIconSize;
  ICONINFO info;
  if (::GetIconInfo(m_hIcon, &info)) {
    BITMAP bm;
    if (info.hbmColor && ::GetObjectA(info.hbmColor, sizeof(bm), &bm)) {
      w = bm.bmWidth;
      h = bm.bmHeight;
    }
    // GetIconInfo hands out copies; they are ours to delete.
    if (info.hbmColor) ::DeleteObject(info.hbmColor);
    if (info.hbmMask) ::DeleteObject(info.hbmMask);
  }

  const RECT rcImage = PrepareImageRect(bHasText, rcItem, prcText, bPressed, w, h);
  pDC->DrawState(nullptr, nullptr, reinterpret_cast<LPARAM>(m_hIcon), 0, rcImage.left, rcImage.top,
                 rcImage.right - rcImage.left, rcImage.bottom - rcImage.top,
                 DST_ICON | (bDisabled ? DSS_DISABLED : 0));
}

void CIconButton::DrawItem(LPDRAWITEMSTRUCT lpDrawItemStruct) {
  if (m_bOpenTheme) {
    m_bOpenTheme = FALSE;
    if (CThemeApi::IsLoaded()) {
      if (m_hTheme) CThemeApi::CloseThemeData(m_hTheme);
      m_hTheme = CThemeApi::OpenThemeData(m_hWnd, "Button");
    }
  }

  COffscreenDC dc(CDC::FromHandle(lpDrawItemStruct->hDC));

  HWND hWndParent = ::GetParent(m_hWnd);
  HFONT hFont =
      hWndParent ? reinterpret_cast<HFONT>(::SendMessageA(hWndParent, WM_GETFONT, 0, 0)) : nullptr;
  if (hFont) dc.SelectObject(hFont);

  const UINT nState = lpDrawItemStruct->itemState;
  const BOOL bPressed = (nState & ODS_SELECTED) != 0;
  const BOOL bDisabled = (nState & ODS_DISABLED) != 0;
  const BOOL bFocused = (nState & ODS_FOCUS) != 0;
  const BOOL bFocusRect = (nState & ODS_NOFOCUSRECT) == 0;
  const RECT rcItem = lpDrawItemStruct->rcItem;
  const BOOL bThemed = IsThemed();
  RECT rcFrame = rcItem;
  dc.SetBkMode(TRANSPARENT);

  DrawFace(&dc, &rcFrame, bPressed, bFocused, bThemed);

  std::string strCaption(static_cast<size_t>(GetWindowTextLength()) + 1, '\0');
  strCaption.resize(
      static_cast<size_t>(GetWindowText(&strCaption[0], static_cast<int>(strCaption.size()))));
  const BOOL bHasText = !strCaption.empty();

  RECT rcText = rcItem;
  if (m_hIcon) DrawButtonIcon(&dc, bHasText, rcItem, &rcText, bPressed, bDisabled);

  if (bHasText) DrawCaption(&dc, strCaption, &rcText, bPressed, bDisabled, bThemed);

  if (bFocused && bFocusRect) {
    RECT rcFocus = rcFrame;
    ::InflateRect(&rcFocus, -3, -3);
    dc.DrawFocusRect(&rcFocus);
  }
}

// The button's face: the theme's push button in its state, or the classic raised (or, pressed,
// flat) face with a black frame when it has the focus, which narrows *prcFrame by a pixel.
void CIconButton::DrawFace(CDC* pDC, RECT* prcFrame, BOOL bPressed, BOOL bFocused, BOOL bThemed) {
  if (bThemed) {
    int nBackState = kPbsNormal;
    if (bPressed)
      nBackState = kPbsPressed;
    else if (m_bHot)
      nBackState = kPbsHot;
    else if (bFocused)
      nBackState = kPbsDefaulted;
    CThemeApi::DrawThemeBackground(m_hTheme, *pDC, kBpPushButton, nBackState, prcFrame, nullptr);
  } else {
    if (bFocused) {
      CBrush black(RGB(0, 0, 0));
      pDC->FrameRect(prcFrame, &black);
      ::InflateRect(prcFrame, -1, -1);
    }
    CBrush face(::GetSysColor(COLOR_BTNFACE));
    pDC->FillRect(prcFrame, &face);
    if (bPressed) {
      CBrush shadow(::GetSysColor(COLOR_BTNSHADOW));
      pDC->FrameRect(prcFrame, &shadow);
    } else {
      pDC->DrawFrameControl(prcFrame, DFC_BUTTON, DFCS_BUTTONPUSH);
    }
  }
}

// The caption in *prcText: centred without an icon, centred vertically beside one by
// measuring the wrapped text first; disabled text embossed in the classic look.
void CIconButton::DrawCaption(CDC* pDC, const std::string& strCaption, RECT* prcText, BOOL bPressed,
                              BOOL bDisabled, BOOL bThemed) {
  if (bPressed && !bThemed) ::OffsetRect(prcText, 1, 1);
  UINT nFormat = DT_WORDBREAK | DT_VCENTER;
  if (!m_hIcon) nFormat |= DT_CENTER;
  if (m_hIcon) {
    // DT_VCENTER needs DT_SINGLELINE; wrapped text is centred by measuring it first.
    const int nHeight = prcText->bottom - prcText->top;
    pDC->DrawText(strCaption.c_str(), -1, prcText, nFormat | DT_CALCRECT);
    ::OffsetRect(prcText, 0, (nHeight - (prcText->bottom - prcText->top)) / 2);
  }
  if (bThemed) {
    CThemeApi::DrawThemeText(m_hTheme, *pDC, kBpPushButton, bDisabled ? kPbsDisabled : kPbsNormal,
                             strCaption.c_str(), nFormat, 0, prcText);
  } else {
    pDC->SetBkMode(TRANSPARENT);
    if (bDisabled) {
      ::OffsetRect(prcText, 1, 1);
      pDC->SetTextColor(::GetSysColor(COLOR_BTNHIGHLIGHT));
      pDC->DrawText(strCaption.c_str(), -1, prcText, nFormat);
      ::OffsetRect(prcText, -1, -1);
      pDC->SetTextColor(::GetSysColor(COLOR_BTNSHADOW));
      pDC->DrawText(strCaption.c_str(), -1, prcText, nFormat);
    } else {
      pDC->SetTextColor(::GetSysColor(COLOR_BTNTEXT));
      pDC->SetBkColor(::GetSysColor(COLOR_BTNFACE));
      pDC->DrawText(strCaption.c_str(), -1, prcText, nFormat);
    }
  }
}
