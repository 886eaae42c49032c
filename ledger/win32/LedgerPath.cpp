#include "ledger/LedgerPath.h"

#include <windows.h>

namespace {

std::string Folder(const std::string& path) {
  const size_t slash = path.find_last_of("\\/");
  if (slash == std::string::npos)
    return path.size() >= 2 && path[1] == ':' ? path.substr(0, 2) : ".";
  // "C:\ledger.db" lies in the drive's root, "C:\", not in "C:".
  return slash == 2 && path[1] == ':' ? path.substr(0, 3) : path.substr(0, slash);
}

}  // namespace

bool CheckLedgerPath(const std::string& path, std::string* error) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES) {
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
      *error = "is a folder, not a ledger file";
      return false;
    }
    if (attributes & FILE_ATTRIBUTE_READONLY) {
      *error = "the file is read-only";
      return false;
    }
    return true;
  }
  const DWORD code = GetLastError();
  const std::string folder = Folder(path);
  const DWORD folderAttributes = GetFileAttributesA(folder.c_str());
  if (code == ERROR_PATH_NOT_FOUND || folderAttributes == INVALID_FILE_ATTRIBUTES ||
      !(folderAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
    *error = "the folder " + folder + " does not exist";
    return false;
  }
  if (code != ERROR_FILE_NOT_FOUND) {
    *error = "cannot be opened (" + SystemErrorText(static_cast<int>(code)) + ")";
    return false;
  }
  return true;
}

std::string SystemErrorText(int code) {
  char text[256] = "";
  const DWORD length =
      FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                     static_cast<DWORD>(code), 0, text, sizeof text, nullptr);
  std::string message(text, length);
  // The system's texts end in ".\r\n".
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                              message.back() == ' ' || message.back() == '.'))
    message.pop_back();
  return message.empty() ? "system error " + std::to_string(code) : message;
}
