// COffscreenDC on memory targets: what is drawn reaches the target only at destruction, in
// the target's coordinates, limited to its clip box.
#include <gtest/gtest.h>

#include "controls/OffscreenDC.h"

namespace {

const int kWidth = 64;
const int kHeight = 48;
const COLORREF kUntouched = RGB(255, 0, 255);
const COLORREF kBack = RGB(10, 20, 30);
const COLORREF kInk = RGB(0, 0, 200);

// A 32-bit DIB selected into a memory context, borrowed by a CDC for the code under test.
class CTarget {
 public:
  CTarget() {
    BITMAPINFO bmi = {};
    bmi.bmiHeader.biSize = sizeof(bmi.bmiHeader);
    bmi.bmiHeader.biWidth = kWidth;
    bmi.bmiHeader.biHeight = -kHeight;
    bmi.bmiHeader.biPlanes = 1;
    bmi.bmiHeader.biBitCount = 32;
    void* pBits = nullptr;
    m_hBitmap = ::CreateDIBSection(nullptr, &bmi, DIB_RGB_COLORS, &pBits, nullptr, 0);
    m_pBits = static_cast<DWORD*>(pBits);
    m_hDC = ::CreateCompatibleDC(nullptr);
    m_hOld = ::SelectObject(m_hDC, m_hBitmap);
    for (int i = 0; i < kWidth * kHeight; ++i) m_pBits[i] = 0xFF00FF;
    ::SetBkColor(m_hDC, kBack);
    m_dc.Attach(m_hDC);
  }
  ~CTarget() {
    m_dc.Detach();
    ::SelectObject(m_hDC, m_hOld);
    ::DeleteDC(m_hDC);
    ::DeleteObject(m_hBitmap);
  }
  CTarget(const CTarget&) = delete;
  CTarget& operator=(const CTarget&) = delete;

  COLORREF At(int x, int y) const {
    ::GdiFlush();
    const DWORD px = m_pBits[y * kWidth + x];
    return RGB((px >> 16) & 0xFF, (px >> 8) & 0xFF, px & 0xFF);
  }
  int Count(COLORREF colour) const {
    int n = 0;
    for (int y = 0; y < kHeight; ++y)
      for (int x = 0; x < kWidth; ++x) n += At(x, y) == colour;
    return n;
  }

  HDC m_hDC;
  CDC m_dc;

 private:
  HBITMAP m_hBitmap;
  DWORD* m_pBits;
  HGDIOBJ m_hOld;
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
