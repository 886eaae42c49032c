#pragma once

#include <windows.h>
// uxtheme.h builds on the types of windows.h.
#include <uxtheme.h>

// Run-time access to the visual-styles library "UXTHEME.DLL", loaded from the system folder
// only. The program never links against it, so it starts on systems that lack it; every operation
// here can always be called and answers with its negative value (null theme handle or FALSE),
// calling nothing, while the library is not loaded.
//
// All state is class-wide. The program has exactly one instance, a static object defined
// next to the application object; its constructor loads the library before the first
// window exists and its destructor, at process exit, frees it. Only the GUI thread calls
// these operations; there is no lock.
class CThemeApi {
 public:
  // The three platform operations loading goes through. The default is LoadSystemLibrary,
  // GetProcAddress and FreeLibrary; tests put in a fake library.
  struct CLoader {
    decltype(::LoadLibraryA)* pfnLoadLibrary;
    decltype(::GetProcAddress)* pfnGetProcAddress;
    decltype(::FreeLibrary)* pfnFreeLibrary;
  };

  // Increments the instance count and, while the library is not loaded, tries to load
  // it: "UXTHEME.DLL" plus all seven functions, or nothing (a library that lacks any one
  // of them is freed at once).
  CThemeApi();
  // The last instance to go frees the library; a later instance loads it again.
  virtual ~CThemeApi();
  // A copy would be one more instance that the count never saw.
  CThemeApi(const CThemeApi&) = delete;
  CThemeApi& operator=(const CThemeApi&) = delete;

  // Theme handle for the window and the class list (8-bit text in the system code page).
  // Null when not loaded, when the library refuses, or when the conversion buffer cannot
  // be allocated. The caller owns the handle and closes it with CloseThemeData.
  static HTHEME OpenThemeData(HWND hWnd, LPCSTR pszClassList);
  // TRUE when the library closed the handle; FALSE, without a call, for a null handle.
  static BOOL CloseThemeData(HTHEME hTheme);
  // Arguments passed through; pClipRect may be null. TRUE when the library succeeded.
  static BOOL DrawThemeBackground(HTHEME hTheme, HDC hDC, int nPartId, int nStateId,
                                  const RECT* pRect, const RECT* pClipRect);
  // pszText is 8-bit text in the system code page, converted to UTF-16 and passed with
  // its length in UTF-16 units. TRUE when the library succeeded; FALSE (nothing drawn)
  // for a null handle or when the conversion buffer cannot be allocated.
  static BOOL DrawThemeText(HTHEME hTheme, HDC hDC, int nPartId, int nStateId, LPCSTR pszText,
                            DWORD dwTextFlags, DWORD dwTextFlags2, const RECT* pRect);
  // The library's answer; FALSE when not loaded.
  static BOOL IsAppThemed();
  // TRUE while the library and all seven functions are present.
  static BOOL IsLoaded();

  // Loads a DLL from the system folder only. A bare name would be looked up in the program's
  // own folder first, so a file of that name placed beside the program (a downloads folder)
  // would run inside it. Null when the library is not there.
  static HMODULE LoadSystemLibrary(LPCSTR pszName);
  // The same by the full path in the system folder: what LoadSystemLibrary does on systems
  // without the loader's search flags.
  static HMODULE LoadSystemLibraryByPath(LPCSTR pszName);

  // Replaces the platform operations used by later loading and unloading; null restores
  // the system's. The loader must outlive its use; set it only while no instance is alive.
  static void SetLoader(const CLoader* pLoader);

 private:
  typedef decltype(::CloseThemeData)* PFN_CLOSE_THEME_DATA;
  typedef decltype(::DrawThemeBackground)* PFN_DRAW_THEME_BACKGROUND;
  typedef decltype(::DrawThemeText)* PFN_DRAW_THEME_TEXT;
  typedef decltype(::GetThemeBackgroundContentRect)* PFN_GET_THEME_BACKGROUND_CONTENT_RECT;
  typedef decltype(::IsAppThemed)* PFN_IS_APP_THEMED;
  typedef decltype(::IsThemeActive)* PFN_IS_THEME_ACTIVE;
  typedef decltype(::OpenThemeData)* PFN_OPEN_THEME_DATA;

  static void Load();
  static void Unload();
  // Converts to a new[]-allocated UTF-16 string (released by the caller with delete[]);
  // null when the buffer cannot be allocated.
  static WCHAR* ToWide(LPCSTR psz);

  // Null means the system's operations. A pointer rather than a copy: the addresses of
  // imported functions are not constants, and the static instance may be constructed
  // before any dynamic initialiser of this file has run.
  static const CLoader* m_pLoader;
  static HMODULE m_hLibrary;
  static BOOL m_bLoaded;
  static LONG m_nInstances;
  static PFN_CLOSE_THEME_DATA m_pfnCloseThemeData;
  static PFN_DRAW_THEME_BACKGROUND m_pfnDrawThemeBackground;
  static PFN_DRAW_THEME_TEXT m_pfnDrawThemeText;
  static PFN_GET_THEME_BACKGROUND_CONTENT_RECT m_pfnGetThemeBackgroundContentRect;
  static PFN_IS_APP_THEMED m_pfnIsAppThemed;
  static PFN_IS_THEME_ACTIVE m_pfnIsThemeActive;
  static PFN_OPEN_THEME_DATA m_pfnOpenThemeData;
};
