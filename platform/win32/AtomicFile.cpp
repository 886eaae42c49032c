#include "platform/AtomicFile.h"

#include <windows.h>

namespace {

HANDLE AsHandle(intptr_t handle) {
  return reinterpret_cast<HANDLE>(handle);
}

bool WriteAll(HANDLE file, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    DWORD wrote = 0;
    if (!WriteFile(file, text.data() + done, static_cast<DWORD>(text.size() - done), &wrote,
                   nullptr) ||
        wrote == 0) {
      return false;
    }
    done += wrote;
  }
  return true;
}

std::string ErrorText(DWORD code) {
  char text[256] = "";
  FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, text,
                 sizeof text, nullptr);
  std::string message = text;
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                              message.back() == ' ' || message.back() == '.')) {
    message.pop_back();
  }
  return message.empty() ? "error " + std::to_string(code) : message;
}

}  // namespace

CAtomicFile::~CAtomicFile() {
  Discard();
}

bool CAtomicFile::IsOpen() const {
  return m_handle != -1;
}

bool CAtomicFile::Open(const std::string& target, std::string* error) {
  Discard();
  const std::string why = CheckWriteTarget(target, EWriteUse::Replace);
  if (!why.empty()) {
    *error = ShownPath(target) + " " + why;
    return false;
  }
  std::string folder, name;
  SplitPath(target, &folder, &name);
  for (int tries = 0; tries < 16; ++tries) {
    const std::string temporary = folder + "\\." + name + "." + RandomSuffix();
    // CREATE_NEW fails on anything already at the name, a link included.
    const HANDLE file = CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_EXISTS) continue;
    if (file == INVALID_HANDLE_VALUE) {
      *error = "cannot create a file in " + ShownPath(folder) + ": " + ErrorText(GetLastError());
      return false;
    }
    m_handle = reinterpret_cast<intptr_t>(file);
    m_strTarget = target;
    m_strTemporary = temporary;
    return true;
  }
  *error = "cannot create a file in " + folder + ": every name tried was taken";
  return false;
}

bool CAtomicFile::Append(const std::string& text) {
  return IsOpen() && WriteAll(AsHandle(m_handle), text);
}

void CAtomicFile::Keep() {
  if (IsOpen()) CloseHandle(AsHandle(m_handle));
  m_handle = -1;
  m_strTemporary.clear();
}

bool CAtomicFile::Commit(std::string* error) {
  if (!IsOpen()) return false;
  const HANDLE file = AsHandle(m_handle);
  if (!FlushFileBuffers(file)) {
    *error = ErrorText(GetLastError());
    Discard();
    return false;
  }
  CloseHandle(file);
  m_handle = -1;
  // Looked at once more: a folder or device put at the name since Open must not be replaced.
  const std::string why = CheckWriteTarget(m_strTarget, EWriteUse::Replace);
  if (!why.empty()) {
    *error = ShownPath(m_strTarget) + " " + why;
    Discard();
    return false;
  }
  if (!MoveFileExA(m_strTemporary.c_str(), m_strTarget.c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    *error = ErrorText(GetLastError());
    DeleteFileA(m_strTemporary.c_str());
    return false;
  }
  m_strTemporary.clear();
  return true;
}

void CAtomicFile::Discard() {
  if (m_handle != -1) CloseHandle(AsHandle(m_handle));
  m_handle = -1;
  if (!m_strTemporary.empty()) DeleteFileA(m_strTemporary.c_str());
  m_strTemporary.clear();
}
