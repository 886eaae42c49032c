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

// GetFileAttributes looks at a link itself, not at its target: a symbolic link or a junction
// shows as a reparse point.
std::string ExistingRisk(DWORD attributes, ELedgerAccess access) {
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    return "is a link; a ledger is never opened through one";
  }
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return "is a folder, not a ledger file";
  if (access == ELedgerAccess::Write && (attributes & FILE_ATTRIBUTE_READONLY)) {
    return "the file is read-only";
  }
  return std::string();
}

}  // namespace

bool CLedgerPath::Prepare(std::string* error) {
  DWORD attributes = GetFileAttributesA(m_strPath.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD code = GetLastError();
    const std::string folder = Folder(m_strPath);
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
    if (m_eAccess == ELedgerAccess::Read) {
      *error = "there is no such file";
      return false;
    }
    // CREATE_NEW fails on anything already there, a link included.
    const HANDLE file = CreateFileA(m_strPath.c_str(), GENERIC_READ | GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      CloseHandle(file);
      m_bMade = true;
      return true;
    }
    attributes = GetFileAttributesA(m_strPath.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
      *error = "cannot create the file in " + folder + " (" +
               SystemErrorText(static_cast<int>(GetLastError())) + ")";
      return false;
    }
  }
  *error = ExistingRisk(attributes, m_eAccess);
  return error->empty();
}

bool CLedgerPath::Verify(std::string* error) const {
  const DWORD attributes = GetFileAttributesA(m_strPath.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES &&
      !(attributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)))
    return true;
  *error = "the file was replaced while it was being opened";
  return false;
}

void CLedgerPath::Discard() {
  if (!m_bMade) return;
  DeleteFileA(m_strPath.c_str());
  DeleteFileA((m_strPath + "-wal").c_str());
  DeleteFileA((m_strPath + "-shm").c_str());
  m_bMade = false;
}

std::string CLedgerPath::SharedMemoryProblem() const {
  return std::string();
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
