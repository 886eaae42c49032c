// CWnd: a C++ object bound to one window handle.
//
// Binding. SubclassWindow/SubclassDlgItem bind an existing window (a dialog's control or the
// dialog itself) to the object: the object enters the handle map, PreSubclassWindow runs, and
// only then is the window procedure replaced by the framework's, which routes every message
// through the object's message map and, when no entry handles it, to DefWindowProc, which
// calls the window's original procedure. UnsubclassWindow puts the original procedure back.
// When the window is destroyed the object is unbound automatically after WM_NCDESTROY, so a
// member control outlives its window safely (m_hWnd is null again).
//
// Reflection. A window of ours that receives WM_CTLCOLOREDIT or WM_CTLCOLORSTATIC from a
// child that is also bound to an object first sends the child WM_CTLCOLOR_REFLECT (0xBC19,
// wParam the HDC, lParam CTLCOLOR_EDIT or CTLCOLOR_STATIC); a non-null brush answered there is
// the parent's answer. WM_DRAWITEM from a bound child is sent back to it as
// WM_DRAWITEM_REFLECT (lParam the DRAWITEMSTRUCT); a non-zero answer ends the parent's
// handling. Children that answer 0 get the parent's own handling and its default colouring.
//
// Temporary objects. FromHandle, GetDlgItem, GetParent return the bound object when there is
// one, else a framework-owned temporary CWnd for the handle. Temporaries are valid while the
// window exists; do not delete them and do not keep them beyond the current message.
//
// All windows live on the one GUI thread; nothing here is thread-safe. No exception leaves
// the framework's window and dialog procedures.
#pragma once

#include <windows.h>

#include "framework/MessageMap.h"

class CDC;
class CMenu;
class CDataExchange;

class CWnd : public CCmdTarget {
 public:
  CWnd() = default;
  // Unbinds a still-bound window (original procedure restored); does not destroy it.
  ~CWnd() override;

  HWND m_hWnd = nullptr;

  HWND GetSafeHwnd() const { return m_hWnd; }
  operator HWND() const { return m_hWnd; }

  // The bound object for the handle, else a temporary one (see above); null for a null handle.
  static CWnd* FromHandle(HWND hWnd);
  // The bound object for the handle, or null.
  static CWnd* FromHandlePermanent(HWND hWnd);

  // Wraps the handle without binding it: no map entry, messages keep their own procedure.
  // False when already holding a handle. Detach forgets the handle and returns it.
  BOOL Attach(HWND hWnd);
  HWND Detach();

  // Binds the window to this object (see above). False when this object is already bound,
  // the handle is not a window or is bound to another object; nothing changes then.
  BOOL SubclassWindow(HWND hWnd);
  // SubclassWindow on the parent's child with that id; false when there is none.
  BOOL SubclassDlgItem(UINT nID, CWnd* pParent);
  // Restores the original window procedure and unbinds; returns the handle (null if unbound).
  HWND UnsubclassWindow();
  // Destroys the window (which unbinds it). False when there is no window.
  BOOL DestroyWindow();

  // Runs the default processing of the message being handled right now (the one whose
  // handler is running on this object); 0 when called outside a handler.
  LRESULT Default();

  // Data exchange between the object and its window's controls; see Dialog.h.
  // bSaveAndValidate TRUE: controls -> members; FALSE: members -> controls (and binding).
  // Returns FALSE when a DDX_ step failed.
  BOOL UpdateData(BOOL bSaveAndValidate = TRUE);

  // Thin wrappers of the USER32 calls of the same name on m_hWnd (8-bit text).
  LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const;
  CWnd* GetDlgItem(int nID) const;  // null when there is no such child
  int GetDlgCtrlID() const;
  CWnd* GetParent() const;  // null when there is none
  void SetWindowText(LPCSTR lpszString);
  int GetWindowText(LPSTR lpszStringBuf, int nMaxCount) const;  // chars copied, w/o the NUL
  int GetWindowTextLength() const;
  BOOL EnableWindow(BOOL bEnable = TRUE);  // the previous disabled state, as ::EnableWindow
  BOOL IsIconic() const;
  // InvalidateRect, RedrawWindow: nothing happens without a window (for USER32 a null handle
  // would mean every window on the desktop).
  void InvalidateRect(const RECT* lpRect, BOOL bErase = TRUE);
  BOOL RedrawWindow(const RECT* lpRectUpdate = nullptr, HRGN hrgnUpdate = nullptr,
                    UINT flags = RDW_INVALIDATE | RDW_UPDATENOW | RDW_ERASE);
  void GetClientRect(LPRECT lpRect) const;
  void GetWindowRect(LPRECT lpRect) const;
  void ClientToScreen(LPPOINT lpPoint) const;
  DWORD GetStyle() const;
  // Clears dwRemove and sets dwAdd in GWL_STYLE; with nFlags non-zero it then calls
  // SetWindowPos(SWP_NOSIZE|SWP_NOMOVE|SWP_NOZORDER|SWP_NOACTIVATE|nFlags), e.g.
  // SWP_FRAMECHANGED. Returns FALSE when the style was already so (nothing done).
  BOOL ModifyStyle(DWORD dwRemove, DWORD dwAdd, UINT nFlags = 0);
  // The window's system menu as a temporary CMenu (null when it has none); see Menu.h.
  CMenu* GetSystemMenu(BOOL bRevert) const;
  // WM_SETICON; returns the previous icon. The window does not take ownership.
  HICON SetIcon(HICON hIcon, BOOL bBigIcon);
  CWnd* SetCapture();
  // MessageBoxA(m_hWnd, ...); a null caption means the application's title.
  int MessageBox(LPCSTR lpszText, LPCSTR lpszCaption = nullptr, UINT nType = MB_OK);
  // The busy cursor; see App.h (AfxBeginWaitCursor).
  void BeginWaitCursor();
  void EndWaitCursor();

  // The default processing of a message: calls the window's original procedure when bound
  // by subclassing, else ::DefWindowProcA. Overrides change what "default" means for the
  // window and usually end by calling the base version.
  virtual LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam);

  // Framework window procedure installed by SubclassWindow.
  static LRESULT CALLBACK WndProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);

  DECLARE_MESSAGE_MAP()

  // Runs after the object is bound and before the window procedure is replaced, so style
  // changes made here still go through the control's own procedure.
  virtual void PreSubclassWindow();
  // Owner-drawn controls override: called with the control's own WM_DRAWITEM reflected by
  // the parent (entry ON_WM_DRAWITEM_REFLECT in the control's map, e.g. CButton's).
  virtual void DrawItem(LPDRAWITEMSTRUCT lpDrawItemStruct);
  virtual void DoDataExchange(CDataExchange* pDX);

  // Dispatch of one message as the window procedure does it: reflection (see above), the
  // message map chain, the application's command map for unhandled WM_COMMAND, and finally
  // DefWindowProc.
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);

  // Default handlers for derived classes' maps: each runs Default() and returns its answer.
  void OnPaint();
  void OnSysCommand(UINT nID, LPARAM lParam);
  HCURSOR OnQueryDragIcon();
  void OnMouseMove(UINT nFlags, POINT point);
  BOOL OnEraseBkgnd(CDC* pDC);
  UINT OnGetDlgCode();

 private:
  struct CCurrentMsg {
    UINT nMessage;
    WPARAM wParam;
    LPARAM lParam;
  };
  bool ReflectToChild(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult);

  WNDPROC m_pfnSuper = nullptr;                // original procedure while bound
  const CCurrentMsg* m_pCurrentMsg = nullptr;  // message being dispatched, for Default()
};
