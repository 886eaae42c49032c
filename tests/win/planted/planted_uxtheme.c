/* A DLL named like the visual-styles library, placed beside a test program as an attacker
 * would place it in a downloads folder. Loading it is the fault: the moment it is mapped it
 * leaves a mark in the process's environment, whether or not anyone then calls into it. */
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE hInstance, DWORD dwReason, LPVOID pReserved) {
  (void)hInstance;
  (void)pReserved;
  if (dwReason == DLL_PROCESS_ATTACH) SetEnvironmentVariableA("CORVANE_PLANTED_UXTHEME", "loaded");
  return TRUE;
}

/* The seven functions the program looks up, so that a load would not be undone at once. */
__declspec(dllexport) HRESULT WINAPI CloseThemeData(HANDLE hTheme) {
  (void)hTheme;
  return S_OK;
}
__declspec(dllexport) HRESULT WINAPI DrawThemeBackground(void) {
  return S_OK;
}
__declspec(dllexport) HRESULT WINAPI DrawThemeText(void) {
  return S_OK;
}
__declspec(dllexport) HRESULT WINAPI GetThemeBackgroundContentRect(void) {
  return S_OK;
}
__declspec(dllexport) BOOL WINAPI IsAppThemed(void) {
  return TRUE;
}
__declspec(dllexport) BOOL WINAPI IsThemeActive(void) {
  return TRUE;
}
__declspec(dllexport) HANDLE WINAPI OpenThemeData(HWND hWnd, LPCWSTR pszClassList) {
  (void)hWnd;
  (void)pszClassList;
  return (HANDLE)1;
}
