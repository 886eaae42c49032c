#include "engine/session/SessionCommApi.h"

#include <cstring>

namespace {

constexpr DWORD kErrorOperationAborted = 995;

bool IsSeparator(char c) {
  return c == '/' || c == '\\';
}

}  // namespace

CSessionCommApi::CSessionCommApi(CommApi& base, const CInterrupt& interrupt)
    : m_base(base), m_interrupt(interrupt) {}

bool CSessionCommApi::Aborted() {
  if (!m_interrupt.IsSet()) {
    m_dwOwnError = 0;
    return false;
  }
  m_dwOwnError = kErrorOperationAborted;
  m_bStopped = true;
  return true;
}

HANDLE CSessionCommApi::CreateFileA(LPCSTR fileName, DWORD access, DWORD shareMode,
                                    LPSECURITY_ATTRIBUTES security, DWORD creation, DWORD flags,
                                    HANDLE templateFile) {
  if (Aborted()) return INVALID_HANDLE_VALUE;
  const char* name = fileName != nullptr ? fileName : "";
  if (std::strlen(name) >= 4 && IsSeparator(name[0]) && IsSeparator(name[1]) && name[2] == '.' &&
      IsSeparator(name[3])) {
    name += 4;
  }
  if (m_fnOnOpen) m_fnOnOpen(name);
  const HANDLE handle =
      m_base.CreateFileA(fileName, access, shareMode, security, creation, flags, templateFile);
  // Windows answers a port that another program has open with access denied; so does our
  // POSIX layer for a port locked by another process.
  m_dwLastOpenError = handle == INVALID_HANDLE_VALUE ? m_base.GetLastError() : 0;
  if (m_dwLastOpenError == ERROR_ACCESS_DENIED) m_strBusyPort = name;
  if (m_dwLastOpenError == ERROR_PRIVILEGE_NOT_HELD) m_strDeniedPort = name;
  return handle;
}

BOOL CSessionCommApi::CloseHandle(HANDLE handle) {
  m_dwOwnError = 0;
  return m_base.CloseHandle(handle);
}

BOOL CSessionCommApi::GetCommState(HANDLE handle, LPDCB dcb) {
  m_dwOwnError = 0;
  return m_base.GetCommState(handle, dcb);
}

BOOL CSessionCommApi::SetCommState(HANDLE handle, LPDCB dcb) {
  m_dwOwnError = 0;
  return m_base.SetCommState(handle, dcb);
}

BOOL CSessionCommApi::GetCommTimeouts(HANDLE handle, LPCOMMTIMEOUTS timeouts) {
  m_dwOwnError = 0;
  return m_base.GetCommTimeouts(handle, timeouts);
}

BOOL CSessionCommApi::SetCommTimeouts(HANDLE handle, LPCOMMTIMEOUTS timeouts) {
  m_dwOwnError = 0;
  return m_base.SetCommTimeouts(handle, timeouts);
}

BOOL CSessionCommApi::ReadFile(HANDLE handle, LPVOID buffer, DWORD toRead, LPDWORD read,
                               LPOVERLAPPED overlapped) {
  // The exchange under way when the user interrupted still gets its answer; only once the
  // next one has been refused does waiting for bytes stop too.
  if (m_bStopped) {
    m_dwOwnError = kErrorOperationAborted;
    if (read != nullptr) *read = 0;
    return FALSE;
  }
  m_dwOwnError = 0;
  return m_base.ReadFile(handle, buffer, toRead, read, overlapped);
}

BOOL CSessionCommApi::WriteFile(HANDLE handle, LPCVOID buffer, DWORD toWrite, LPDWORD written,
                                LPOVERLAPPED overlapped) {
  if (Aborted()) {
    if (written != nullptr) *written = 0;
    return FALSE;
  }
  return m_base.WriteFile(handle, buffer, toWrite, written, overlapped);
}

BOOL CSessionCommApi::GetVersionExA(LPOSVERSIONINFOA info) {
  m_dwOwnError = 0;
  return m_base.GetVersionExA(info);
}

DWORD CSessionCommApi::QueryDosDeviceA(LPCSTR deviceName, LPSTR targetPath, DWORD max) {
  m_dwOwnError = 0;
  if (deviceName != nullptr || m_strOnly.empty()) {
    return m_base.QueryDosDeviceA(deviceName, targetPath, max);
  }
  // The one name, then the empty name that ends a listing.
  const DWORD size = static_cast<DWORD>(m_strOnly.size() + 2);
  if (targetPath == nullptr || size > max) {
    m_dwOwnError = ERROR_INSUFFICIENT_BUFFER;
    return 0;
  }
  std::memcpy(targetPath, m_strOnly.c_str(), m_strOnly.size() + 1);
  targetPath[size - 1] = '\0';
  return size;
}

DWORD CSessionCommApi::GetLastError() {
  return m_dwOwnError != 0 ? m_dwOwnError : m_base.GetLastError();
}
