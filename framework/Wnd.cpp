#include "framework/Wnd.h"

#include <map>
#include <new>

#include "framework/App.h"
#include "framework/Gdi.h"
#include "framework/Menu.h"
#include "framework/TempMap.h"

namespace {

BOOL IsLiveWindow(HWND hWnd) {
  return ::IsWindow(hWnd);
}

// Windows bound to objects by SubclassWindow. Never destroyed, so that a static window object
// destroyed late at exit can still unbind itself.
std::map<HWND, CWnd*>& PermanentMap() {
  static auto* s_pMap = new std::map<HWND, CWnd*>;
  return *s_pMap;
}

CTempMap<HWND, CWnd, IsLiveWindow>& TempWndMap() {
  static CTempMap<HWND, CWnd, IsLiveWindow> s_map;
  return s_map;
}

}  // namespace

bool CCmdTarget::DispatchToMap(UINT nMsg, WPARAM wParam, LPARAM lParam, LRESULT* pResult) {
  const UINT nCode = HIWORD(wParam);
  const UINT nId = LOWORD(wParam);
  for (const CMsgMap* pMap = GetMessageMap(); pMap;
       pMap = pMap->pfnGetBaseMap ? pMap->pfnGetBaseMap() : nullptr) {
    for (const CMsgMapEntry* pEntry = pMap->pEntries; pEntry && pEntry->pfnThunk; ++pEntry) {
      if (pEntry->nMessage != nMsg) continue;
      if (nMsg == WM_COMMAND &&
          (pEntry->nCode != nCode || nId < pEntry->nIdFirst || nId > pEntry->nIdLast))
        continue;
      *pResult = pEntry->pfnThunk(this, wParam, lParam);
      return true;
    }
  }
  return false;
}

const CMsgMap* CCmdTarget::GetThisMessageMap() {
  static const CMsgMapEntry s_entries[] = {{0, 0, 0, 0, nullptr}};
  static const CMsgMap s_map = {nullptr, s_entries};
  return &s_map;
}

const CMsgMap* CCmdTarget::GetMessageMap() const {
  return GetThisMessageMap();
}

BEGIN_MESSAGE_MAP(CWnd, CCmdTarget)
END_MESSAGE_MAP()

CWnd::~CWnd() {
  if (m_pfnSuper) UnsubclassWindow();
}

CWnd* CWnd::FromHandlePermanent(HWND hWnd) {
  auto& map = PermanentMap();
  auto it = map.find(hWnd);
  return it == map.end() ? nullptr : it->second;
}

CWnd* CWnd::FromHandle(HWND hWnd) {
  if (CWnd* pWnd = FromHandlePermanent(hWnd)) return pWnd;
  return TempWndMap().Lookup(hWnd);
}

BOOL CWnd::Attach(HWND hWnd) {
  if (m_hWnd || !hWnd) return FALSE;
  m_hWnd = hWnd;
  return TRUE;
}

HWND CWnd::Detach() {
  HWND hWnd = m_hWnd;
  m_hWnd = nullptr;
  return hWnd;
}

BOOL CWnd::SubclassWindow(HWND hWnd) {
  if (m_hWnd || !::IsWindow(hWnd) || FromHandlePermanent(hWnd)) return FALSE;
  auto& map = PermanentMap();
  try {
    map[hWnd] = this;
  } catch (const std::bad_alloc&) {
    return FALSE;
  }
  // A temporary wrapper handed out earlier for this handle would now be a second object for
  // the same window; lookups must find the bound one.
  TempWndMap().Remove(hWnd);
  m_hWnd = hWnd;
  PreSubclassWindow();
  m_pfnSuper = reinterpret_cast<WNDPROC>(
      ::SetWindowLongPtrA(hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CWnd::WndProc)));
  if (!m_pfnSuper) {
    map.erase(hWnd);
    m_hWnd = nullptr;
    return FALSE;
  }
  return TRUE;
}

BOOL CWnd::SubclassDlgItem(UINT nID, CWnd* pParent) {
  if (!pParent || !pParent->m_hWnd) return FALSE;
  HWND hWndControl = ::GetDlgItem(pParent->m_hWnd, static_cast<int>(nID));
  return hWndControl ? SubclassWindow(hWndControl) : FALSE;
}

HWND CWnd::UnsubclassWindow() {
  HWND hWnd = m_hWnd;
  if (!hWnd || !m_pfnSuper) return nullptr;
  ::SetWindowLongPtrA(hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_pfnSuper));
  m_pfnSuper = nullptr;
  PermanentMap().erase(hWnd);
  m_hWnd = nullptr;
  return hWnd;
}

BOOL CWnd::DestroyWindow() {
  if (!m_hWnd) return FALSE;
  return ::DestroyWindow(m_hWnd);
}

LRESULT CWnd::Default() {
  if (!m_pCurrentMsg) return 0;
  return DefWindowProc(m_pCurrentMsg->nMessage, m_pCurrentMsg->wParam, m_pCurrentMsg->lParam);
}

LRESULT CWnd::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  if (m_pfnSuper) return ::CallWindowProcA(m_pfnSuper, m_hWnd, message, wParam, lParam);
  return ::DefWindowProcA(m_hWnd, message, wParam, lParam);
}

bool CWnd::ReflectToChild(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult) {
  HWND hWndChild = nullptr;
  UINT nReflected = 0;
  WPARAM wReflected = wParam;
  LPARAM lReflected = lParam;
  switch (message) {
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORSTATIC:
      hWndChild = reinterpret_cast<HWND>(lParam);
      nReflected = WM_CTLCOLOR_REFLECT;
      lReflected = message == WM_CTLCOLOREDIT ? CTLCOLOR_EDIT : CTLCOLOR_STATIC;
      break;
    case WM_DRAWITEM: {
      auto* pDis = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
      if (!pDis || pDis->CtlType == ODT_MENU) return false;
      hWndChild = pDis->hwndItem;
      nReflected = WM_DRAWITEM_REFLECT;
      break;
    }
    default:
      return false;
  }
  if (!hWndChild || hWndChild == m_hWnd || !FromHandlePermanent(hWndChild)) return false;
  LRESULT lResult = ::SendMessageA(hWndChild, nReflected, wReflected, lReflected);
  if (!lResult) return false;
  *pResult = lResult;
  return true;
}

LRESULT CWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  LRESULT lResult = 0;
  if (ReflectToChild(message, wParam, lParam, &lResult)) return lResult;

  const CCurrentMsg msg = {message, wParam, lParam};
  const CCurrentMsg* pPrevious = m_pCurrentMsg;
  m_pCurrentMsg = &msg;
  bool bHandled = DispatchToMap(message, wParam, lParam, &lResult);
  if (!bHandled && message == WM_COMMAND) {
    CWinApp* pApp = AfxGetApp();
    if (pApp) bHandled = pApp->DispatchToMap(message, wParam, lParam, &lResult);
  }
  m_pCurrentMsg = pPrevious;
  return bHandled ? lResult : DefWindowProc(message, wParam, lParam);
}

LRESULT CALLBACK CWnd::WndProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
  CWnd* pWnd = FromHandlePermanent(hWnd);
  if (!pWnd) return ::DefWindowProcA(hWnd, message, wParam, lParam);
  LRESULT lResult = 0;
  try {
    lResult = pWnd->WindowProc(message, wParam, lParam);
  } catch (...) {
    lResult = 0;
  }
  // The last message a window gets: the object lets go so that it can outlive the window.
  if (message == WM_NCDESTROY && FromHandlePermanent(hWnd) == pWnd) pWnd->UnsubclassWindow();
  return lResult;
}

void CWnd::PreSubclassWindow() {}

void CWnd::DoDataExchange(CDataExchange*) {}

void CWnd::DrawItem(LPDRAWITEMSTRUCT) {}

void CWnd::OnPaint() {
  Default();
}
void CWnd::OnSysCommand(UINT, LPARAM) {
  Default();
}
HCURSOR CWnd::OnQueryDragIcon() {
  return reinterpret_cast<HCURSOR>(Default());
}
void CWnd::OnMouseMove(UINT, POINT) {
  Default();
}
BOOL CWnd::OnEraseBkgnd(CDC*) {
  return static_cast<BOOL>(Default());
}
UINT CWnd::OnGetDlgCode() {
  return static_cast<UINT>(Default());
}

LRESULT CWnd::SendMessage(UINT message, WPARAM wParam, LPARAM lParam) const {
  return ::SendMessageA(m_hWnd, message, wParam, lParam);
}

CWnd* CWnd::GetDlgItem(int nID) const {
  return FromHandle(::GetDlgItem(m_hWnd, nID));
}

int CWnd::GetDlgCtrlID() const {
  return ::GetDlgCtrlID(m_hWnd);
}

CWnd* CWnd::GetParent() const {
  return FromHandle(::GetParent(m_hWnd));
}

void CWnd::SetWindowText(LPCSTR lpszString) {
  ::SetWindowTextA(m_hWnd, lpszString);
}

int CWnd::GetWindowText(LPSTR lpszStringBuf, int nMaxCount) const {
  return ::GetWindowTextA(m_hWnd, lpszStringBuf, nMaxCount);
}

int CWnd::GetWindowTextLength() const {
  return ::GetWindowTextLengthA(m_hWnd);
}

BOOL CWnd::EnableWindow(BOOL bEnable) {
  return ::EnableWindow(m_hWnd, bEnable);
}

BOOL CWnd::IsIconic() const {
  return ::IsIconic(m_hWnd);
}

// A null window handle means the whole desktop to these two calls.
void CWnd::InvalidateRect(const RECT* lpRect, BOOL bErase) {
  if (m_hWnd) ::InvalidateRect(m_hWnd, lpRect, bErase);
}

BOOL CWnd::RedrawWindow(const RECT* lpRectUpdate, HRGN hrgnUpdate, UINT flags) {
  if (!m_hWnd) return FALSE;
  return ::RedrawWindow(m_hWnd, lpRectUpdate, hrgnUpdate, flags);
}

void CWnd::GetClientRect(LPRECT lpRect) const {
  ::GetClientRect(m_hWnd, lpRect);
}

void CWnd::GetWindowRect(LPRECT lpRect) const {
  ::GetWindowRect(m_hWnd, lpRect);
}

void CWnd::ClientToScreen(LPPOINT lpPoint) const {
  ::ClientToScreen(m_hWnd, lpPoint);
}

DWORD CWnd::GetStyle() const {
  return static_cast<DWORD>(::GetWindowLongPtrA(m_hWnd, GWL_STYLE));
}

BOOL CWnd::ModifyStyle(DWORD dwRemove, DWORD dwAdd, UINT nFlags) {
  DWORD dwStyle = GetStyle();
  DWORD dwNewStyle = (dwStyle & ~dwRemove) | dwAdd;
  if (dwStyle == dwNewStyle) return FALSE;
  ::SetWindowLongPtrA(m_hWnd, GWL_STYLE, static_cast<LONG_PTR>(dwNewStyle));
  if (nFlags) {
    ::SetWindowPos(m_hWnd, nullptr, 0, 0, 0, 0,
                   SWP_NOSIZE | SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE | nFlags);
  }
  return TRUE;
}

CMenu* CWnd::GetSystemMenu(BOOL bRevert) const {
  return CMenu::FromHandle(::GetSystemMenu(m_hWnd, bRevert));
}

HICON CWnd::SetIcon(HICON hIcon, BOOL bBigIcon) {
  return reinterpret_cast<HICON>(::SendMessageA(
      m_hWnd, WM_SETICON, bBigIcon ? ICON_BIG : ICON_SMALL, reinterpret_cast<LPARAM>(hIcon)));
}

CWnd* CWnd::SetCapture() {
  return FromHandle(::SetCapture(m_hWnd));
}

int CWnd::MessageBox(LPCSTR lpszText, LPCSTR lpszCaption, UINT nType) {
  return ::MessageBoxA(m_hWnd, lpszText, lpszCaption ? lpszCaption : AfxGetAppTitle(), nType);
}

void CWnd::BeginWaitCursor() {
  AfxBeginWaitCursor();
}

void CWnd::EndWaitCursor() {
  AfxEndWaitCursor();
}
