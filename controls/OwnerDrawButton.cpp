#include "controls/OwnerDrawButton.h"

namespace {
const DWORD kTypeMask = 0x0F;  // BS_TYPEMASK; older headers lack the name
}

BEGIN_MESSAGE_MAP(COwnerDrawButton, CButton)
ON_WM_GETDLGCODE()
ON_MESSAGE(BM_SETSTYLE, OnSetStyle)
END_MESSAGE_MAP()

void COwnerDrawButton::PreSubclassWindow() {
  switch (GetStyle() & kTypeMask) {
    case BS_DEFPUSHBUTTON:
      m_bPushButton = TRUE;
      m_bDefault = TRUE;
      break;
    case BS_PUSHBUTTON:
      m_bPushButton = TRUE;
      break;
    default:
      break;
  }
  ModifyStyle(kTypeMask, BS_OWNERDRAW, SWP_FRAMECHANGED);
  CButton::PreSubclassWindow();
}

UINT COwnerDrawButton::OnGetDlgCode() {
  UINT nCode = static_cast<UINT>(Default());
  if (m_bPushButton || m_bDefault) nCode |= m_bDefault ? DLGC_DEFPUSHBUTTON : DLGC_UNDEFPUSHBUTTON;
  return nCode;
}

LRESULT COwnerDrawButton::OnSetStyle(WPARAM wParam, LPARAM lParam) {
  switch (wParam & kTypeMask) {
    case BS_DEFPUSHBUTTON:
      m_bDefault = TRUE;
      break;
    case BS_PUSHBUTTON:
      m_bDefault = FALSE;
      break;
    default:
      break;
  }
  // Clearing bit 0x04 and setting BS_OWNERDRAW (0x0B) makes the type owner-drawn whatever it
  // was; flags above the type are kept.
  return DefWindowProc(BM_SETSTYLE, (wParam & ~static_cast<WPARAM>(0x04)) | BS_OWNERDRAW, lParam);
}
