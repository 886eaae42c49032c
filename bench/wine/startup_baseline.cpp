// The smallest dialog program with the setup program's title: one button, no manifest, no
// common controls, no visual styles. bench_wine.py starts it and the setup program under the
// same Wine, in the same run, and reports the program's start-up as a ratio to this one's.
#include <windows.h>

namespace {

INT_PTR CALLBACK DialogProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM) {
  if (msg == WM_COMMAND && LOWORD(wParam) == IDCANCEL) {
    EndDialog(hwnd, IDCANCEL);
    return TRUE;
  }
  return FALSE;
}

}  // namespace

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE, LPSTR, int) {
  return static_cast<int>(DialogBoxParamA(hInstance, MAKEINTRESOURCEA(1), nullptr, DialogProc, 0));
}
