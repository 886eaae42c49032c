// The operating-system calls of the serial channel and of port discovery, under their Win32
// names and signatures. CSerialPort calls the system only through this seam, so tests can
// record every call and inject failures, and a POSIX build can stand in for Win32.
#pragma once

#include "wintypes.h"

class CommApi {
 public:
  virtual ~CommApi() = default;

  virtual HANDLE CreateFileA(LPCSTR fileName, DWORD access, DWORD shareMode,
                             LPSECURITY_ATTRIBUTES security, DWORD creation, DWORD flags,
                             HANDLE templateFile) = 0;
  virtual BOOL CloseHandle(HANDLE handle) = 0;
  virtual BOOL GetCommState(HANDLE handle, LPDCB dcb) = 0;
  virtual BOOL SetCommState(HANDLE handle, LPDCB dcb) = 0;
  virtual BOOL GetCommTimeouts(HANDLE handle, LPCOMMTIMEOUTS timeouts) = 0;
  virtual BOOL SetCommTimeouts(HANDLE handle, LPCOMMTIMEOUTS timeouts) = 0;
  // Blocks until the byte count arrives or the read time-out per byte runs out; a time-out
  // is success with a count of 0, a device that went away is a failure.
  virtual BOOL ReadFile(HANDLE handle, LPVOID buffer, DWORD toRead, LPDWORD read,
                        LPOVERLAPPED overlapped) = 0;
  virtual BOOL WriteFile(HANDLE handle, LPCVOID buffer, DWORD toWrite, LPDWORD written,
                         LPOVERLAPPED overlapped) = 0;
  virtual BOOL GetVersionExA(LPOSVERSIONINFOA info) = 0;
  // With a null device name: all device names, each NUL-terminated, then one more NUL.
  // Returns the count of characters stored, 0 on failure (GetLastError tells why).
  virtual DWORD QueryDosDeviceA(LPCSTR deviceName, LPSTR targetPath, DWORD max) = 0;
  virtual DWORD GetLastError() = 0;
};

// The running platform's implementation: Win32 forwarding on Windows, the termios and sysfs
// stand-ins elsewhere. Lives as long as the program.
CommApi& PlatformCommApi();
