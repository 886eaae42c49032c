#include "framework/Gdi.h"

#include "framework/TempMap.h"
#include "framework/Wnd.h"

namespace {

BOOL IsLiveDC(HDC hDC) {
  return ::GetObjectType(hDC) != 0;
}
BOOL IsLiveBitmap(HBITMAP hBitmap) {
  return ::GetObjectType(hBitmap) == OBJ_BITMAP;
}

CTempMap<HDC, CDC, IsLiveDC>& TempDCMap() {
  static CTempMap<HDC, CDC, IsLiveDC> s_map;
  return s_map;
}

CTempMap<HBITMAP, CBitmap, IsLiveBitmap>& TempBitmapMap() {
  static CTempMap<HBITMAP, CBitmap, IsLiveBitmap> s_map;
  return s_map;
}

}  // namespace

CGdiObject::~CGdiObject() {
  DeleteObject();
}

BOOL CGdiObject::Attach(HGDIOBJ hObject) {
  if (m_hObject || !hObject) return FALSE;
  m_hObject = hObject;
  return TRUE;
}

HGDIOBJ CGdiObject::Detach() {
  HGDIOBJ hObject = m_hObject;
  m_hObject = nullptr;
  return hObject;
}

BOOL CGdiObject::DeleteObject() {
  if (!m_hObject) return FALSE;
  return ::DeleteObject(Detach());
}

CBrush::CBrush(COLORREF crColor) {
  CreateSolidBrush(crColor);
}

BOOL CBrush::CreateSolidBrush(COLORREF crColor) {
  if (m_hObject) return FALSE;
  return Attach(::CreateSolidBrush(crColor));
}

CBitmap* CBitmap::FromHandle(HBITMAP hBitmap) {
  return TempBitmapMap().Lookup(hBitmap);
}

BOOL CBitmap::CreateCompatibleBitmap(CDC* pDC, int nWidth, int nHeight) {
  if (m_hObject || !pDC) return FALSE;
  return Attach(::CreateCompatibleBitmap(pDC->m_hDC, nWidth, nHeight));
}

CDC::~CDC() {
  if (m_hDC) DeleteDC();
}

CDC* CDC::FromHandle(HDC hDC) {
  return TempDCMap().Lookup(hDC);
}

BOOL CDC::Attach(HDC hDC) {
  if (m_hDC || !hDC) return FALSE;
  m_hDC = m_hAttribDC = hDC;
  return TRUE;
}

HDC CDC::Detach() {
  HDC hDC = m_hDC;
  m_hDC = m_hAttribDC = nullptr;
  return hDC;
}

BOOL CDC::DeleteDC() {
  if (!m_hDC) return FALSE;
  return ::DeleteDC(Detach());
}

BOOL CDC::CreateCompatibleDC(CDC* pDC) {
  if (m_hDC) return FALSE;
  return Attach(::CreateCompatibleDC(pDC ? pDC->m_hDC : nullptr));
}

HGDIOBJ CDC::SelectObject(HGDIOBJ hObject) {
  HGDIOBJ hOld = nullptr;
  if (m_hDC != m_hAttribDC && m_hDC) hOld = ::SelectObject(m_hDC, hObject);
  if (m_hAttribDC) hOld = ::SelectObject(m_hAttribDC, hObject);
  return hOld;
}

CBitmap* CDC::SelectObject(CBitmap* pBitmap) {
  if (!pBitmap) return nullptr;
  HGDIOBJ hOld = SelectObject(pBitmap->m_hObject);
  return CBitmap::FromHandle(static_cast<HBITMAP>(hOld));
}

void CDC::FillRect(const RECT* lpRect, CBrush* pBrush) {
  ::FillRect(m_hDC, lpRect, pBrush ? static_cast<HBRUSH>(pBrush->m_hObject) : nullptr);
}

void CDC::FrameRect(const RECT* lpRect, CBrush* pBrush) {
  ::FrameRect(m_hDC, lpRect, pBrush ? static_cast<HBRUSH>(pBrush->m_hObject) : nullptr);
}

BOOL CDC::DrawFrameControl(LPRECT lpRect, UINT nType, UINT nState) {
  return ::DrawFrameControl(m_hDC, lpRect, nType, nState);
}

BOOL CDC::DrawState(HBRUSH hBrush, DRAWSTATEPROC lpOutputFunc, LPARAM lData, WPARAM wData, int x,
                    int y, int cx, int cy, UINT uFlags) {
  return ::DrawStateA(m_hDC, hBrush, lpOutputFunc, lData, wData, x, y, cx, cy, uFlags);
}

int CDC::DrawText(LPCSTR lpszString, int nCount, LPRECT lpRect, UINT nFormat) {
  return ::DrawTextA(m_hDC, lpszString, nCount, lpRect, nFormat);
}

void CDC::DrawFocusRect(const RECT* lpRect) {
  ::DrawFocusRect(m_hDC, lpRect);
}

BOOL CDC::DrawIcon(int x, int y, HICON hIcon) {
  return ::DrawIcon(m_hDC, x, y, hIcon);
}

BOOL CDC::BitBlt(int x, int y, int nWidth, int nHeight, CDC* pSrcDC, int xSrc, int ySrc,
                 DWORD dwRop) {
  return ::BitBlt(m_hDC, x, y, nWidth, nHeight, pSrcDC ? pSrcDC->m_hDC : nullptr, xSrc, ySrc,
                  dwRop);
}

int CDC::SetBkMode(int nBkMode) {
  int nOld = 0;
  if (m_hDC != m_hAttribDC && m_hDC) nOld = ::SetBkMode(m_hDC, nBkMode);
  if (m_hAttribDC) nOld = ::SetBkMode(m_hAttribDC, nBkMode);
  return nOld;
}

COLORREF CDC::SetBkColor(COLORREF crColor) {
  COLORREF crOld = CLR_INVALID;
  if (m_hDC != m_hAttribDC && m_hDC) crOld = ::SetBkColor(m_hDC, crColor);
  if (m_hAttribDC) crOld = ::SetBkColor(m_hAttribDC, crColor);
  return crOld;
}

COLORREF CDC::GetBkColor() const {
  return ::GetBkColor(m_hAttribDC);
}

COLORREF CDC::SetTextColor(COLORREF crColor) {
  COLORREF crOld = CLR_INVALID;
  if (m_hDC != m_hAttribDC && m_hDC) crOld = ::SetTextColor(m_hDC, crColor);
  if (m_hAttribDC) crOld = ::SetTextColor(m_hAttribDC, crColor);
  return crOld;
}

int CDC::GetClipBox(LPRECT lpRect) const {
  return ::GetClipBox(m_hDC, lpRect);
}

void CDC::LPtoDP(LPRECT lpRect) const {
  ::LPtoDP(m_hAttribDC, reinterpret_cast<LPPOINT>(lpRect), 2);
}

void CDC::DPtoLP(LPRECT lpRect) const {
  ::DPtoLP(m_hAttribDC, reinterpret_cast<LPPOINT>(lpRect), 2);
}

int CDC::GetMapMode() const {
  return ::GetMapMode(m_hAttribDC);
}

int CDC::SetMapMode(int nMapMode) {
  int nOld = 0;
  if (m_hDC != m_hAttribDC && m_hDC) nOld = ::SetMapMode(m_hDC, nMapMode);
  if (m_hAttribDC) nOld = ::SetMapMode(m_hAttribDC, nMapMode);
  return nOld;
}

SIZE CDC::GetWindowExt() const {
  SIZE size = {0, 0};
  ::GetWindowExtEx(m_hAttribDC, &size);
  return size;
}

SIZE CDC::SetWindowExt(int cx, int cy) {
  SIZE size = {0, 0};
  if (m_hDC != m_hAttribDC && m_hDC) ::SetWindowExtEx(m_hDC, cx, cy, &size);
  if (m_hAttribDC) ::SetWindowExtEx(m_hAttribDC, cx, cy, &size);
  return size;
}

SIZE CDC::SetWindowExt(SIZE size) {
  return SetWindowExt(size.cx, size.cy);
}

SIZE CDC::GetViewportExt() const {
  SIZE size = {0, 0};
  ::GetViewportExtEx(m_hAttribDC, &size);
  return size;
}

SIZE CDC::SetViewportExt(int cx, int cy) {
  SIZE size = {0, 0};
  if (m_hDC != m_hAttribDC && m_hDC) ::SetViewportExtEx(m_hDC, cx, cy, &size);
  if (m_hAttribDC) ::SetViewportExtEx(m_hAttribDC, cx, cy, &size);
  return size;
}

SIZE CDC::SetViewportExt(SIZE size) {
  return SetViewportExt(size.cx, size.cy);
}

POINT CDC::SetWindowOrg(int x, int y) {
  POINT point = {0, 0};
  if (m_hDC != m_hAttribDC && m_hDC) ::SetWindowOrgEx(m_hDC, x, y, &point);
  if (m_hAttribDC) ::SetWindowOrgEx(m_hAttribDC, x, y, &point);
  return point;
}

CPaintDC::CPaintDC(CWnd* pWnd) : m_hWnd(pWnd ? pWnd->m_hWnd : nullptr) {
  Attach(::BeginPaint(m_hWnd, &m_ps));
}

CPaintDC::~CPaintDC() {
  // EndPaint releases the context; the base destructor must not delete it as well.
  if (m_hDC) ::EndPaint(m_hWnd, &m_ps);
  Detach();
}
