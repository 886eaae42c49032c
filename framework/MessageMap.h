// Message maps: static tables of {message, notification code, id range, handler thunk}, one
// per class, each naming its base class's table. A message is looked up in the most derived
// table first, then in each base table in turn; the first matching entry runs and its result
// is the message's result. A message that no table handles goes to the object's default
// processing (CWnd::DefWindowProc for windows).
//
// Usage, in the class:            DECLARE_MESSAGE_MAP()
// and in its .cpp:                BEGIN_MESSAGE_MAP(CMyDlg, CDialog)
//                                     ON_BN_CLICKED(IDC_READ, OnRead)
//                                     ON_WM_PAINT()
//                                 END_MESSAGE_MAP()
// Handlers may be protected or private members; the table is built inside a member function.
#pragma once

#include <windows.h>

class CCmdTarget;
class CDC;

// Calls one handler: casts the target to the class that declared the entry, unpacks wParam
// and lParam into the handler's arguments and packs its answer into the message result.
using AFX_PMSGTHUNK = LRESULT (*)(CCmdTarget* pTarget, WPARAM wParam, LPARAM lParam);

struct CMsgMapEntry {
  UINT nMessage;
  UINT nCode;     // WM_COMMAND only: the notification code (HIWORD of wParam)
  UINT nIdFirst;  // WM_COMMAND only: the control or command id range (LOWORD of wParam)
  UINT nIdLast;
  AFX_PMSGTHUNK pfnThunk;  // null ends the table
};

struct CMsgMap {
  const CMsgMap* (*pfnGetBaseMap)();  // null for the root of the chain
  const CMsgMapEntry* pEntries;
};

// Control messages that a parent hands back to the control that sent them ("reflection"):
// the message number is WM_REFLECT_BASE plus the original message.
#define WM_REFLECT_BASE 0xBC00
// The classic control-colour message number; the parent reflects WM_CTLCOLOREDIT and
// WM_CTLCOLORSTATIC as WM_REFLECT_BASE + AFX_WM_CTLCOLOR (0xBC19).
#define AFX_WM_CTLCOLOR 0x0019
#define WM_CTLCOLOR_REFLECT (WM_REFLECT_BASE + AFX_WM_CTLCOLOR)
#define WM_DRAWITEM_REFLECT (WM_REFLECT_BASE + WM_DRAWITEM)

class CCmdTarget {
 public:
  CCmdTarget() = default;
  CCmdTarget(const CCmdTarget&) = delete;
  CCmdTarget& operator=(const CCmdTarget&) = delete;
  virtual ~CCmdTarget() = default;

  // Runs the first entry of the map chain that matches the message and stores its answer in
  // *pResult. Returns false, leaving *pResult alone, when no table has an entry for it.
  bool DispatchToMap(UINT nMsg, WPARAM wParam, LPARAM lParam, LRESULT* pResult);

  static const CMsgMap* GetThisMessageMap();
  virtual const CMsgMap* GetMessageMap() const;
};

#define DECLARE_MESSAGE_MAP()                    \
 public:                                         \
  static const CMsgMap* GetThisMessageMap();     \
  const CMsgMap* GetMessageMap() const override; \
                                                 \
 protected:

#define BEGIN_MESSAGE_MAP(theClass, baseClass)     \
  const CMsgMap* theClass::GetMessageMap() const { \
    return GetThisMessageMap();                    \
  }                                                \
  const CMsgMap* theClass::GetThisMessageMap() {   \
    using ThisClass [[maybe_unused]] = theClass;   \
    using TheBaseClass = baseClass;                \
    static const CMsgMapEntry s_entries[] = {
#define END_MESSAGE_MAP()                                                     \
  { 0, 0, 0, 0, nullptr }                                                     \
  }                                                                           \
  ;                                                                           \
  static const CMsgMap s_map = {&TheBaseClass::GetThisMessageMap, s_entries}; \
  return &s_map;                                                              \
  }

// LRESULT memberFxn(WPARAM, LPARAM)
#define ON_MESSAGE(message, memberFxn)                                    \
  {(message), 0, 0, 0, [](CCmdTarget* p, WPARAM w, LPARAM l) -> LRESULT { \
     return static_cast<ThisClass*>(p)->memberFxn(w, l);                  \
   }},

// void memberFxn(): a WM_COMMAND with notification code 0 (button click, menu command).
#define ON_COMMAND(id, memberFxn)                                                        \
  {WM_COMMAND, 0, (UINT)(id), (UINT)(id), [](CCmdTarget* p, WPARAM, LPARAM) -> LRESULT { \
     static_cast<ThisClass*>(p)->memberFxn();                                            \
     return 0;                                                                           \
   }},

// void memberFxn()
#define ON_BN_CLICKED(id, memberFxn)                                                              \
  {WM_COMMAND, BN_CLICKED, (UINT)(id), (UINT)(id), [](CCmdTarget* p, WPARAM, LPARAM) -> LRESULT { \
     static_cast<ThisClass*>(p)->memberFxn();                                                     \
     return 0;                                                                                    \
   }},

// void OnPaint()
#define ON_WM_PAINT()                                                \
  {WM_PAINT, 0, 0, 0, [](CCmdTarget* p, WPARAM, LPARAM) -> LRESULT { \
     static_cast<ThisClass*>(p)->OnPaint();                          \
     return 0;                                                       \
   }},

// void OnSysCommand(UINT nID, LPARAM lParam)
#define ON_WM_SYSCOMMAND()                                                    \
  {WM_SYSCOMMAND, 0, 0, 0, [](CCmdTarget* p, WPARAM w, LPARAM l) -> LRESULT { \
     static_cast<ThisClass*>(p)->OnSysCommand(static_cast<UINT>(w), l);       \
     return 0;                                                                \
   }},

// HCURSOR OnQueryDragIcon()
#define ON_WM_QUERYDRAGICON()                                                         \
  {WM_QUERYDRAGICON, 0, 0, 0, [](CCmdTarget* p, WPARAM, LPARAM) -> LRESULT {          \
     return reinterpret_cast<LRESULT>(static_cast<ThisClass*>(p)->OnQueryDragIcon()); \
   }},

// void OnMouseMove(UINT nFlags, POINT point), point in client coordinates
#define ON_WM_MOUSEMOVE()                                                       \
  {WM_MOUSEMOVE, 0, 0, 0, [](CCmdTarget* p, WPARAM w, LPARAM l) -> LRESULT {    \
     POINT pt = {static_cast<short>(LOWORD(l)), static_cast<short>(HIWORD(l))}; \
     static_cast<ThisClass*>(p)->OnMouseMove(static_cast<UINT>(w), pt);         \
     return 0;                                                                  \
   }},

// BOOL OnEraseBkgnd(CDC* pDC)
#define ON_WM_ERASEBKGND()                                                                       \
  {WM_ERASEBKGND, 0, 0, 0, [](CCmdTarget* p, WPARAM w, LPARAM) -> LRESULT {                      \
     return static_cast<ThisClass*>(p)->OnEraseBkgnd(CDC::FromHandle(reinterpret_cast<HDC>(w))); \
   }},

// UINT OnGetDlgCode()
#define ON_WM_GETDLGCODE()                                                    \
  {WM_GETDLGCODE, 0, 0, 0, [](CCmdTarget* p, WPARAM, LPARAM) -> LRESULT {     \
     return static_cast<LRESULT>(static_cast<ThisClass*>(p)->OnGetDlgCode()); \
   }},

// HBRUSH CtlColor(CDC* pDC, UINT nCtlColor): the control's answer to its own
// WM_CTLCOLOREDIT / WM_CTLCOLORSTATIC, reflected by the parent (wParam the HDC, lParam
// CTLCOLOR_EDIT or CTLCOLOR_STATIC). A null brush lets the parent colour the control.
#define ON_WM_CTLCOLOR_REFLECT()                                                    \
  {WM_CTLCOLOR_REFLECT, 0, 0, 0, [](CCmdTarget* p, WPARAM w, LPARAM l) -> LRESULT { \
     return reinterpret_cast<LRESULT>(static_cast<ThisClass*>(p)->CtlColor(         \
         CDC::FromHandle(reinterpret_cast<HDC>(w)), static_cast<UINT>(l)));         \
   }},

// void DrawItem(LPDRAWITEMSTRUCT): the control's own WM_DRAWITEM, reflected by the parent.
#define ON_WM_DRAWITEM_REFLECT()                                                  \
  {WM_DRAWITEM_REFLECT, 0, 0, 0, [](CCmdTarget* p, WPARAM, LPARAM l) -> LRESULT { \
     static_cast<ThisClass*>(p)->DrawItem(reinterpret_cast<LPDRAWITEMSTRUCT>(l)); \
     return TRUE;                                                                 \
   }},
