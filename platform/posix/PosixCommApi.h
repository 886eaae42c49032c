// The serial calls of Win32 on a POSIX system, over termios, poll and the device namespace.
//
// Handles: CreateFileA opens the device non-blocking and takes it exclusively (flock, which
// holds even against root, and TIOCEXCL); the handle is the file descriptor plus one, never
// null and never INVALID_HANDLE_VALUE. CloseHandle releases TIOCEXCL before closing, because
// a pty keeps the flag after the last close. Handles from another CPosixCommApi are refused.
//
// Errors: each failing call sets the calling thread's last error to the Win32 code
// (ENOENT/ENODEV/ENXIO -> ERROR_FILE_NOT_FOUND, EBUSY/EAGAIN/EACCES -> ERROR_ACCESS_DENIED,
// EIO -> ERROR_GEN_FAILURE), which GetLastError returns.
//
// Line: raw, CLOCAL|CREAD, HUPCL cleared, VMIN=0 VTIME=0. SetCommState takes the baud rates
// termios has (others are refused), 5 to 8 data bits, parity, one or two stop bits, RTS/CTS
// and XON/XOFF flow control, and raises or drops DTR and RTS (a pty has no modem lines; that
// is not an error). GetCommState reports exactly what the last accepted SetCommState gave.
//
// Reads: ReadFile waits in poll() for the COMMTIMEOUTS of the handle (per-byte multiplier,
// constant, interval) on the monotonic clock; a time-out is success with the bytes so far.
// A hang-up, a poll error or an end of file fails the read: the device went away.
// Writes: WriteFile blocks until the driver has taken every byte.
#pragma once

#include <map>
#include <mutex>

#include "DeviceNamespace.h"
#include "serial/CommApi.h"

class CPosixCommApi final : public CommApi {
public:
  explicit CPosixCommApi(CDeviceNamespace ns);
  // Closes any handle still open.
  ~CPosixCommApi() override;

  CPosixCommApi(const CPosixCommApi&) = delete;
  CPosixCommApi& operator=(const CPosixCommApi&) = delete;

  // fileName is "//./COMn" or "\\.\COMn" (resolved through the namespace) or a device path.
  // Only OPEN_EXISTING; the device is always opened for reading and writing.
  HANDLE CreateFileA(LPCSTR fileName, DWORD access, DWORD shareMode,
                     LPSECURITY_ATTRIBUTES security, DWORD creation, DWORD flags,
                     HANDLE templateFile) override;
  BOOL CloseHandle(HANDLE handle) override;
  BOOL GetCommState(HANDLE handle, LPDCB dcb) override;
  BOOL SetCommState(HANDLE handle, LPDCB dcb) override;
  BOOL GetCommTimeouts(HANDLE handle, LPCOMMTIMEOUTS timeouts) override;
  BOOL SetCommTimeouts(HANDLE handle, LPCOMMTIMEOUTS timeouts) override;
  // No overlapped operation: a non-null overlapped record is refused.
  BOOL ReadFile(HANDLE handle, LPVOID buffer, DWORD toRead, LPDWORD read,
                LPOVERLAPPED overlapped) override;
  BOOL WriteFile(HANDLE handle, LPCVOID buffer, DWORD toWrite, LPDWORD written,
                 LPOVERLAPPED overlapped) override;
  // Reports the NT platform, so port discovery lists the namespace.
  BOOL GetVersionExA(LPOSVERSIONINFOA info) override;
  // deviceName null: the namespace's COM names. deviceName "COMn": its device path.
  DWORD QueryDosDeviceA(LPCSTR deviceName, LPSTR targetPath, DWORD max) override;
  DWORD GetLastError() override;

private:
  struct SPort {
    DCB dcb;
    COMMTIMEOUTS timeouts;
  };

  bool Find(HANDLE handle, int* fd, SPort* port);

  CDeviceNamespace m_namespace;
  std::mutex m_mutex;
  std::map<int, SPort> m_ports;
};
