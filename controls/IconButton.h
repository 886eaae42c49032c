#pragma once

#include <windows.h>
// uxtheme.h builds on the types of windows.h.
#include <uxtheme.h>

#include <string>

#include "controls/OwnerDrawButton.h"

// A push button with a small icon beside its caption. It tracks the mouse cursor passing over
// it, paints with the desktop's visual style when the application is themed (through
// CThemeApi) and in the classic raised look otherwise, and composes each paint off screen.
// Towards its dialog it stays a push button: a click sends WM_COMMAND (id, BN_CLICKED) to the
// parent, synchronously, so the parent's handler has run when the sending message returns.
//
// Keys. The button wants every key but Tab and Escape (its dialog code carries
// DLGC_WANTALLKEYS for all others), so the dialog manager neither moves the focus on arrow
// keys nor presses the default button when Enter is pressed on it, while Tab moves the focus
// and Escape cancels the dialog as usual. Each key press gives exactly one click:
//  - Enter sends the click at once, on its character message, and shows the button pressed
//    until the key is released (WM_KEYUP) or the focus leaves. Auto-repeat does not click
//    again.
//  - Space is left to the standard control: pressed look on key-down, one click on key-up.
// A key press never leaves a click pending for a later mouse release.
//
// Mouse. A double-click counts as two clicks: the standard control handles the first click;
// the double-click shows the button pressed (with the mouse captured) and the next left
// button release sends the second click, unless it happens outside the button: like a single
// press dragged off, that press then ends without a click.
//
// Owns its icon (DestroyIcon) and its theme handle (CThemeApi::CloseThemeData).
class CIconButton : public COwnerDrawButton {
 public:
  CIconButton() = default;
  ~CIconButton() override;

  // Loads the icon resource (low 16 bits of nIconId) from the program's module at its own
  // size and hands it, null or not, to SetIcon by handle.
  void SetIcon(UINT nIconId, int nIconAlign);
  // Destroys the present icon, takes ownership of hIcon (may be null) and repaints at once.
  // nIconAlign 2 puts the icon right of the caption, any other value left of it.
  void SetIcon(HICON hIcon, int nIconAlign);

  // TRUE when the button holds a theme handle and the application is themed.
  BOOL IsThemed() const;

  // Paints the button from the owner-draw record (reflected WM_DRAWITEM).
  void DrawItem(LPDRAWITEMSTRUCT lpDrawItemStruct) override;
  // The button's own handling of dialog codes, keys, double-clicks and theme changes before
  // the standard control's.
  LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

  // Where an icon of w x h goes in rcItem (whose left edge is 0). With text, *prcText is
  // narrowed to the part beside the icon. The result's right and bottom are rcItem's (moved
  // one pixel with the rest when pressed in the classic look).
  RECT PrepareImageRect(BOOL bHasText, const RECT& rcItem, RECT* prcText, BOOL bPressed, int w,
                        int h) const;

 protected:
  void OnMouseMove(UINT nFlags, POINT point);
  BOOL OnEraseBkgnd(CDC* pDC);

  DECLARE_MESSAGE_MAP()

 private:
  void DrawButtonIcon(CDC* pDC, BOOL bHasText, const RECT& rcItem, RECT* prcText, BOOL bPressed,
                      BOOL bDisabled);
  void DrawFace(CDC* pDC, RECT* prcFrame, BOOL bPressed, BOOL bFocused, BOOL bThemed);
  void DrawCaption(CDC* pDC, const std::string& strCaption, RECT* prcText, BOOL bPressed,
                   BOOL bDisabled, BOOL bThemed);
  void SendClick();
  void EndKeyPress();

  BOOL m_bOpenTheme = TRUE;  // (re)open the theme handle at the next paint
  BOOL m_bHot = FALSE;       // the mouse cursor is over the button
  HTHEME m_hTheme = nullptr;
  HICON m_hIcon = nullptr;
  int m_nIconAlign = 1;
  BOOL m_bPressPending = FALSE;  // a double-click's press, ended by the next left release
  BOOL m_bKeyPress = FALSE;      // Enter's pressed look, ended by its key-up
};
