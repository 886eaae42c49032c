// The application object: start-up through AfxWinMain, the application title from a string
// resource or from the program file's name, message boxes under that title, the busy cursor.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "framework/Framework.h"

namespace {

std::string TempDir() {
  char szDir[MAX_PATH] = {};
  ::GetTempPathA(sizeof(szDir), szDir);
  return szDir;
}

std::string ThisExePath() {
  char szPath[MAX_PATH] = {};
  ::GetModuleFileNameA(nullptr, szPath, sizeof(szPath));
  return szPath;
}

// A copy of this test program under another name, optionally carrying a title string, loaded
// as an image so that the module has a file name and resources like a program.
class CProgramCopy {
 public:
  CProgramCopy(const std::string& strDir, const std::string& strFile) {
    ::CreateDirectoryA(strDir.c_str(), nullptr);
    m_strPath = strDir + "\\" + strFile;
    m_bCopied = ::CopyFileA(ThisExePath().c_str(), m_strPath.c_str(), FALSE) != FALSE;
  }
  ~CProgramCopy() {
    if (m_hModule) ::FreeLibrary(m_hModule);
    ::DeleteFileA(m_strPath.c_str());
  }

  // Strings of one string-table block (16 strings); the title is the first of block 0xE01.
  bool AddTitleBlock(const std::vector<std::string>& strings) {
    std::vector<WORD> block;
    for (size_t i = 0; i < 16; ++i) {
      const std::string s = i < strings.size() ? strings[i] : std::string();
      block.push_back(static_cast<WORD>(s.size()));
      for (char c : s) block.push_back(static_cast<unsigned char>(c));
    }
    HANDLE hUpdate = ::BeginUpdateResourceA(m_strPath.c_str(), FALSE);
    if (!hUpdate) return false;
    BOOL bOk = ::UpdateResourceA(hUpdate, MAKEINTRESOURCEA(6), MAKEINTRESOURCEA((0xE000 >> 4) + 1),
                                 MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL), block.data(),
                                 static_cast<DWORD>(block.size() * sizeof(WORD)));
    return ::EndUpdateResourceA(hUpdate, !bOk) && bOk;
  }

  HINSTANCE Load() {
    m_hModule = ::LoadLibraryExA(m_strPath.c_str(), nullptr, DONT_RESOLVE_DLL_REFERENCES);
    return m_hModule;
  }

  bool m_bCopied = false;

 private:
  std::string m_strPath;
  HMODULE m_hModule = nullptr;
};

TEST(AppTitleTest, ProgramWithoutTitleStringIsNamedAfterItsFileWithoutExtension) {
  EXPECT_EQ(AfxLoadAppTitle(nullptr), "framework_app_test");
  EXPECT_STREQ(AfxGetAppTitle(), "framework_app_test");

  CProgramCopy copy(TempDir() + "fw.title.dir", "Corvane_BT_Setup.EXE");
  ASSERT_TRUE(copy.m_bCopied);
  HINSTANCE hModule = copy.Load();
  ASSERT_NE(hModule, nullptr);
  EXPECT_EQ(AfxLoadAppTitle(hModule), "Corvane_BT_Setup")
      << "dots in the directory name are not the extension";
}

TEST(AppTitleTest, TitleStringResourceWinsOverTheFileName) {
  CProgramCopy copy(TempDir() + "fwtitle", "titled.exe");
  ASSERT_TRUE(copy.m_bCopied);
  ASSERT_TRUE(copy.AddTitleBlock({"Titolo del programma"}));
  HINSTANCE hModule = copy.Load();
  ASSERT_NE(hModule, nullptr);
  EXPECT_EQ(AfxLoadAppTitle(hModule), "Titolo del programma");
}

TEST(AppTitleTest, EmptyTitleStringFallsBackToTheFileName) {
  CProgramCopy copy(TempDir() + "fwtitle", "emptytitle.exe");
  ASSERT_TRUE(copy.m_bCopied);
  ASSERT_TRUE(copy.AddTitleBlock({"", "another string"}));
  HINSTANCE hModule = copy.Load();
  ASSERT_NE(hModule, nullptr);
  EXPECT_EQ(AfxLoadAppTitle(hModule), "emptytitle");
}

class CRecordingApp : public CWinApp {
 public:
  explicit CRecordingApp(BOOL bInitResult, LPCSTR pszName = nullptr)
      : CWinApp(pszName), m_bInitResult(bInitResult) {}
  BOOL InitInstance() override {
    ++m_nInits;
    m_strTitleAtInit = GetAppTitle();
    m_hInstanceAtInit = m_hInstance;
    if (m_bInitResult) ::PostQuitMessage(0);
    return m_bInitResult;
  }
  int ExitInstance() override {
    ++m_nExits;
    return 5;
  }
  BOOL m_bInitResult;
  int m_nInits = 0;
  int m_nExits = 0;
  std::string m_strTitleAtInit;
  HINSTANCE m_hInstanceAtInit = nullptr;
};

TEST(AppStartTest, StartUpRunsInitInstanceOnceAndEndsWhenItReturnsFalse) {
  CRecordingApp app(FALSE);
  EXPECT_EQ(AfxGetApp(), &app);
  EXPECT_EQ(AfxWinMain(::GetModuleHandleA(nullptr)), 5);
  EXPECT_EQ(app.m_nInits, 1);
  EXPECT_EQ(app.m_nExits, 1);
  EXPECT_EQ(app.m_strTitleAtInit, "framework_app_test");
  EXPECT_EQ(app.m_hInstanceAtInit, ::GetModuleHandleA(nullptr));
}

TEST(AppStartTest, InitInstanceReturningTrueRunsTheMessageLoopUntilQuit) {
  CRecordingApp app(TRUE, "Named App");
  EXPECT_EQ(AfxWinMain(::GetModuleHandleA(nullptr)), 5);
  EXPECT_EQ(app.m_nInits, 1);
  EXPECT_EQ(app.m_strTitleAtInit, "Named App");
  EXPECT_STREQ(AfxGetAppTitle(), "Named App");
}

TEST(AppStartTest, WithoutAnApplicationObjectThereIsNothingToRun) {
  EXPECT_EQ(AfxGetApp(), nullptr);
  EXPECT_EQ(AfxWinMain(::GetModuleHandleA(nullptr)), 1);
}

// Answers each message box as it activates and notes its caption, text and owner.
struct CBoxSeen {
  std::string strCaption;
  HWND hWndOwner = nullptr;
  int nBoxes = 0;
};
CBoxSeen g_boxSeen;

LRESULT CALLBACK AnswerBoxes(int nCode, WPARAM wParam, LPARAM lParam) {
  if (nCode == HCBT_ACTIVATE) {
    HWND hWndBox = reinterpret_cast<HWND>(wParam);
    char szClass[16] = {};
    ::GetClassNameA(hWndBox, szClass, sizeof(szClass));
    // The owner is activated again when the box goes; only the box itself counts.
    if (std::string(szClass) != "#32770") return ::CallNextHookEx(nullptr, nCode, wParam, lParam);
    char szCaption[128] = {};
    ::GetWindowTextA(hWndBox, szCaption, sizeof(szCaption));
    g_boxSeen.strCaption = szCaption;
    g_boxSeen.hWndOwner = ::GetWindow(hWndBox, GW_OWNER);
    ++g_boxSeen.nBoxes;
    ::PostMessageA(hWndBox, WM_COMMAND, IDOK, 0);
  }
  return ::CallNextHookEx(nullptr, nCode, wParam, lParam);
}

TEST(AppMessageBoxTest, MessageBoxIsCaptionedWithTheTitleAndOwnedByTheMainWindow) {
  HWND hWndMain = ::CreateWindowExA(0, "STATIC", "main", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0,
                                    200, 100, nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(hWndMain, nullptr);
  CWnd mainWnd;
  ASSERT_TRUE(mainWnd.SubclassWindow(hWndMain));
  CRecordingApp app(FALSE, "Box Title");
  app.m_pMainWnd = &mainWnd;

  HHOOK hHook = ::SetWindowsHookExA(WH_CBT, AnswerBoxes, nullptr, ::GetCurrentThreadId());
  ASSERT_NE(hHook, nullptr);
  g_boxSeen = CBoxSeen();
  EXPECT_EQ(AfxMessageBox("Something went wrong.", MB_OK | MB_ICONEXCLAMATION), IDOK);
  EXPECT_EQ(g_boxSeen.nBoxes, 1);
  EXPECT_EQ(g_boxSeen.strCaption, "Box Title");
  EXPECT_EQ(g_boxSeen.hWndOwner, hWndMain);

  g_boxSeen = CBoxSeen();
  EXPECT_EQ(mainWnd.MessageBox("From the window."), IDOK);
  EXPECT_EQ(g_boxSeen.strCaption, "Box Title");
  EXPECT_EQ(g_boxSeen.hWndOwner, hWndMain);
  ::UnhookWindowsHookEx(hHook);
  ::DestroyWindow(hWndMain);
}

TEST(AppWaitCursorTest, BusyCursorShowsUntilTheLastEndAndThenTheOldCursorReturns) {
  HCURSOR hArrow = ::LoadCursorA(nullptr, IDC_ARROW);
  HCURSOR hWait = ::LoadCursorA(nullptr, IDC_WAIT);
  ::SetCursor(hArrow);
  AfxEndWaitCursor();
  EXPECT_EQ(::GetCursor(), hArrow) << "an unbalanced End changes nothing";
  {
    CWaitCursor wait;
    EXPECT_EQ(::GetCursor(), hWait);
    CWnd wnd;
    wnd.BeginWaitCursor();
    wnd.EndWaitCursor();
    EXPECT_EQ(::GetCursor(), hWait) << "still inside the outer busy section";
  }
  EXPECT_EQ(::GetCursor(), hArrow);
}

}  // namespace
