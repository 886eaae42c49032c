#include "engine/os/Platform.h"

#include <windows.h>

#include <io.h>
#include <stdio.h>

#include <iostream>
#include <memory>

bool StderrIsTerminal() {
  return _isatty(_fileno(stderr)) != 0;
}

int StderrTerminalRows() {
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &info)) return 0;
  return info.srWindow.Bottom - info.srWindow.Top + 1;
}

int StderrTerminalColumns() {
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &info)) return 0;
  return info.srWindow.Right - info.srWindow.Left + 1;
}

bool StdoutIsTerminal() {
  return _isatty(_fileno(stdout)) != 0;
}

void WriteStderrRaw(const std::string& text) {
  const HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
  size_t done = 0;
  while (done < text.size()) {
    DWORD wrote = 0;
    if (!WriteFile(err, text.data() + done, static_cast<DWORD>(text.size() - done), &wrote,
                   nullptr) ||
        wrote == 0) {
      return;
    }
    done += wrote;
  }
}

bool WriteStdoutRaw(const std::string& text) {
  const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  size_t done = 0;
  while (done < text.size()) {
    DWORD wrote = 0;
    if (!WriteFile(out, text.data() + done, static_cast<DWORD>(text.size() - done), &wrote,
                   nullptr) ||
        wrote == 0) {
      return false;
    }
    done += wrote;
  }
  return true;
}

// Windows opens serial ports by their COM names.
DevicePathOpener PlatformDevicePaths() {
  return DevicePathOpener();
}

bool IsOwnTerminal(const std::string&) {
  return false;
}

std::string DeviceIdentity(const std::string& path) {
  // Windows opens ports by their DOS names: the full name, in one case, is the device.
  char full[MAX_PATH] = "";
  const DWORD length = GetFullPathNameA(path.c_str(), sizeof full, full, nullptr);
  if (length == 0 || length >= sizeof full) return std::string();
  std::string identity = full;
  for (char& c : identity) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  return identity;
}

namespace {

std::string LastErrorText() {
  char text[256] = "";
  FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                 GetLastError(), 0, text, sizeof text, nullptr);
  std::string message = text;
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                              message.back() == ' ' || message.back() == '.')) {
    message.pop_back();
  }
  return message.empty() ? "error " + std::to_string(GetLastError()) : message;
}

}  // namespace

bool ReadSmallFile(const std::string& path, size_t maxBytes, const CInterrupt& interrupt,
                   std::string* text, std::string* error) {
  text->clear();
  if (path == "-") {
    char buffer[65536];
    while (std::cin.read(buffer, sizeof buffer) || std::cin.gcount() > 0) {
      text->append(buffer, static_cast<size_t>(std::cin.gcount()));
      if (interrupt.IsSet()) {
        *error = "interrupted";
        return false;
      }
      if (text->size() > maxBytes) {
        *error = "larger than " + std::to_string(maxBytes >> 20) + " MB";
        return false;
      }
    }
    return true;
  }
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    *error = path + " is a folder, not a file";
    return false;
  }
  const HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    *error = "cannot read " + path + ": " + LastErrorText();
    return false;
  }
  LARGE_INTEGER size{};
  bool ok = false;
  if (GetFileType(file) != FILE_TYPE_DISK) {
    *error = path + " is not a regular file";
  } else if (!GetFileSizeEx(file, &size)) {
    *error = "cannot read " + path + ": " + LastErrorText();
  } else if (static_cast<unsigned long long>(size.QuadPart) > maxBytes) {
    *error = path + " is larger than " + std::to_string(maxBytes >> 20) + " MB";
  } else {
    text->resize(static_cast<size_t>(size.QuadPart));
    DWORD got = 0;
    ok = text->empty() ||
         (ReadFile(file, &(*text)[0], static_cast<DWORD>(text->size()), &got, nullptr) &&
          got == text->size());
    if (!ok) *error = "cannot read " + path + ": " + LastErrorText();
  }
  CloseHandle(file);
  return ok;
}

std::thread StartWorkerThread(std::function<void()> work) {
  // The console's control handler runs on a thread of its own; nothing to route here.
  return std::thread(std::move(work));
}

std::string HostName() {
  char name[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD size = sizeof name;
  if (!GetComputerNameA(name, &size) || size == 0) return "station";
  return std::string(name, size);
}

void HideLocationPasswords(int, char**) {
  // No PostgreSQL ledger in this build, so no password in a ledger URL to hide.
}
