#include "framework/App.h"

#include <commctrl.h>

#include "framework/Wnd.h"

namespace {

CWinApp* g_pApp = nullptr;
HINSTANCE g_hInstance = nullptr;

struct CWaitCursorState {
  int nCount = 0;
  HCURSOR hRestore = nullptr;
};

CWaitCursorState& WaitCursorState() {
  static CWaitCursorState s_state;
  return s_state;
}

std::string ModuleFileTitle(HINSTANCE hModule) {
  std::string strPath(MAX_PATH, '\0');
  for (;;) {
    DWORD nLen = ::GetModuleFileNameA(hModule, &strPath[0], static_cast<DWORD>(strPath.size()));
    if (nLen == 0) return std::string();
    // A full buffer means the path was cut; long paths are rare but legal.
    if (nLen < strPath.size() || strPath.size() >= 32768) {
      strPath.resize(nLen);
      break;
    }
    strPath.resize(strPath.size() * 2);
  }
  std::string::size_type nStart = strPath.find_last_of("\\/:");
  std::string strName = nStart == std::string::npos ? strPath : strPath.substr(nStart + 1);
  std::string::size_type nDot = strName.rfind('.');
  if (nDot != std::string::npos) strName.resize(nDot);
  return strName;
}

}  // namespace

CWinApp::CWinApp(LPCSTR pszAppName) {
  if (pszAppName) m_strAppName = pszAppName;
  g_pApp = this;
}

CWinApp::~CWinApp() {
  if (g_pApp == this) g_pApp = nullptr;
}

BOOL CWinApp::InitInstance() {
  return TRUE;
}

int CWinApp::ExitInstance() {
  return 0;
}

LPCSTR CWinApp::GetAppTitle() {
  if (m_strAppName.empty()) m_strAppName = AfxLoadAppTitle(m_hInstance);
  return m_strAppName.c_str();
}

void CWinApp::OnHelp() {}

CWinApp* AfxGetApp() {
  return g_pApp;
}

HINSTANCE AfxGetInstanceHandle() {
  return g_hInstance ? g_hInstance : ::GetModuleHandleA(nullptr);
}

int AfxWinMain(HINSTANCE hInstance) {
  g_hInstance = hInstance;
  CWinApp* pApp = AfxGetApp();
  if (!pApp) return 1;
  pApp->m_hInstance = AfxGetInstanceHandle();
  pApp->GetAppTitle();
  INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
  ::InitCommonControlsEx(&icc);

  if (pApp->InitInstance()) {
    MSG msg;
    while (::GetMessageA(&msg, nullptr, 0, 0) > 0) {
      ::TranslateMessage(&msg);
      ::DispatchMessageA(&msg);
    }
  }
  return pApp->ExitInstance();
}

std::string AfxLoadAppTitle(HINSTANCE hModule) {
  if (!hModule) hModule = ::GetModuleHandleA(nullptr);
  char szTitle[256];
  int nLen = ::LoadStringA(hModule, AFX_IDS_APP_TITLE, szTitle, sizeof(szTitle));
  if (nLen > 0) return std::string(szTitle, static_cast<size_t>(nLen));
  return ModuleFileTitle(hModule);
}

LPCSTR AfxGetAppTitle() {
  if (CWinApp* pApp = AfxGetApp()) return pApp->GetAppTitle();
  static const std::string s_strTitle = AfxLoadAppTitle(nullptr);
  return s_strTitle.c_str();
}

int AfxMessageBox(LPCSTR lpszText, UINT nType) {
  HWND hWndOwner = nullptr;
  CWinApp* pApp = AfxGetApp();
  if (pApp && pApp->m_pMainWnd && ::IsWindow(pApp->m_pMainWnd->m_hWnd))
    hWndOwner = pApp->m_pMainWnd->m_hWnd;
  else
    hWndOwner = ::GetActiveWindow();
  return ::MessageBoxA(hWndOwner, lpszText, AfxGetAppTitle(), nType);
}

void AfxBeginWaitCursor() {
  CWaitCursorState& state = WaitCursorState();
  HCURSOR hPrevious = ::SetCursor(::LoadCursorA(nullptr, IDC_WAIT));
  if (state.nCount++ == 0) state.hRestore = hPrevious;
}

void AfxEndWaitCursor() {
  CWaitCursorState& state = WaitCursorState();
  if (state.nCount == 0) return;
  if (--state.nCount == 0) {
    ::SetCursor(state.hRestore);
    state.hRestore = nullptr;
  }
}

// Lives beside CWinApp so that the program's application object pulls it out of the static
// library; the C runtime's entry calls it before any library after ours is searched.
int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE, LPSTR, int) {
  return AfxWinMain(hInstance);
}
