#include "framework/Controls.h"

BOOL CEdit::SetReadOnly(BOOL bReadOnly) {
  return static_cast<BOOL>(SendMessage(EM_SETREADONLY, bReadOnly ? 1 : 0, 0));
}

void CEdit::LimitText(int nMax) {
  SendMessage(EM_LIMITTEXT, static_cast<WPARAM>(nMax), 0);
}

BEGIN_MESSAGE_MAP(CButton, CWnd)
ON_WM_DRAWITEM_REFLECT()
END_MESSAGE_MAP()

int CButton::GetCheck() const {
  return static_cast<int>(SendMessage(BM_GETCHECK));
}

void CButton::SetCheck(int nCheck) {
  SendMessage(BM_SETCHECK, static_cast<WPARAM>(nCheck));
}

void CButton::DrawItem(LPDRAWITEMSTRUCT) {}

void CProgressCtrl::SetRange(short nLower, short nUpper) {
  SendMessage(PBM_SETRANGE, 0, MAKELPARAM(nLower, nUpper));
}

int CProgressCtrl::SetPos(int nPos) {
  return static_cast<int>(SendMessage(PBM_SETPOS, static_cast<WPARAM>(nPos)));
}

int CProgressCtrl::SetStep(int nStep) {
  return static_cast<int>(SendMessage(PBM_SETSTEP, static_cast<WPARAM>(nStep)));
}

int CProgressCtrl::StepIt() {
  return static_cast<int>(SendMessage(PBM_STEPIT));
}
