// COffscreenDC on memory targets: what is drawn reaches the target only at destruction, in
// the target's coordinates, limited to its clip box.
#include <gtest/gtest.h>

#include "common/Canvas.h"
#include "controls/OffscreenDC.h"

namespace {

const int kWidth = 64;
const int kHeight = 48;
const COLORREF kBack = RGB(10, 20, 30);
const COLORREF kInk = RGB(0, 0, 200);

// The canvas with the background colour set, borrowed by a CDC for the code under test.
class CTarget : public CCanvas {
 public:
  CTarget() : CCanvas(kWidth, kHeight) {
    ::SetBkColor(m_hDC, kBack);
    m_dc.Attach(m_hDC);
  }
  ~CTarget() { m_dc.Detach(); }

  CDC m_dc;
};

void FillInk(HDC hDC, const RECT& rc) {
  HBRUSH hBrush = ::CreateSolidBrush(kInk);
  ::FillRect(hDC, &rc, hBrush);
  ::DeleteObject(hBrush);
}

TEST(OffscreenDC, DrawingReachesTheTargetOnlyAtDestructionWithinTheClipBox) {
  CTarget target;
  ::IntersectClipRect(target.m_hDC, 10, 8, 40, 30);
  {
    COffscreenDC dc(&target.m_dc);
    FillInk(dc, RECT{0, 0, 30, kHeight});
    EXPECT_EQ(target.Count(kUntouched), kWidth * kHeight) << "drawn straight onto the target";
  }
  EXPECT_EQ(target.Count(kInk), 20 * 22);
  EXPECT_EQ(target.Count(kBack), 10 * 22);
  EXPECT_EQ(target.Count(kUntouched), kWidth * kHeight - 30 * 22);
  EXPECT_EQ(target.At(10, 8), kInk);
  EXPECT_EQ(target.At(29, 29), kInk);
  EXPECT_EQ(target.At(39, 29), kBack);
  EXPECT_EQ(target.At(9, 8), kUntouched);
  EXPECT_EQ(target.At(40, 29), kUntouched);
}

TEST(OffscreenDC, UndrawnPartsOfTheBoxGetTheTargetsBackgroundColour) {
  CTarget target;
  ::IntersectClipRect(target.m_hDC, 4, 4, 20, 12);
  { COffscreenDC dc(&target.m_dc); }
  EXPECT_EQ(target.Count(kBack), 16 * 8);
  EXPECT_EQ(target.At(4, 4), kBack);
  EXPECT_EQ(target.At(3, 4), kUntouched);
}

// The same drawing in logical units lands on the same pixels as when drawn on the target.
TEST(OffscreenDC, KeepsTheTargetsMappingAndOrigin) {
  auto setUp = [](HDC hDC) {
    ::SetMapMode(hDC, MM_ANISOTROPIC);
    ::SetWindowExtEx(hDC, 1, 1, nullptr);
    ::SetViewportExtEx(hDC, 2, 2, nullptr);
    ::SetViewportOrgEx(hDC, 6, 4, nullptr);
    ::IntersectClipRect(hDC, 2, 3, 20, 15);  // logical: device 10,10 - 46,34
  };
  CTarget direct;
  setUp(direct.m_hDC);
  FillInk(direct.m_hDC, RECT{5, 6, 12, 30});

  CTarget target;
  setUp(target.m_hDC);
  {
    COffscreenDC dc(&target.m_dc);
    FillInk(dc, RECT{5, 6, 12, 30});
  }
  int nDifferent = 0;
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x) {
      const COLORREF expected = direct.At(x, y) == kInk ? kInk : target.At(x, y);
      nDifferent += target.At(x, y) != expected;
    }
  EXPECT_EQ(nDifferent, 0);
  EXPECT_GT(target.Count(kInk), 0);
  EXPECT_EQ(target.Count(kInk), direct.Count(kInk));
  EXPECT_EQ(target.At(9, 20), kUntouched);
  EXPECT_EQ(target.At(10, 10), kBack);
}

TEST(OffscreenDC, PrintingTargetIsDrawnOnDirectlyAndKeepsItsContext) {
  CTarget target;
  target.m_dc.m_bPrinting = TRUE;
  {
    COffscreenDC dc(&target.m_dc);
    EXPECT_EQ(dc.GetSafeHdc(), target.m_hDC);
    EXPECT_TRUE(dc.IsPrinting());
    FillInk(dc, RECT{0, 0, 8, 8});
    EXPECT_EQ(target.At(3, 3), kInk) << "no detour through a bitmap";
    EXPECT_EQ(target.At(20, 20), kBack);
  }
  EXPECT_EQ(::GetObjectType(target.m_hDC), static_cast<DWORD>(OBJ_MEMDC))
      << "the target's context was released";
  EXPECT_EQ(target.At(3, 3), kInk);
  target.m_dc.m_bPrinting = FALSE;
}

}  // namespace
