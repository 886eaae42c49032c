// CColorEdit: an edit box painted with its own fill brush, background colour (behind the
// characters) and text colour, answering the control-colour message that its parent
// reflects back to it. The read-only state is coupled with the look: read-only boxes take the
// background colour as fill, editable ones turn white.
//
// A fresh box fills white and draws black characters on button-face cells; the fill and
// m_crBkColor agree only after SetBackColor. SetBackColor and SetReadOnly act on the window:
// call them only once the box is bound to its control (DDX_Control / SubclassDlgItem).
#pragma once

#include "framework/Controls.h"
#include "framework/Gdi.h"

class CColorEdit : public CEdit {
 public:
  CColorEdit();
  // Deletes the brush, then destroys the window if it still exists.
  ~CColorEdit() override;

  // Stores the colour, replaces the fill brush with a solid brush of it and repaints the box
  // before returning. If GDI refuses the brush the box has none and the parent's default
  // colouring applies.
  void SetBackColor(COLORREF crColor);
  // TRUE: fill with the present background colour; FALSE: white fill and white background
  // colour. Then EM_SETREADONLY with the flag; returns the box's answer (non-zero: success).
  BOOL SetReadOnly(BOOL bReadOnly = TRUE);

 protected:
  // Reflected WM_CTLCOLOREDIT (editable) and WM_CTLCOLORSTATIC (read-only or disabled), both
  // alike: sets the context's background and text colours and returns the fill brush (null
  // when there is none).
  HBRUSH CtlColor(CDC* pDC, UINT nCtlColor);

  CBrush m_brush;
  COLORREF m_crBkColor;
  COLORREF m_crTextColor;

  DECLARE_MESSAGE_MAP()
};
