// Drawing objects over GDI32: CGdiObject/CBrush/CBitmap own one GDI object each, CDC wraps a
// device context, CPaintDC one BeginPaint/EndPaint.
//
// Temporary objects. CDC::FromHandle and CBitmap::FromHandle (and CDC::SelectObject(CBitmap*)
// for the previous bitmap) return framework-owned wrappers that never delete their handle.
// They stay valid while their handle does; do not delete them or keep them beyond the
// current message.
#pragma once

#include <windows.h>

class CWnd;

class CGdiObject {
 public:
  CGdiObject() = default;
  CGdiObject(const CGdiObject&) = delete;
  CGdiObject& operator=(const CGdiObject&) = delete;
  // Deletes the object it holds, if any.
  virtual ~CGdiObject();

  HGDIOBJ m_hObject = nullptr;

  HGDIOBJ GetSafeHandle() const { return m_hObject; }
  // Takes ownership of the handle; false (nothing done) when already holding one or null.
  BOOL Attach(HGDIOBJ hObject);
  // Gives up ownership and returns the handle.
  HGDIOBJ Detach();
  // Deletes the GDI object (::DeleteObject) and forgets it; FALSE when there was none.
  BOOL DeleteObject();
};

class CBrush : public CGdiObject {
 public:
  CBrush() = default;
  // A solid brush of the colour; GetSafeHandle() is null when GDI refused.
  explicit CBrush(COLORREF crColor);

  operator HBRUSH() const { return static_cast<HBRUSH>(m_hObject); }
  // False (nothing done) when a brush is already held or GDI refuses.
  BOOL CreateSolidBrush(COLORREF crColor);
};

class CDC;

class CBitmap : public CGdiObject {
 public:
  operator HBITMAP() const { return static_cast<HBITMAP>(m_hObject); }
  static CBitmap* FromHandle(HBITMAP hBitmap);
  // A bitmap compatible with the DC's output context; false when one is already held or GDI
  // refuses.
  BOOL CreateCompatibleBitmap(CDC* pDC, int nWidth, int nHeight);
};

// Output calls go to m_hDC; queries about coordinates, colours and attributes read
// m_hAttribDC; attribute setters change both when they differ. Both are the same handle
// except where a class says otherwise. The destructor deletes m_hDC when it is not null
// (::DeleteDC): classes that only borrow a context must Detach before.
class CDC {
 public:
  CDC() = default;
  CDC(const CDC&) = delete;
  CDC& operator=(const CDC&) = delete;
  virtual ~CDC();

  HDC m_hDC = nullptr;
  HDC m_hAttribDC = nullptr;
  BOOL m_bPrinting = FALSE;

  HDC GetSafeHdc() const { return m_hDC; }
  operator HDC() const { return m_hDC; }
  static CDC* FromHandle(HDC hDC);

  // Sets both handles; false when one is already held or hDC is null.
  BOOL Attach(HDC hDC);
  // Forgets both handles without releasing anything; returns m_hDC.
  HDC Detach();
  // ::DeleteDC(m_hDC) and forgets both handles.
  BOOL DeleteDC();
  // A memory context compatible with pDC's output context (the screen when pDC is null),
  // taken as this object's own (both handles). False when already holding one or GDI refuses.
  BOOL CreateCompatibleDC(CDC* pDC);
  BOOL IsPrinting() const { return m_bPrinting; }

  // Returns the previous object of the same kind; null on failure.
  HGDIOBJ SelectObject(HGDIOBJ hObject);
  // The previous bitmap as a temporary CBitmap; null on failure.
  CBitmap* SelectObject(CBitmap* pBitmap);

  void FillRect(const RECT* lpRect, CBrush* pBrush);
  void FrameRect(const RECT* lpRect, CBrush* pBrush);
  BOOL DrawFrameControl(LPRECT lpRect, UINT nType, UINT nState);
  // ::DrawStateA on m_hDC, arguments unchanged.
  BOOL DrawState(HBRUSH hBrush, DRAWSTATEPROC lpOutputFunc, LPARAM lData, WPARAM wData, int x,
                 int y, int cx, int cy, UINT uFlags);
  // ::DrawTextA on m_hDC: the height of the text, 0 on failure.
  int DrawText(LPCSTR lpszString, int nCount, LPRECT lpRect, UINT nFormat);
  void DrawFocusRect(const RECT* lpRect);
  BOOL DrawIcon(int x, int y, HICON hIcon);
  BOOL BitBlt(int x, int y, int nWidth, int nHeight, CDC* pSrcDC, int xSrc, int ySrc, DWORD dwRop);

  int SetBkMode(int nBkMode);             // previous mode
  COLORREF SetBkColor(COLORREF crColor);  // previous colour
  COLORREF GetBkColor() const;
  COLORREF SetTextColor(COLORREF crColor);  // previous colour
  // ::GetClipBox on m_hDC, logical units: the region type (NULLREGION, SIMPLEREGION, ...).
  int GetClipBox(LPRECT lpRect) const;
  void LPtoDP(LPRECT lpRect) const;
  void DPtoLP(LPRECT lpRect) const;
  int GetMapMode() const;
  int SetMapMode(int nMapMode);  // previous mode
  SIZE GetWindowExt() const;
  SIZE SetWindowExt(int cx, int cy);  // previous extent
  SIZE SetWindowExt(SIZE size);
  SIZE GetViewportExt() const;
  SIZE SetViewportExt(int cx, int cy);  // previous extent
  SIZE SetViewportExt(SIZE size);
  POINT SetWindowOrg(int x, int y);  // previous origin
};

// BeginPaint in the constructor, EndPaint in the destructor; m_ps holds the paint record.
class CPaintDC : public CDC {
 public:
  explicit CPaintDC(CWnd* pWnd);
  ~CPaintDC() override;

  PAINTSTRUCT m_ps = {};

 private:
  HWND m_hWnd;
};
