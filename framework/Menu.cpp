#include "framework/Menu.h"

#include "framework/TempMap.h"

namespace {

BOOL IsLiveMenu(HMENU hMenu) {
  return ::IsMenu(hMenu);
}

CTempMap<HMENU, CMenu, IsLiveMenu>& TempMenuMap() {
  static CTempMap<HMENU, CMenu, IsLiveMenu> s_map;
  return s_map;
}

}  // namespace

CMenu* CMenu::FromHandle(HMENU hMenu) {
  return TempMenuMap().Lookup(hMenu);
}

BOOL CMenu::Attach(HMENU hMenu) {
  if (m_hMenu || !hMenu) return FALSE;
  m_hMenu = hMenu;
  return TRUE;
}

HMENU CMenu::Detach() {
  HMENU hMenu = m_hMenu;
  m_hMenu = nullptr;
  return hMenu;
}

BOOL CMenu::AppendMenu(UINT nFlags, UINT_PTR nIDNewItem, LPCSTR lpszNewItem) {
  return ::AppendMenuA(m_hMenu, nFlags, nIDNewItem, lpszNewItem);
}
