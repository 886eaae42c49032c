#include "controls/OffscreenDC.h"

COffscreenDC::COffscreenDC(CDC* pDC) : m_pDC(pDC) {
  m_pDC->GetClipBox(&m_rcBox);
  m_bOffscreen = !m_pDC->IsPrinting();
  if (m_bOffscreen) {
    RECT rcDevice = m_rcBox;
    m_pDC->LPtoDP(&rcDevice);
    if (CreateCompatibleDC(m_pDC) &&
        m_bitmap.CreateCompatibleBitmap(m_pDC, rcDevice.right - rcDevice.left,
                                        rcDevice.bottom - rcDevice.top)) {
      m_pOldBitmap = SelectObject(&m_bitmap);
      SetMapMode(m_pDC->GetMapMode());
      SetWindowExt(m_pDC->GetWindowExt());
      SetViewportExt(m_pDC->GetViewportExt());
      SetWindowOrg(m_rcBox.left, m_rcBox.top);
    } else {
      // Short of GDI resources: a flickering paint is better than a black one.
      DeleteDC();
      m_bOffscreen = FALSE;
    }
  }
  if (!m_bOffscreen) Borrow(m_pDC);

  CBrush brush(m_pDC->GetBkColor());
  FillRect(&m_rcBox, &brush);
}

COffscreenDC::~COffscreenDC() {
  if (m_bOffscreen) {
    m_pDC->BitBlt(m_rcBox.left, m_rcBox.top, m_rcBox.right - m_rcBox.left,
                  m_rcBox.bottom - m_rcBox.top, this, m_rcBox.left, m_rcBox.top, SRCCOPY);
    if (m_pOldBitmap) SelectObject(m_pOldBitmap);
  } else {
    // Borrowed: the target keeps its contexts.
    m_hDC = nullptr;
    m_hAttribDC = nullptr;
  }
  m_bitmap.DeleteObject();
  if (m_hDC) DeleteDC();
}

void COffscreenDC::Borrow(CDC* pDC) {
  m_hDC = pDC->m_hDC;
  m_hAttribDC = pDC->m_hAttribDC;
  m_bPrinting = pDC->m_bPrinting;
}
