// A CommApi that passes every call on to another one and keeps the books on handles: which
// opens succeeded, how often each handle was closed, and any read, write or settings call
// on a handle that is not open (never opened, or already closed). It changes nothing that
// passes through it, so it can sit in front of the POSIX layer as well as in front of a fake.
//
// Thread-safe, so that a check made from inside a message box or from a test thread sees a
// consistent picture.
#pragma once

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "serial/CommApi.h"

class CHandleLedger : public CommApi {
 public:
  explicit CHandleLedger(CommApi& inner) : m_inner(inner) {}

  HANDLE CreateFileA(LPCSTR fileName, DWORD access, DWORD shareMode, LPSECURITY_ATTRIBUTES security,
                     DWORD creation, DWORD flags, HANDLE templateFile) override {
    HANDLE handle =
        m_inner.CreateFileA(fileName, access, shareMode, security, creation, flags, templateFile);
    std::lock_guard<std::mutex> lock(m_mutex);
    if (handle == INVALID_HANDLE_VALUE) {
      ++m_nFailedOpens;
      return handle;
    }
    ++m_nOpens;
    CEntry& entry = m_entries[handle];
    if (entry.m_bOpen) m_problems.push_back("handle handed out twice while open");
    entry.m_bOpen = true;
    entry.m_nCloses = 0;
    m_history.push_back({handle, fileName ? fileName : ""});
    return handle;
  }
  BOOL CloseHandle(HANDLE handle) override {
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      auto it = m_entries.find(handle);
      if (it == m_entries.end()) {
        m_problems.push_back("CloseHandle of a handle never opened");
      } else {
        ++it->second.m_nCloses;
        if (!it->second.m_bOpen) m_problems.push_back("CloseHandle of a handle already closed");
        it->second.m_bOpen = false;
        ++m_nCloses;
      }
    }
    return m_inner.CloseHandle(handle);
  }
  BOOL GetCommState(HANDLE handle, LPDCB dcb) override {
    Use(handle, "GetCommState");
    return m_inner.GetCommState(handle, dcb);
  }
  BOOL SetCommState(HANDLE handle, LPDCB dcb) override {
    Use(handle, "SetCommState");
    return m_inner.SetCommState(handle, dcb);
  }
  BOOL GetCommTimeouts(HANDLE handle, LPCOMMTIMEOUTS timeouts) override {
    Use(handle, "GetCommTimeouts");
    return m_inner.GetCommTimeouts(handle, timeouts);
  }
  BOOL SetCommTimeouts(HANDLE handle, LPCOMMTIMEOUTS timeouts) override {
    Use(handle, "SetCommTimeouts");
    return m_inner.SetCommTimeouts(handle, timeouts);
  }
  BOOL ReadFile(HANDLE handle, LPVOID buffer, DWORD toRead, LPDWORD read,
                LPOVERLAPPED overlapped) override {
    Use(handle, "ReadFile");
    return m_inner.ReadFile(handle, buffer, toRead, read, overlapped);
  }
  BOOL WriteFile(HANDLE handle, LPCVOID buffer, DWORD toWrite, LPDWORD written,
                 LPOVERLAPPED overlapped) override {
    Use(handle, "WriteFile");
    return m_inner.WriteFile(handle, buffer, toWrite, written, overlapped);
  }
  BOOL GetVersionExA(LPOSVERSIONINFOA info) override { return m_inner.GetVersionExA(info); }
  DWORD QueryDosDeviceA(LPCSTR deviceName, LPSTR targetPath, DWORD max) override {
    return m_inner.QueryDosDeviceA(deviceName, targetPath, max);
  }
  DWORD GetLastError() override { return m_inner.GetLastError(); }

  // Handles open right now.
  int OpenCount() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    int n = 0;
    for (const auto& entry : m_entries) n += entry.second.m_bOpen;
    return n;
  }
  // Empty when every successful open so far was closed exactly once (or is still open, when
  // bAllowOpen) and no call went to a handle that was not open; otherwise what went wrong.
  std::string Problems(bool bAllowOpen = false) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::string text;
    for (const std::string& problem : m_problems) text += problem + "; ";
    for (const auto& entry : m_entries) {
      if (entry.second.m_bOpen && !bAllowOpen) text += "a handle left open; ";
    }
    return text;
  }
  int Opens() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_nOpens;
  }
  int Closes() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_nCloses;
  }
  int FailedOpens() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_nFailedOpens;
  }

 private:
  struct CEntry {
    bool m_bOpen = false;
    int m_nCloses = 0;
  };
  struct COpening {
    HANDLE m_hHandle;
    std::string m_strPath;
  };

  void Use(HANDLE handle, const char* call) {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_entries.find(handle);
    if (it == m_entries.end() || !it->second.m_bOpen) {
      m_problems.push_back(std::string(call) + " on a handle that is not open");
    }
  }

  CommApi& m_inner;
  mutable std::mutex m_mutex;
  std::map<HANDLE, CEntry> m_entries;
  std::vector<COpening> m_history;
  std::vector<std::string> m_problems;
  int m_nOpens = 0;
  int m_nCloses = 0;
  int m_nFailedOpens = 0;
};
