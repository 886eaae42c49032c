// Who releases what: drawing objects delete only the GDI handles they own.
#include <gtest/gtest.h>

#include "framework/Framework.h"

namespace {

bool IsLive(HGDIOBJ h) {
  return ::GetObjectType(h) != 0;
}

TEST(GdiOwnershipTest, ContextsDeleteTheirOwnHandleButNeverABorrowedOne) {
  HDC hOwned = nullptr;
  {
    CDC dc;
    ASSERT_TRUE(dc.CreateCompatibleDC(nullptr));
    hOwned = dc.m_hDC;
    EXPECT_EQ(dc.m_hAttribDC, hOwned);
    EXPECT_FALSE(dc.CreateCompatibleDC(nullptr)) << "one context per object";
  }
  EXPECT_FALSE(IsLive(hOwned));

  HDC hBorrowed = ::CreateCompatibleDC(nullptr);
  CDC* pTemp = CDC::FromHandle(hBorrowed);
  ASSERT_NE(pTemp, nullptr);
  EXPECT_EQ(CDC::FromHandle(hBorrowed), pTemp);
  {
    CDC dc;
    dc.Attach(hBorrowed);
    EXPECT_EQ(dc.Detach(), hBorrowed);
  }
  EXPECT_TRUE(IsLive(hBorrowed));
  ::DeleteDC(hBorrowed);
}

TEST(GdiOwnershipTest, BrushesAndBitmapsDeleteWhatTheyHoldAndNothingElse) {
  HGDIOBJ hBrush = nullptr;
  HGDIOBJ hKept = nullptr;
  {
    CBrush brush(RGB(9, 8, 7));
    hBrush = brush.GetSafeHandle();
    LOGBRUSH lb = {};
    ASSERT_EQ(::GetObjectA(brush.m_hObject, sizeof(lb), &lb), static_cast<int>(sizeof(lb)));
    EXPECT_EQ(lb.lbColor, RGB(9, 8, 7));
    EXPECT_FALSE(brush.CreateSolidBrush(RGB(1, 1, 1))) << "the first brush would leak";
    CBrush detached(RGB(1, 2, 3));
    hKept = detached.Detach();
  }
  EXPECT_FALSE(IsLive(hBrush));
  EXPECT_TRUE(IsLive(hKept));
  ::DeleteObject(hKept);

  HGDIOBJ hBitmap = nullptr;
  HGDIOBJ hStock = nullptr;
  {
    CDC dc;
    ASSERT_TRUE(dc.CreateCompatibleDC(nullptr));
    CBitmap bitmap;
    ASSERT_TRUE(bitmap.CreateCompatibleBitmap(&dc, 8, 8));
    hBitmap = bitmap.GetSafeHandle();
    CBitmap* pPrevious = dc.SelectObject(&bitmap);
    ASSERT_NE(pPrevious, nullptr);
    hStock = pPrevious->GetSafeHandle();
    EXPECT_NE(hStock, hBitmap);
    EXPECT_EQ(dc.SelectObject(pPrevious), CBitmap::FromHandle(static_cast<HBITMAP>(hBitmap)));
  }
  EXPECT_FALSE(IsLive(hBitmap));
  EXPECT_TRUE(IsLive(hStock)) << "the previous bitmap is borrowed, not owned";
}

}  // namespace
