#pragma once

// A stand-in for the visual-styles library, offered to CThemeApi through its loader: it can
// be absent, lack any one function, and records every call that reaches it.

#include <windows.h>
// uxtheme.h builds on the types of windows.h.
#include <uxtheme.h>

#include <string>
#include <vector>

#include "controls/ThemeApi.h"

namespace fake_theme {
struct CCall {
  std::string strName;
  HTHEME hTheme = nullptr;
  HWND hWnd = nullptr;
  HDC hDC = nullptr;
  int nPart = 0;
  int nState = 0;
  std::wstring strText;
  int nCount = 0;
  DWORD dwFlags = 0;
  DWORD dwFlags2 = 0;
  RECT rc = {};
  bool bHasClip = false;
};

inline HMODULE const g_hFakeModule = reinterpret_cast<HMODULE>(static_cast<INT_PTR>(0x5A000));
inline HTHEME const g_hFakeTheme = reinterpret_cast<HTHEME>(static_cast<INT_PTR>(0x7E000));

inline bool g_bPresent = true;
inline std::string g_strMissing;  // the one function to leave out, or empty
inline BOOL g_bAppThemed = TRUE;
inline HTHEME g_hOpenResult = g_hFakeTheme;
inline HRESULT g_hrResult = S_OK;
inline int g_nLoads = 0;
inline int g_nFrees = 0;
inline std::vector<std::string> g_lookups;
inline std::vector<CCall> g_calls;

inline void Reset() {
  g_bPresent = true;
  g_strMissing.clear();
  g_bAppThemed = TRUE;
  g_hOpenResult = g_hFakeTheme;
  g_hrResult = S_OK;
  g_nLoads = 0;
  g_nFrees = 0;
  g_lookups.clear();
  g_calls.clear();
}

inline void Record(const char* pszName) {
  CCall call;
  call.strName = pszName;
  g_calls.push_back(call);
}

inline std::vector<std::string> CallNames() {
  std::vector<std::string> names;
  for (const CCall& call : g_calls) names.push_back(call.strName);
  return names;
}

inline HRESULT WINAPI FakeCloseThemeData(HTHEME hTheme) {
  CCall call;
  call.strName = "CloseThemeData";
  call.hTheme = hTheme;
  g_calls.push_back(call);
  return g_hrResult;
}

inline HRESULT WINAPI FakeDrawThemeBackground(HTHEME hTheme, HDC hDC, int nPart, int nState,
                                              const RECT* pRect, const RECT* pClip) {
  CCall call;
  call.strName = "DrawThemeBackground";
  call.hTheme = hTheme;
  call.hDC = hDC;
  call.nPart = nPart;
  call.nState = nState;
  if (pRect) call.rc = *pRect;
  call.bHasClip = pClip != nullptr;
  g_calls.push_back(call);
  return g_hrResult;
}

inline HRESULT WINAPI FakeDrawThemeText(HTHEME hTheme, HDC hDC, int nPart, int nState,
                                        LPCWSTR pszText, int nCount, DWORD dwFlags, DWORD dwFlags2,
                                        const RECT* pRect) {
  CCall call;
  call.strName = "DrawThemeText";
  call.hTheme = hTheme;
  call.hDC = hDC;
  call.nPart = nPart;
  call.nState = nState;
  call.strText = pszText ? pszText : L"(null)";
  call.nCount = nCount;
  call.dwFlags = dwFlags;
  call.dwFlags2 = dwFlags2;
  if (pRect) call.rc = *pRect;
  g_calls.push_back(call);
  return g_hrResult;
}

inline HRESULT WINAPI FakeGetThemeBackgroundContentRect(HTHEME, HDC, int, int, const RECT*, RECT*) {
  Record("GetThemeBackgroundContentRect");
  return g_hrResult;
}

inline BOOL WINAPI FakeIsAppThemed() {
  Record("IsAppThemed");
  return g_bAppThemed;
}

inline BOOL WINAPI FakeIsThemeActive() {
  Record("IsThemeActive");
  return TRUE;
}

inline HTHEME WINAPI FakeOpenThemeData(HWND hWnd, LPCWSTR pszClassList) {
  CCall call;
  call.strName = "OpenThemeData";
  call.hWnd = hWnd;
  call.strText = pszClassList ? pszClassList : L"(null)";
  g_calls.push_back(call);
  return g_hOpenResult;
}

inline HMODULE WINAPI FakeLoadLibraryA(LPCSTR pszName) {
  if (!g_bPresent || lstrcmpA(pszName, "UXTHEME.DLL") != 0) return nullptr;
  ++g_nLoads;
  return g_hFakeModule;
}

template <typename T>
FARPROC AsProc(T pfn) {
  return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(pfn));
}

inline FARPROC WINAPI FakeGetProcAddress(HMODULE hModule, LPCSTR pszName) {
  g_lookups.push_back(pszName);
  const std::string name = pszName;
  if (hModule != g_hFakeModule || name == g_strMissing) return nullptr;
  if (name == "CloseThemeData") return AsProc(&FakeCloseThemeData);
  if (name == "DrawThemeBackground") return AsProc(&FakeDrawThemeBackground);
  if (name == "DrawThemeText") return AsProc(&FakeDrawThemeText);
  if (name == "GetThemeBackgroundContentRect") return AsProc(&FakeGetThemeBackgroundContentRect);
  if (name == "IsAppThemed") return AsProc(&FakeIsAppThemed);
  if (name == "IsThemeActive") return AsProc(&FakeIsThemeActive);
  if (name == "OpenThemeData") return AsProc(&FakeOpenThemeData);
  return nullptr;
}

inline BOOL WINAPI FakeFreeLibrary(HMODULE hModule) {
  if (hModule == g_hFakeModule) ++g_nFrees;
  return TRUE;
}

inline const CThemeApi::CLoader g_loader = {&FakeLoadLibraryA, &FakeGetProcAddress,
                                            &FakeFreeLibrary};

// Puts the fake in place for one test and takes it out again; the test constructs its own
// CThemeApi instances while this lives.
class CScope {
 public:
  CScope() {
    Reset();
    CThemeApi::SetLoader(&g_loader);
  }
  ~CScope() { CThemeApi::SetLoader(nullptr); }
  CScope(const CScope&) = delete;
  CScope& operator=(const CScope&) = delete;
};
}  // namespace fake_theme
