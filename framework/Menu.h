// CMenu: a menu handle. The program only touches menus that windows own (the system menu),
// so a CMenu never destroys its menu.
#pragma once

#include <windows.h>

class CMenu {
 public:
  CMenu() = default;
  CMenu(const CMenu&) = delete;
  CMenu& operator=(const CMenu&) = delete;

  HMENU m_hMenu = nullptr;

  operator HMENU() const { return m_hMenu; }
  // A framework-owned temporary CMenu for the handle (null for a null handle); do not delete
  // it or keep it beyond the current message.
  static CMenu* FromHandle(HMENU hMenu);

  BOOL Attach(HMENU hMenu);  // false when one is already held or hMenu is null
  HMENU Detach();

  // ::AppendMenuA: nFlags MF_STRING/MF_SEPARATOR..., nIDNewItem the command id.
  BOOL AppendMenu(UINT nFlags, UINT_PTR nIDNewItem = 0, LPCSTR lpszNewItem = nullptr);
};
