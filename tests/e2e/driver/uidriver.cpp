// uidriver: drives the setup program's windows from outside, as a user would, for the
// end-to-end tests and the demo. A Win32 console program run in the same Wine prefix as the
// program; it reads one command per line on stdin and answers each with exactly one line on
// stdout, "ok ..." or "err ...". Texts in answers and arguments are escaped: \n \r \t \\ and
// \xHH for other bytes outside printable ASCII.
//
// While Read or Program runs, the program's GUI thread does not pump messages. Commands that
// need an answer from that thread (text, check, pos, type) are sent with a time-out and report
// "err busy" instead of hanging; window styles (enabled, visible, style) are read without any
// message and work at all times. A click is sent from a thread of its own, so the driver stays
// free while the handler runs, and "wait-click" tells exactly when the handler has returned.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

const UINT kReplyTimeoutMs = 3000;

HWND g_hwndCurrent = nullptr;
HANDLE g_hClickThread = nullptr;

std::string Escape(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    if (c == '\n')
      out += "\\n";
    else if (c == '\r')
      out += "\\r";
    else if (c == '\t')
      out += "\\t";
    else if (c == '\\')
      out += "\\\\";
    else if (c < 0x20 || c >= 0x7F) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02X", c);
      out += buf;
    } else
      out += static_cast<char>(c);
  }
  return out;
}

std::string Unescape(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      out += text[i];
      continue;
    }
    char c = text[++i];
    if (c == 'n')
      out += '\n';
    else if (c == 'r')
      out += '\r';
    else if (c == 't')
      out += '\t';
    else if (c == 's')
      out += ' ';
    else if (c == 'x' && i + 2 < text.size()) {
      out += static_cast<char>(std::strtol(text.substr(i + 1, 2).c_str(), nullptr, 16));
      i += 2;
    } else
      out += c;
  }
  return out;
}

void Reply(const std::string& line) {
  std::fputs(line.c_str(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

std::string ClassOf(HWND hwnd) {
  char name[64] = "";
  GetClassNameA(hwnd, name, sizeof name);
  return name;
}

// The caption as the window manager keeps it: no message to the window's thread.
std::string CaptionOf(HWND hwnd) {
  WCHAR wide[512] = L"";
  InternalGetWindowText(hwnd, wide, 512);
  char narrow[1024] = "";
  WideCharToMultiByte(CP_ACP, 0, wide, -1, narrow, sizeof narrow, nullptr, nullptr);
  return narrow;
}

struct CFindTitle {
  std::string title;
  HWND found;
};

BOOL CALLBACK FindTitleProc(HWND hwnd, LPARAM lp) {
  auto* ctx = reinterpret_cast<CFindTitle*>(lp);
  if (IsWindowVisible(hwnd) && CaptionOf(hwnd) == ctx->title) {
    ctx->found = hwnd;
    return FALSE;
  }
  return TRUE;
}

HWND FindTopLevel(const std::string& title) {
  CFindTitle ctx{title, nullptr};
  EnumWindows(FindTitleProc, reinterpret_cast<LPARAM>(&ctx));
  return ctx.found;
}

// A message box or any other dialog of the current window's process, other than the current
// window: a visible top-level "#32770" window with a static text of id 0xFFFF.
struct CFindBox {
  DWORD pid;
  HWND exclude;
  HWND found;
};

BOOL CALLBACK FindBoxProc(HWND hwnd, LPARAM lp) {
  auto* ctx = reinterpret_cast<CFindBox*>(lp);
  DWORD pid = 0;
  GetWindowThreadProcessId(hwnd, &pid);
  if (pid == ctx->pid && hwnd != ctx->exclude && IsWindowVisible(hwnd) &&
      ClassOf(hwnd) == "#32770" && GetDlgItem(hwnd, 0xFFFF) != nullptr) {
    ctx->found = hwnd;
    return FALSE;
  }
  return TRUE;
}

HWND FindMessageBox() {
  if (!g_hwndCurrent || !IsWindow(g_hwndCurrent)) return nullptr;
  CFindBox ctx{0, g_hwndCurrent, nullptr};
  GetWindowThreadProcessId(g_hwndCurrent, &ctx.pid);
  EnumWindows(FindBoxProc, reinterpret_cast<LPARAM>(&ctx));
  return ctx.found;
}

std::vector<std::string> ListedComPorts() {
  std::vector<char> buf(65536);
  DWORD n = QueryDosDeviceA(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
  std::vector<std::string> names;
  for (DWORD i = 0; i < n && buf[i];) {
    std::string name(&buf[i]);
    if (name.compare(0, 3, "COM") == 0) names.push_back(name);
    i += static_cast<DWORD>(name.size()) + 1;
  }
  return names;
}

// Wine's mount manager maps the ports of the prefix's Ports key and then every /dev/ttyS*,
// ttyUSB* and ttyACM* of the machine, once each time the wineserver starts. Unlisting ports
// before it has run would be undone by it.
bool MountManagerRunning(void*) {
  SC_HANDLE scm = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
  if (!scm) return false;
  SC_HANDLE svc = OpenServiceA(scm, "MountMgr", SERVICE_QUERY_STATUS);
  SERVICE_STATUS status{};
  bool running =
      svc && QueryServiceStatus(svc, &status) && status.dwCurrentState == SERVICE_RUNNING;
  if (svc) CloseServiceHandle(svc);
  CloseServiceHandle(scm);
  return running;
}

// The mount manager also lists each port under HARDWARE\DEVICEMAP\SERIALCOMM, where some
// programs look for ports instead of the DOS device names.
void ForgetSerialCommEntry(const std::string& port) {
  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0,
                    KEY_QUERY_VALUE | KEY_SET_VALUE, &key) != ERROR_SUCCESS)
    return;
  for (DWORD i = 0;; ++i) {
    char name[256], data[256];
    DWORD nameLen = sizeof name, dataLen = sizeof data, type = 0;
    if (RegEnumValueA(key, i, name, &nameLen, nullptr, &type, reinterpret_cast<BYTE*>(data),
                      &dataLen) != ERROR_SUCCESS)
      break;
    if (type == REG_SZ && dataLen > 0 && _stricmp(data, port.c_str()) == 0) {
      RegDeleteValueA(key, name);
      break;
    }
  }
  RegCloseKey(key);
}

bool WaitFor(DWORD timeoutMs, bool (*ready)(void*), void* arg, DWORD pollMs = 20) {
  DWORD start = GetTickCount();
  for (;;) {
    if (ready(arg)) return true;
    if (GetTickCount() - start >= timeoutMs) return false;
    Sleep(pollMs);
  }
}

HWND Control(int id) {
  if (!g_hwndCurrent || !IsWindow(g_hwndCurrent)) return nullptr;
  return id == 0 ? g_hwndCurrent : GetDlgItem(g_hwndCurrent, id);
}

bool SendWithTimeout(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, DWORD_PTR* result) {
  return SendMessageTimeoutA(hwnd, msg, wp, lp, SMTO_NORMAL, kReplyTimeoutMs, result) != 0;
}

bool GetText(HWND hwnd, std::string* text) {
  char buf[1024] = "";
  DWORD_PTR n = 0;
  if (!SendWithTimeout(hwnd, WM_GETTEXT, sizeof buf, reinterpret_cast<LPARAM>(buf), &n))
    return false;
  *text = std::string(buf, n);
  return true;
}

// Which standard icon a message box shows, told by its pixels: the icon static is captured
// from the screen and compared with each system icon drawn on the same background. Icon
// handles cannot be compared across processes.
std::string IdentifyIcon(HWND hwndIcon) {
  RECT rc;
  GetWindowRect(hwndIcon, &rc);
  const int w = rc.right - rc.left, h = rc.bottom - rc.top;
  if (w <= 0 || h <= 0 || w > 256 || h > 256) return "unknown";
  HDC hdcScreen = GetDC(nullptr);
  HDC hdcShot = CreateCompatibleDC(hdcScreen);
  HDC hdcRef = CreateCompatibleDC(hdcScreen);
  BITMAPINFO bi = {};
  bi.bmiHeader.biSize = sizeof bi.bmiHeader;
  bi.bmiHeader.biWidth = w;
  bi.bmiHeader.biHeight = -h;
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  void* shotBits = nullptr;
  void* refBits = nullptr;
  HBITMAP hShot = CreateDIBSection(hdcScreen, &bi, DIB_RGB_COLORS, &shotBits, nullptr, 0);
  HBITMAP hRef = CreateDIBSection(hdcScreen, &bi, DIB_RGB_COLORS, &refBits, nullptr, 0);
  HGDIOBJ oldShot = SelectObject(hdcShot, hShot);
  HGDIOBJ oldRef = SelectObject(hdcRef, hRef);
  BitBlt(hdcShot, 0, 0, w, h, hdcScreen, rc.left, rc.top, SRCCOPY);
  GdiFlush();
  const auto* shot = static_cast<const DWORD*>(shotBits);
  const auto* ref = static_cast<const DWORD*>(refBits);

  struct CCandidate {
    const char* name;
    LPCSTR id;
  };
  const CCandidate candidates[] = {{"hand", IDI_HAND},
                                   {"question", IDI_QUESTION},
                                   {"exclamation", IDI_EXCLAMATION},
                                   {"asterisk", IDI_ASTERISK}};
  std::string best = "unknown";
  unsigned long long bestScore = ~0ULL, secondScore = ~0ULL;
  const DWORD background = shot[0];
  for (const CCandidate& c : candidates) {
    HICON hIcon = LoadIconA(nullptr, c.id);
    HBRUSH hBrush = CreateSolidBrush(
        RGB((background >> 16) & 0xFF, (background >> 8) & 0xFF, background & 0xFF));
    RECT all = {0, 0, w, h};
    FillRect(hdcRef, &all, hBrush);
    DeleteObject(hBrush);
    DrawIconEx(hdcRef, 0, 0, hIcon, w, h, 0, nullptr, DI_NORMAL);
    GdiFlush();
    unsigned long long score = 0;
    for (int i = 0; i < w * h; ++i) {
      for (int shift = 0; shift < 24; shift += 8) {
        int a = (shot[i] >> shift) & 0xFF, b = (ref[i] >> shift) & 0xFF;
        score += static_cast<unsigned long long>(a > b ? a - b : b - a);
      }
    }
    if (score < bestScore) {
      secondScore = bestScore;
      bestScore = score;
      best = c.name;
    } else if (score < secondScore) {
      secondScore = score;
    }
  }
  SelectObject(hdcShot, oldShot);
  SelectObject(hdcRef, oldRef);
  DeleteObject(hShot);
  DeleteObject(hRef);
  DeleteDC(hdcShot);
  DeleteDC(hdcRef);
  ReleaseDC(nullptr, hdcScreen);
  // A clear winner only: nothing painted yet, or a custom icon, reads as unknown.
  if (bestScore * 2 > secondScore) return "unknown";
  return best;
}

struct CBoxChildren {
  HWND icon;
  std::string buttons;
};

BOOL CALLBACK BoxChildProc(HWND hwnd, LPARAM lp) {
  auto* ctx = reinterpret_cast<CBoxChildren*>(lp);
  if (!IsWindowVisible(hwnd)) return TRUE;
  const std::string cls = ClassOf(hwnd);
  const LONG_PTR style = GetWindowLongPtrA(hwnd, GWL_STYLE);
  if (_stricmp(cls.c_str(), "Static") == 0 && (style & SS_TYPEMASK) == SS_ICON) {
    ctx->icon = hwnd;
  } else if (_stricmp(cls.c_str(), "Button") == 0) {
    std::string text;
    if (!GetText(hwnd, &text)) text = "?";
    if (!ctx->buttons.empty()) ctx->buttons += ",";
    ctx->buttons += std::to_string(GetDlgCtrlID(hwnd)) + ":" + Escape(text);
  }
  return TRUE;
}

DWORD WINAPI ClickThread(LPVOID arg) {
  HWND hwnd = static_cast<HWND>(arg);
  // Returns when the button's handler has returned: Read and Program run inside it.
  SendMessageA(hwnd, BM_CLICK, 0, 0);
  return 0;
}

int ParseInt(const std::string& s) {
  return static_cast<int>(std::strtol(s.c_str(), nullptr, 0));
}

// Splits off the first n space-separated words; the rest of the line stays whole.
std::vector<std::string> Split(const std::string& line, size_t words, std::string* rest) {
  std::vector<std::string> out;
  size_t pos = 0;
  while (out.size() < words) {
    while (pos < line.size() && line[pos] == ' ') ++pos;
    size_t end = line.find(' ', pos);
    if (end == std::string::npos) end = line.size();
    out.push_back(line.substr(pos, end - pos));
    pos = end;
  }
  if (pos < line.size()) ++pos;
  *rest = pos <= line.size() ? line.substr(pos) : std::string();
  return out;
}

struct CWaitTitle {
  std::string title;
  HWND found;
};

bool TitleShown(void* arg) {
  auto* w = static_cast<CWaitTitle*>(arg);
  w->found = FindTopLevel(w->title);
  return w->found != nullptr;
}

bool TitleGone(void* arg) {
  return FindTopLevel(static_cast<CWaitTitle*>(arg)->title) == nullptr;
}

bool BoxShown(void* arg) {
  *static_cast<HWND*>(arg) = FindMessageBox();
  return *static_cast<HWND*>(arg) != nullptr;
}

void Run(const std::string& line) {
  std::string rest;
  std::vector<std::string> w = Split(line, 1, &rest);
  const std::string& cmd = w[0];

  if (cmd == "use" || cmd == "gone") {  // use|gone TIMEOUT_MS TITLE
    std::vector<std::string> a = Split(rest, 1, &rest);
    CWaitTitle ctx{Unescape(rest), nullptr};
    if (cmd == "use") {
      // Looked for often: the start-up benchmark times a program's start by this wait.
      if (!WaitFor(ParseInt(a[0]), TitleShown, &ctx, 5)) return Reply("err timeout");
      g_hwndCurrent = ctx.found;
      char buf[32];
      std::snprintf(buf, sizeof buf, "ok %p", static_cast<void*>(ctx.found));
      return Reply(buf);
    }
    return Reply(WaitFor(ParseInt(a[0]), TitleGone, &ctx) ? "ok" : "err timeout");
  }
  if (cmd == "ports") {  // the COM names the system lists, as the program would see them
    std::string names;
    for (const std::string& name : ListedComPorts()) names += " " + name;
    return Reply("ok" + names);
  }
  if (cmd == "only-ports") {  // only-ports TIMEOUT_MS NAME...: every other COM port unlisted
    std::vector<std::string> keep;
    while (!rest.empty()) keep.push_back(Split(rest, 1, &rest)[0]);
    if (keep.empty()) return Reply("err usage");
    DWORD timeoutMs = static_cast<DWORD>(ParseInt(keep[0]));
    keep.erase(keep.begin());
    if (!WaitFor(timeoutMs, MountManagerRunning, nullptr)) return Reply("err mountmgr");
    std::string names;
    for (const std::string& name : ListedComPorts()) {
      bool kept = false;
      for (const std::string& k : keep) kept = kept || _stricmp(k.c_str(), name.c_str()) == 0;
      if (kept) continue;
      if (!DefineDosDeviceA(DDD_REMOVE_DEFINITION, name.c_str(), nullptr))
        return Reply("err remove " + name);
      ForgetSerialCommEntry(name);
    }
    for (const std::string& name : ListedComPorts()) names += " " + name;
    return Reply("ok" + names);
  }
  if (cmd == "wait-click") {  // wait-click TIMEOUT_MS
    if (!g_hClickThread) return Reply("err no-click");
    if (WaitForSingleObject(g_hClickThread, ParseInt(rest)) != WAIT_OBJECT_0)
      return Reply("err timeout");
    CloseHandle(g_hClickThread);
    g_hClickThread = nullptr;
    return Reply("ok");
  }
  if (cmd == "msgbox") {  // msgbox TIMEOUT_MS: title, text, icon and buttons of the box shown
    HWND box = nullptr;
    if (!WaitFor(ParseInt(rest), BoxShown, &box)) return Reply("err timeout");
    std::string text;
    if (!GetText(GetDlgItem(box, 0xFFFF), &text)) return Reply("err busy");
    CBoxChildren children{nullptr, ""};
    EnumChildWindows(box, BoxChildProc, reinterpret_cast<LPARAM>(&children));
    // The icon's pixels are there only once the box has painted: look again for a while.
    std::string icon = "none";
    for (int i = 0; children.icon && i < 20; ++i) {
      Sleep(150);
      icon = IdentifyIcon(children.icon);
      if (icon != "unknown") break;
    }
    return Reply("ok title=" + Escape(CaptionOf(box)) + "\ttext=" + Escape(text) +
                 "\ticon=" + icon + "\tbuttons=" + children.buttons);
  }
  if (cmd == "texts") {  // id=text of every visible child of the current window, tab-separated
    if (!g_hwndCurrent || !IsWindow(g_hwndCurrent)) return Reply("err no-window");
    std::string out;
    for (HWND child = GetWindow(g_hwndCurrent, GW_CHILD); child;
         child = GetWindow(child, GW_HWNDNEXT)) {
      if (!IsWindowVisible(child)) continue;
      std::string text;
      if (!GetText(child, &text)) return Reply("err busy");
      out += out.empty() ? " " : "\t";
      out += std::to_string(static_cast<short>(GetDlgCtrlID(child))) + "=" + Escape(text);
    }
    return Reply("ok" + out);
  }
  if (cmd == "nobox") return Reply(FindMessageBox() ? "err box" : "ok");
  if (cmd == "answer") {  // answer ID: the user clicks that button of the message box
    HWND box = FindMessageBox();
    HWND button = box ? GetDlgItem(box, ParseInt(rest)) : nullptr;
    if (!button) return Reply("err no-button");
    PostMessageA(button, BM_CLICK, 0, 0);
    return Reply("ok");
  }
  if (cmd == "busy") {  // 1 while the GUI thread does not answer messages
    DWORD_PTR r = 0;
    if (!g_hwndCurrent || !IsWindow(g_hwndCurrent)) return Reply("err no-window");
    bool answered = SendMessageTimeoutA(g_hwndCurrent, WM_NULL, 0, 0, SMTO_NORMAL, 200, &r) != 0;
    return Reply(answered ? "ok 0" : "ok 1");
  }
  if (cmd == "rect") {  // the current window on the screen: x y width height
    RECT rc;
    if (!g_hwndCurrent || !GetWindowRect(g_hwndCurrent, &rc)) return Reply("err no-window");
    char buf[64];
    std::snprintf(buf, sizeof buf, "ok %ld %ld %ld %ld", rc.left, rc.top, rc.right - rc.left,
                  rc.bottom - rc.top);
    return Reply(buf);
  }
  if (cmd == "syscommand") {  // syscommand ID: a system-menu entry chosen
    if (!g_hwndCurrent || !IsWindow(g_hwndCurrent)) return Reply("err no-window");
    PostMessageA(g_hwndCurrent, WM_SYSCOMMAND, static_cast<WPARAM>(ParseInt(rest)), 0);
    return Reply("ok");
  }

  // Commands on one control of the current window; id 0 is the window itself.
  std::vector<std::string> a = Split(rest, 1, &rest);
  HWND hwnd = Control(ParseInt(a[0]));
  if (!hwnd) return Reply("err no-control");
  const std::string arg = Unescape(rest);

  if (cmd == "enabled") return Reply(IsWindowEnabled(hwnd) ? "ok 1" : "ok 0");
  if (cmd == "visible") return Reply(IsWindowVisible(hwnd) ? "ok 1" : "ok 0");
  if (cmd == "style") {
    char buf[64];
    std::snprintf(buf, sizeof buf, "ok 0x%08lX 0x%08lX",
                  static_cast<unsigned long>(GetWindowLongPtrA(hwnd, GWL_STYLE)),
                  static_cast<unsigned long>(GetWindowLongPtrA(hwnd, GWL_EXSTYLE)));
    return Reply(buf);
  }
  if (cmd == "class") return Reply("ok " + ClassOf(hwnd));
  if (cmd == "text") {
    std::string text;
    return Reply(GetText(hwnd, &text) ? "ok " + Escape(text) : "err busy");
  }
  if (cmd == "check" || cmd == "pos") {
    DWORD_PTR r = 0;
    if (!SendWithTimeout(hwnd, cmd == "check" ? BM_GETCHECK : PBM_GETPOS, 0, 0, &r))
      return Reply("err busy");
    return Reply("ok " + std::to_string(static_cast<long>(r)));
  }
  if (cmd == "click") {  // click ID: as a mouse click on the button; returns at once
    if (g_hClickThread) return Reply("err click-pending");
    g_hClickThread = CreateThread(nullptr, 0, ClickThread, hwnd, 0, nullptr);
    return Reply(g_hClickThread ? "ok" : "err thread");
  }
  if (cmd == "post-click") {
    PostMessageA(hwnd, BM_CLICK, 0, 0);
    return Reply("ok");
  }
  if (cmd == "settext") {
    DWORD_PTR r = 0;
    if (!SendWithTimeout(hwnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(arg.c_str()), &r))
      return Reply("err busy");
    return Reply("ok");
  }
  if (cmd == "type") {  // type ID TEXT: each character as typed, so the edit's limit applies
    DWORD_PTR r = 0;
    for (unsigned char c : arg)
      if (!SendWithTimeout(hwnd, WM_CHAR, c, 1, &r)) return Reply("err busy");
    return Reply("ok");
  }
  if (cmd == "focus") {  // focus ID: the dialog moves the focus to that control
    DWORD_PTR r = 0;
    if (!SendWithTimeout(g_hwndCurrent, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(hwnd), TRUE, &r))
      return Reply("err busy");
    return Reply("ok");
  }
  if (cmd == "key") {  // key ID ESCAPE|RETURN|TAB: a key pressed while that control has focus
    WPARAM vk = arg == "ESCAPE"   ? VK_ESCAPE
                : arg == "RETURN" ? VK_RETURN
                : arg == "TAB"    ? VK_TAB
                                  : 0;
    if (!vk) return Reply("err key");
    // Posted like real input, so the dialog's message loop sees it and applies its keyboard
    // rules (IsDialogMessage) before the control does.
    PostMessageA(hwnd, WM_KEYDOWN, vk, 1);
    PostMessageA(hwnd, WM_KEYUP, vk, 0xC0000001);
    return Reply("ok");
  }
  Reply("err unknown-command");
}

}  // namespace

int main() {
  char line[4096];
  while (std::fgets(line, sizeof line, stdin)) {
    std::string s(line);
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
    if (s.empty()) continue;
    if (s == "quit") break;
    Run(s);
  }
  if (g_hClickThread) {
    WaitForSingleObject(g_hClickThread, 5000);
    CloseHandle(g_hClickThread);
  }
  return 0;
}
