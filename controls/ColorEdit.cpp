#include "controls/ColorEdit.h"

namespace {
const COLORREF kWhite = RGB(255, 255, 255);
}

BEGIN_MESSAGE_MAP(CColorEdit, CEdit)
ON_WM_CTLCOLOR_REFLECT()
END_MESSAGE_MAP()

CColorEdit::CColorEdit()
    : m_brush(kWhite), m_crBkColor(::GetSysColor(COLOR_BTNFACE)), m_crTextColor(RGB(0, 0, 0)) {}

CColorEdit::~CColorEdit() {
  m_brush.DeleteObject();
  if (m_hWnd && ::IsWindow(m_hWnd)) DestroyWindow();
}

void CColorEdit::SetBackColor(COLORREF crColor) {
  m_crBkColor = crColor;
  m_brush.DeleteObject();
  m_brush.CreateSolidBrush(crColor);
  RedrawWindow(nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
}

BOOL CColorEdit::SetReadOnly(BOOL bReadOnly) {
  SetBackColor(bReadOnly ? m_crBkColor : kWhite);
  return static_cast<BOOL>(SendMessage(EM_SETREADONLY, bReadOnly ? 1 : 0, 0));
}

HBRUSH CColorEdit::CtlColor(CDC* pDC, UINT) {
  pDC->SetBkColor(m_crBkColor);
  pDC->SetTextColor(m_crTextColor);
  return static_cast<HBRUSH>(m_brush.GetSafeHandle());
}
