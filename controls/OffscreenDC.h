#pragma once

#include <windows.h>

#include "framework/Gdi.h"

// A drawing context that composes a picture off screen and delivers it to a target context
// in one BitBlt when it is destroyed, so that a control repaints without flicker.
//
// Construction takes the target's clip box (logical units) as the area to draw, creates a
// memory context and a bitmap of that size compatible with the target, copies the target's
// mapping mode and extents, places the window origin at the box's top-left corner and fills
// the box with the target's background colour. Everything drawn on this object in the
// target's logical coordinates lands in the bitmap; destruction copies the box to the target
// (SRCCOPY), then deletes the bitmap and the memory context.
//
// A printing target (or one for which GDI refuses the memory context or the bitmap) is drawn
// on directly: this object borrows its contexts and gives them back untouched.
//
// The target must outlive this object. Lives for one paint; not copyable.
class COffscreenDC : public CDC {
 public:
  explicit COffscreenDC(CDC* pDC);
  ~COffscreenDC() override;

 private:
  void Borrow(CDC* pDC);

  CBitmap m_bitmap;
  CBitmap* m_pOldBitmap = nullptr;
  CDC* m_pDC;
  RECT m_rcBox = {};
  BOOL m_bOffscreen = FALSE;
};
