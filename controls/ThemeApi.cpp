#include "controls/ThemeApi.h"

#include <cstring>
#include <cwchar>
#include <new>

const CThemeApi::CLoader* CThemeApi::m_pLoader = nullptr;
HMODULE CThemeApi::m_hLibrary = nullptr;
BOOL CThemeApi::m_bLoaded = FALSE;
LONG CThemeApi::m_nInstances = 0;
CThemeApi::PFN_CLOSE_THEME_DATA CThemeApi::m_pfnCloseThemeData = nullptr;
CThemeApi::PFN_DRAW_THEME_BACKGROUND CThemeApi::m_pfnDrawThemeBackground = nullptr;
CThemeApi::PFN_DRAW_THEME_TEXT CThemeApi::m_pfnDrawThemeText = nullptr;
CThemeApi::PFN_GET_THEME_BACKGROUND_CONTENT_RECT CThemeApi::m_pfnGetThemeBackgroundContentRect =
    nullptr;
CThemeApi::PFN_IS_APP_THEMED CThemeApi::m_pfnIsAppThemed = nullptr;
CThemeApi::PFN_IS_THEME_ACTIVE CThemeApi::m_pfnIsThemeActive = nullptr;
CThemeApi::PFN_OPEN_THEME_DATA CThemeApi::m_pfnOpenThemeData = nullptr;

namespace {
// FARPROC has a fixed signature of its own; going through void(*)() (the generic function
// pointer type) keeps GCC's -Wcast-function-type quiet for a cast that is intended.
template <typename T>
T ProcAs(FARPROC pfn) {
  return reinterpret_cast<T>(reinterpret_cast<void (*)()>(pfn));
}
}  // namespace

CThemeApi::CThemeApi() {
  ++m_nInstances;
  if (!m_bLoaded) Load();
}

CThemeApi::~CThemeApi() {
  if (m_nInstances > 0 && --m_nInstances > 0) return;
  Unload();
}

void CThemeApi::SetLoader(const CLoader* pLoader) {
  m_pLoader = pLoader;
}

HMODULE CThemeApi::LoadSystemLibrary(LPCSTR pszName) {
  // LOAD_LIBRARY_SEARCH_SYSTEM32 also keeps the library's own imports to the system folder,
  // but only systems with AddDllDirectory (Windows 8, or 7 with its loader update) know the
  // flag; older ones reject it, and there the full path does.
  HMODULE hKernel = ::GetModuleHandleA("KERNEL32.DLL");
  if (hKernel && ::GetProcAddress(hKernel, "AddDllDirectory"))
    return ::LoadLibraryExA(pszName, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  return LoadSystemLibraryByPath(pszName);
}

HMODULE CThemeApi::LoadSystemLibraryByPath(LPCSTR pszName) {
  char szPath[MAX_PATH];
  const UINT nDir = ::GetSystemDirectoryA(szPath, MAX_PATH);
  const size_t nName = std::strlen(pszName);
  if (nDir == 0 || nDir + 1 + nName >= MAX_PATH) return nullptr;
  szPath[nDir] = '\\';
  std::memcpy(szPath + nDir + 1, pszName, nName + 1);
  // With a full path, the altered search order looks for the library's imports beside it,
  // in the system folder, before the program's folder.
  return ::LoadLibraryExA(szPath, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

void CThemeApi::Load() {
  m_hLibrary =
      m_pLoader ? m_pLoader->pfnLoadLibrary("UXTHEME.DLL") : LoadSystemLibrary("UXTHEME.DLL");
  if (!m_hLibrary) return;

  auto lookUp = [](LPCSTR pszName) {
    return m_pLoader ? m_pLoader->pfnGetProcAddress(m_hLibrary, pszName)
                     : ::GetProcAddress(m_hLibrary, pszName);
  };
  m_pfnCloseThemeData = ProcAs<PFN_CLOSE_THEME_DATA>(lookUp("CloseThemeData"));
  m_pfnDrawThemeBackground = ProcAs<PFN_DRAW_THEME_BACKGROUND>(lookUp("DrawThemeBackground"));
  m_pfnDrawThemeText = ProcAs<PFN_DRAW_THEME_TEXT>(lookUp("DrawThemeText"));
  m_pfnGetThemeBackgroundContentRect =
      ProcAs<PFN_GET_THEME_BACKGROUND_CONTENT_RECT>(lookUp("GetThemeBackgroundContentRect"));
  m_pfnIsAppThemed = ProcAs<PFN_IS_APP_THEMED>(lookUp("IsAppThemed"));
  m_pfnIsThemeActive = ProcAs<PFN_IS_THEME_ACTIVE>(lookUp("IsThemeActive"));
  m_pfnOpenThemeData = ProcAs<PFN_OPEN_THEME_DATA>(lookUp("OpenThemeData"));

  if (m_pfnCloseThemeData && m_pfnDrawThemeBackground && m_pfnDrawThemeText &&
      m_pfnGetThemeBackgroundContentRect && m_pfnIsAppThemed && m_pfnIsThemeActive &&
      m_pfnOpenThemeData) {
    m_bLoaded = TRUE;
    return;
  }
  // An incomplete library counts as absent; holding it would gain nothing.
  Unload();
}

void CThemeApi::Unload() {
  if (m_hLibrary) {
    if (m_pLoader)
      m_pLoader->pfnFreeLibrary(m_hLibrary);
    else
      ::FreeLibrary(m_hLibrary);
  }
  m_hLibrary = nullptr;
  m_bLoaded = FALSE;
}

WCHAR* CThemeApi::ToWide(LPCSTR psz) {
  if (!psz) psz = "";
  const int nBytes = static_cast<int>(std::strlen(psz)) + 1;
  const int n = ::MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, psz, nBytes, nullptr, 0);
  // Two spare units, zeroed, so that a failed conversion still leaves a terminated string.
  WCHAR* pwsz = new (std::nothrow) WCHAR[n + 2]();
  if (!pwsz) return nullptr;
  ::MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, psz, nBytes, pwsz, n + 2);
  return pwsz;
}

HTHEME CThemeApi::OpenThemeData(HWND hWnd, LPCSTR pszClassList) {
  if (!m_bLoaded) return nullptr;
  WCHAR* pwszClassList = ToWide(pszClassList);
  if (!pwszClassList) return nullptr;
  HTHEME hTheme = m_pfnOpenThemeData(hWnd, pwszClassList);
  delete[] pwszClassList;
  return hTheme;
}

BOOL CThemeApi::CloseThemeData(HTHEME hTheme) {
  if (!m_bLoaded || !hTheme) return FALSE;
  return SUCCEEDED(m_pfnCloseThemeData(hTheme));
}

BOOL CThemeApi::DrawThemeBackground(HTHEME hTheme, HDC hDC, int nPartId, int nStateId,
                                    const RECT* pRect, const RECT* pClipRect) {
  if (!m_bLoaded || !hTheme) return FALSE;
  return SUCCEEDED(m_pfnDrawThemeBackground(hTheme, hDC, nPartId, nStateId, pRect, pClipRect));
}

BOOL CThemeApi::DrawThemeText(HTHEME hTheme, HDC hDC, int nPartId, int nStateId, LPCSTR pszText,
                              DWORD dwTextFlags, DWORD dwTextFlags2, const RECT* pRect) {
  if (!m_bLoaded || !hTheme) return FALSE;
  WCHAR* pwszText = ToWide(pszText);
  if (!pwszText) return FALSE;
  const int nChars = static_cast<int>(std::wcslen(pwszText));
  const HRESULT hr = m_pfnDrawThemeText(hTheme, hDC, nPartId, nStateId, pwszText, nChars,
                                        dwTextFlags, dwTextFlags2, pRect);
  delete[] pwszText;
  return SUCCEEDED(hr);
}

BOOL CThemeApi::IsAppThemed() {
  return m_bLoaded ? m_pfnIsAppThemed() : FALSE;
}

BOOL CThemeApi::IsLoaded() {
  return m_bLoaded;
}
