// A scripted, recording CommApi for tests of everything above the serial channel.
//
// Records every call by name (m_calls) and every byte written (m_written). Reads are served
// from m_input, one entry per ReadFile: a byte value 0..255, kTimeout (success with a count
// of 0, as a read time-out is) or kReadFails (the call fails). An empty m_input reads as a
// time-out; m_nTimeouts counts those, so a test can work out how long the real port would
// have waited. m_onWrite, when set, sees each written byte and can queue the device's answer.
//
// Opens: every CreateFileA succeeds unless its path is in m_openErrors (path -> Win32 error)
// or m_dwOtherPathError is set for paths not listed there. Opens, closes, handles closed
// twice or never opened are counted.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "serial/CommApi.h"

class CFakeCommApi : public CommApi {
 public:
  static constexpr int kTimeout = -1;
  static constexpr int kReadFails = -2;

  CFakeCommApi() {
    std::memset(&m_driverDcb, 0, sizeof m_driverDcb);
    m_driverDcb.DCBlength = sizeof m_driverDcb;
    m_driverDcb.BaudRate = 115200;
    m_driverDcb.ByteSize = 7;
    std::memset(&m_driverTimeouts, 0, sizeof m_driverTimeouts);
    std::memset(&m_setDcb, 0, sizeof m_setDcb);
    std::memset(&m_setTimeouts, 0, sizeof m_setTimeouts);
  }

  // Queues bytes for the following reads.
  void Feed(const std::vector<int>& input) {
    m_input.insert(m_input.end(), input.begin(), input.end());
  }
  void FeedText(const std::string& bytes) {
    for (unsigned char c : bytes) m_input.push_back(c);
  }
  // Calls with this name, in order.
  int Count(const std::string& name) const {
    int n = 0;
    for (const std::string& call : m_calls) n += call == name;
    return n;
  }
  // The device names QueryDosDeviceA(NULL, ...) returns, NUL-separated, with the closing NUL.
  void SetDeviceNames(const std::vector<std::string>& names) {
    m_listing.clear();
    for (const std::string& name : names) {
      m_listing += name;
      m_listing.push_back('\0');
    }
    m_listing.push_back('\0');
  }

  HANDLE CreateFileA(LPCSTR fileName, DWORD access, DWORD shareMode, LPSECURITY_ATTRIBUTES,
                     DWORD creation, DWORD flags, HANDLE) override {
    m_calls.push_back("CreateFileA");
    m_openPaths.push_back(fileName);
    m_lastAccess = access;
    m_lastShareMode = shareMode;
    m_lastCreation = creation;
    m_lastFlags = flags;
    const auto found = m_openErrors.find(fileName);
    const DWORD error = found != m_openErrors.end() ? found->second : m_dwOtherPathError;
    if (error != 0) {
      m_dwLastError = error;
      return INVALID_HANDLE_VALUE;
    }
    ++m_nOpens;
    HANDLE handle = reinterpret_cast<HANDLE>(static_cast<intptr_t>(m_nNextHandle++));
    m_openHandles.insert(handle);
    return handle;
  }
  BOOL CloseHandle(HANDLE handle) override {
    m_calls.push_back("CloseHandle");
    ++m_nCloses;
    if (m_openHandles.erase(handle) == 0) {
      ++m_nBadCloses;
      return Fail(ERROR_INVALID_HANDLE);
    }
    return TRUE;
  }
  BOOL GetCommState(HANDLE handle, LPDCB dcb) override {
    m_calls.push_back("GetCommState");
    if (!IsOpen(handle) || m_bFailGetCommState) return Fail(ERROR_GEN_FAILURE);
    *dcb = m_driverDcb;
    return TRUE;
  }
  BOOL SetCommState(HANDLE handle, LPDCB dcb) override {
    m_calls.push_back("SetCommState");
    m_setDcb = *dcb;
    if (!IsOpen(handle) || m_bFailSetCommState) return Fail(ERROR_INVALID_PARAMETER);
    return TRUE;
  }
  BOOL GetCommTimeouts(HANDLE handle, LPCOMMTIMEOUTS timeouts) override {
    m_calls.push_back("GetCommTimeouts");
    if (!IsOpen(handle) || m_bFailGetCommTimeouts) return Fail(ERROR_GEN_FAILURE);
    *timeouts = m_driverTimeouts;
    return TRUE;
  }
  BOOL SetCommTimeouts(HANDLE handle, LPCOMMTIMEOUTS timeouts) override {
    m_calls.push_back("SetCommTimeouts");
    m_setTimeouts = *timeouts;
    if (!IsOpen(handle) || m_bFailSetCommTimeouts) return Fail(ERROR_INVALID_PARAMETER);
    return TRUE;
  }
  BOOL ReadFile(HANDLE handle, LPVOID buffer, DWORD toRead, LPDWORD read, LPOVERLAPPED) override {
    m_calls.push_back("ReadFile");
    m_readSizes.push_back(toRead);
    if (read != nullptr) *read = 0;
    if (!IsOpen(handle)) return Fail(ERROR_INVALID_HANDLE);
    if (m_input.empty()) {
      ++m_nTimeouts;
      return TRUE;
    }
    const int next = m_input.front();
    m_input.pop_front();
    if (next == kReadFails) return Fail(ERROR_GEN_FAILURE);
    if (next == kTimeout) {
      ++m_nTimeouts;
      return TRUE;
    }
    if (toRead > 0) {
      *static_cast<BYTE*>(buffer) = static_cast<BYTE>(next);
      if (read != nullptr) *read = 1;
    }
    return TRUE;
  }
  BOOL WriteFile(HANDLE handle, LPCVOID buffer, DWORD toWrite, LPDWORD written,
                 LPOVERLAPPED) override {
    m_calls.push_back("WriteFile");
    const int index = m_nWrites++;
    if (!IsOpen(handle) || index == m_nFailWriteAt) return Fail(ERROR_GEN_FAILURE);
    const BYTE* bytes = static_cast<const BYTE*>(buffer);
    for (DWORD i = 0; i < toWrite; ++i) {
      m_written.push_back(bytes[i]);
      if (m_onWrite) m_onWrite(bytes[i]);
    }
    if (written != nullptr) *written = toWrite;
    return TRUE;
  }
  BOOL GetVersionExA(LPOSVERSIONINFOA info) override {
    m_calls.push_back("GetVersionExA");
    m_dwVersionInfoSize = info->dwOSVersionInfoSize;
    if (!m_bVersionOk) return Fail(ERROR_INVALID_PARAMETER);
    info->dwPlatformId = m_dwPlatformId;
    return TRUE;
  }
  // Fails with ERROR_INSUFFICIENT_BUFFER while max is below m_dwListingNeeds (or the
  // listing's own size), and with m_dwListingError when that is set.
  DWORD QueryDosDeviceA(LPCSTR deviceName, LPSTR targetPath, DWORD max) override {
    m_calls.push_back("QueryDosDeviceA");
    m_queryMaxes.push_back(max);
    m_bQueriedAll = deviceName == nullptr;
    if (m_dwListingError != 0) {
      Fail(m_dwListingError);
      return 0;
    }
    const DWORD needs = std::max<DWORD>(m_dwListingNeeds, static_cast<DWORD>(m_listing.size()));
    if (max < needs) {
      Fail(ERROR_INSUFFICIENT_BUFFER);
      return 0;
    }
    std::memcpy(targetPath, m_listing.data(), m_listing.size());
    return static_cast<DWORD>(m_listing.size());
  }
  DWORD GetLastError() override {
    m_calls.push_back("GetLastError");
    return m_dwLastError;
  }

  // Script.
  std::deque<int> m_input;
  std::function<void(BYTE)> m_onWrite;
  std::map<std::string, DWORD> m_openErrors;
  DWORD m_dwOtherPathError = 0;
  bool m_bFailGetCommState = false;
  bool m_bFailSetCommState = false;
  bool m_bFailGetCommTimeouts = false;
  bool m_bFailSetCommTimeouts = false;
  int m_nFailWriteAt = -1;  // index of the WriteFile call that fails, counted from 0
  bool m_bVersionOk = true;
  DWORD m_dwPlatformId = VER_PLATFORM_WIN32_NT;
  std::string m_listing = std::string(1, '\0');
  DWORD m_dwListingNeeds = 0;
  DWORD m_dwListingError = 0;
  DCB m_driverDcb;
  COMMTIMEOUTS m_driverTimeouts;

  // Record.
  std::vector<std::string> m_calls;
  std::vector<std::string> m_openPaths;
  DWORD m_lastAccess = 0;
  DWORD m_lastShareMode = 0xFFFFFFFFu;
  DWORD m_lastCreation = 0;
  DWORD m_lastFlags = 0xFFFFFFFFu;
  std::vector<BYTE> m_written;
  std::vector<DWORD> m_readSizes;
  std::vector<DWORD> m_queryMaxes;
  bool m_bQueriedAll = false;
  DWORD m_dwVersionInfoSize = 0;
  DCB m_setDcb;
  COMMTIMEOUTS m_setTimeouts;
  int m_nOpens = 0;
  int m_nCloses = 0;
  int m_nBadCloses = 0;
  int m_nWrites = 0;
  int m_nTimeouts = 0;
  std::set<HANDLE> m_openHandles;

 private:
  bool IsOpen(HANDLE handle) const { return m_openHandles.count(handle) != 0; }
  BOOL Fail(DWORD error) {
    m_dwLastError = error;
    return FALSE;
  }

  DWORD m_dwLastError = 0;
  intptr_t m_nNextHandle = 0x100;
};
