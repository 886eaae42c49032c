// The Win32 side of the serial channel: every call goes straight to the system.
#include "serial/CommApi.h"

namespace {

class CWin32CommApi final : public CommApi {
 public:
  HANDLE CreateFileA(LPCSTR fileName, DWORD access, DWORD shareMode, LPSECURITY_ATTRIBUTES security,
                     DWORD creation, DWORD flags, HANDLE templateFile) override {
    return ::CreateFileA(fileName, access, shareMode, security, creation, flags, templateFile);
  }
  BOOL CloseHandle(HANDLE handle) override { return ::CloseHandle(handle); }
  BOOL GetCommState(HANDLE handle, LPDCB dcb) override { return ::GetCommState(handle, dcb); }
  BOOL SetCommState(HANDLE handle, LPDCB dcb) override { return ::SetCommState(handle, dcb); }
  BOOL GetCommTimeouts(HANDLE handle, LPCOMMTIMEOUTS timeouts) override {
    return ::GetCommTimeouts(handle, timeouts);
  }
  BOOL SetCommTimeouts(HANDLE handle, LPCOMMTIMEOUTS timeouts) override {
    return ::SetCommTimeouts(handle, timeouts);
  }
  BOOL ReadFile(HANDLE handle, LPVOID buffer, DWORD toRead, LPDWORD read,
                LPOVERLAPPED overlapped) override {
    return ::ReadFile(handle, buffer, toRead, read, overlapped);
  }
  BOOL WriteFile(HANDLE handle, LPCVOID buffer, DWORD toWrite, LPDWORD written,
                 LPOVERLAPPED overlapped) override {
    return ::WriteFile(handle, buffer, toWrite, written, overlapped);
  }
  BOOL GetVersionExA(LPOSVERSIONINFOA info) override {
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#endif
    return ::GetVersionExA(info);
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif
  }
  DWORD QueryDosDeviceA(LPCSTR deviceName, LPSTR targetPath, DWORD max) override {
    return ::QueryDosDeviceA(deviceName, targetPath, max);
  }
  DWORD GetLastError() override {
    return ::GetLastError();
  }
};

}  // namespace

CommApi& PlatformCommApi() {
  static CWin32CommApi api;
  return api;
}
