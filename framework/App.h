// The application object, start-up, the application title, the message box under that title
// and the busy cursor.
#pragma once

#include <string>

#include <windows.h>

#include "framework/MessageMap.h"

class CWnd;

// String resource id of the application title.
#define AFX_IDS_APP_TITLE 0xE000
#define ID_HELP 0xE146

// The single application object: a static object of a class derived from CWinApp. Its
// constructor registers it; AfxWinMain runs it.
class CWinApp : public CCmdTarget {
 public:
  // pszAppName: the application title; null takes it from the program's resources (see
  // AfxLoadAppTitle) when AfxWinMain starts.
  explicit CWinApp(LPCSTR pszAppName = nullptr);
  ~CWinApp() override;

  // Start-up work of the program. FALSE ends the program at once (the usual case of a
  // dialog program that ran its dialog here); TRUE runs a message loop until WM_QUIT.
  virtual BOOL InitInstance();
  // Runs as the program ends (after InitInstance or the message loop); the exit code.
  virtual int ExitInstance();

  // The application title; loaded on first use when AfxWinMain has not run.
  LPCSTR GetAppTitle();
  // Does nothing: the program has no help file. Target of ID_HELP in command maps.
  void OnHelp();

  HINSTANCE m_hInstance = nullptr;
  CWnd* m_pMainWnd = nullptr;  // set by InitInstance; the owner of message boxes

 protected:
  std::string m_strAppName;
};

// The application object, null when none was constructed.
CWinApp* AfxGetApp();
// The program's module (GetModuleHandle(NULL) until AfxWinMain records its instance).
HINSTANCE AfxGetInstanceHandle();

// The program's start-up: records the instance, loads the title, initialises the common
// controls, calls InitInstance on the application object and ends as described there.
// Returns the process exit code; 1 when there is no application object. The framework's
// WinMain (defined in App.cpp, so the application object brings it in) calls it; a
// program with its own entry point may call it instead.
int AfxWinMain(HINSTANCE hInstance);

// Title of a module: its string resource AFX_IDS_APP_TITLE when present and non-empty,
// else the module's file name without directory and extension. hModule null: the program.
std::string AfxLoadAppTitle(HINSTANCE hModule);
// The application's title (application object's, else the program module's).
LPCSTR AfxGetAppTitle();

// MessageBoxA(owner, text, application title, nType); the owner is the main window when it
// exists, else the active window, and is disabled while the box shows. Blocks until the user
// answers; returns the button id.
int AfxMessageBox(LPCSTR lpszText, UINT nType = MB_OK);

// The busy cursor, counted: the first Begin remembers the current cursor and shows the wait
// cursor; the End that balances the last Begin puts the remembered cursor back. An End
// without a Begin does nothing.
void AfxBeginWaitCursor();
void AfxEndWaitCursor();

// Begin in the constructor, End in the destructor.
class CWaitCursor {
 public:
  CWaitCursor() { AfxBeginWaitCursor(); }
  ~CWaitCursor() { AfxEndWaitCursor(); }
  CWaitCursor(const CWaitCursor&) = delete;
  CWaitCursor& operator=(const CWaitCursor&) = delete;
};
