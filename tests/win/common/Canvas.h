// A 32-bit top-down DIB selected into a memory context, for the tests that look at the pixels
// a control or the dialog paints. The bits are read straight from the section (after GdiFlush),
// so a read never goes through the display's colour depth.
#pragma once

#include <windows.h>

#include <algorithm>

// What a canvas holds before anything is drawn on it: a colour no control paints.
inline constexpr COLORREF kUntouched = RGB(255, 0, 255);

class CCanvas {
 public:
  CCanvas(int nWidth, int nHeight) : m_nWidth(nWidth), m_nHeight(nHeight) {
    BITMAPINFO bmi = {};
    bmi.bmiHeader.biSize = sizeof(bmi.bmiHeader);
    bmi.bmiHeader.biWidth = nWidth;
    bmi.bmiHeader.biHeight = -nHeight;
    bmi.bmiHeader.biPlanes = 1;
    bmi.bmiHeader.biBitCount = 32;
    bmi.bmiHeader.biCompression = BI_RGB;
    void* pBits = nullptr;
    m_hBitmap = ::CreateDIBSection(nullptr, &bmi, DIB_RGB_COLORS, &pBits, nullptr, 0);
    m_pBits = static_cast<DWORD*>(pBits);
    m_hDC = ::CreateCompatibleDC(nullptr);
    m_hOld = ::SelectObject(m_hDC, m_hBitmap);
    Fill(kUntouched);
  }
  ~CCanvas() {
    ::SelectObject(m_hDC, m_hOld);
    ::DeleteDC(m_hDC);
    ::DeleteObject(m_hBitmap);
  }
  CCanvas(const CCanvas&) = delete;
  CCanvas& operator=(const CCanvas&) = delete;

  void Fill(COLORREF colour) {
    ::GdiFlush();
    for (int i = 0; i < m_nWidth * m_nHeight; ++i)
      m_pBits[i] = (GetRValue(colour) << 16) | (GetGValue(colour) << 8) | GetBValue(colour);
  }
  COLORREF At(int x, int y) const {
    ::GdiFlush();
    const DWORD px = m_pBits[y * m_nWidth + x];
    return RGB((px >> 16) & 0xFF, (px >> 8) & 0xFF, px & 0xFF);
  }
  // Bounding box of the pixels of one colour inside the area; empty when there are none.
  RECT Find(COLORREF colour, RECT rcArea) const {
    RECT rc = {m_nWidth, m_nHeight, -1, -1};
    for (int y = rcArea.top; y < rcArea.bottom; ++y)
      for (int x = rcArea.left; x < rcArea.right; ++x)
        if (At(x, y) == colour) {
          rc.left = std::min<LONG>(rc.left, x);
          rc.top = std::min<LONG>(rc.top, y);
          rc.right = std::max<LONG>(rc.right, x + 1);
          rc.bottom = std::max<LONG>(rc.bottom, y + 1);
        }
    if (rc.right < 0) rc = RECT{0, 0, 0, 0};
    return rc;
  }
  int Count(COLORREF colour, RECT rcArea) const {
    int n = 0;
    for (int y = rcArea.top; y < rcArea.bottom; ++y)
      for (int x = rcArea.left; x < rcArea.right; ++x) n += At(x, y) == colour;
    return n;
  }
  int Count(COLORREF colour) const { return Count(colour, Whole()); }
  RECT Whole() const { return RECT{0, 0, m_nWidth, m_nHeight}; }

  HDC m_hDC;

 private:
  int m_nWidth;
  int m_nHeight;
  HBITMAP m_hBitmap;
  DWORD* m_pBits = nullptr;
  HGDIOBJ m_hOld;
};
