// The serial calls of Win32 on a POSIX system, over termios, poll and the device namespace.
// This is product code for the Linux command-line tool and the test stand-in for Win32 alike.
//
// Handles: CreateFileA opens the device non-blocking and takes it for this handle alone, as
// share mode 0 does on Windows. It refuses the port with ERROR_ACCESS_DENIED when another
// program holds it by any of the three conventions of Linux serial programs:
//   - a UUCP lock file LCK..<device> of a running process in the lock directory (UucpLock.h
//     says which names and contents count). This is checked before the device is opened.
//     CreateFileA writes no lock file of its own;
//   - flock(LOCK_EX), which holds even against root;
//   - the tty's exclusive flag (TIOCEXCL). The kernel refuses other openers while it is set,
//     except root; so the flag is read back after open (TIOCGEXCL) and a set flag refuses the
//     port whoever we run as.
// Then it takes flock and sets TIOCEXCL itself. CloseHandle gives the line the settings (the
// whole termios) that CreateFileA found, then clears TIOCEXCL when, and only when, this handle
// set it (a pty keeps the flag after the last close, and a flag that another program set is
// that program's), then closes. The settings come back whatever happened in between, HUPCL
// with them: a line that had it drops DTR at its last close, as the kernel does for any
// program. The destructor does the same for every handle still open.
//
// The calling process's controlling terminal (ControllingTerminal.h), /dev/tty included, is
// refused with ERROR_NOT_SUPPORTED and left untouched: it is the user's terminal, not a port.
// It is recognised by device number before the open and by its session after it.
// The handle is the file descriptor plus one, never null and never INVALID_HANDLE_VALUE.
// Handles from another CPosixCommApi are refused.
//
// What cannot be detected: a program that holds the device open without a lock file, without
// flock and without TIOCEXCL (a plain `cat /dev/ttyUSB0`, for instance) does not stop the open;
// both programs then read from the same line and each gets some of the bytes. Nor can the
// exclusive flag tell two holders apart: a root program that opens the port while we hold it
// and sets the flag too loses it when we close.
//
// Modem lines: the kernel raises DTR and RTS at every open of a serial tty (a non-blocking open
// with a baud rate other than 0 does so even when another program holds the tty open with its
// lines dropped), and termios offers no way to open without it. So every CreateFileA raises both
// for a moment, until SetCommState drops them (the channel does so right after opening); a
// device that resets or wakes on DTR sees that pulse. Only the lock-file and terminal refusals
// come before the open; a port refused for flock or TIOCEXCL has had its lines raised by the
// attempt.
//
// Errors: each failing call sets the calling thread's last error to a Win32 code, which
// GetLastError returns. Why CreateFileA failed reads apart:
//   - ERROR_FILE_NOT_FOUND: no such device (ENOENT, ENODEV, ENXIO), or a COM name the
//     namespace lacks;
//   - ERROR_ACCESS_DENIED: held by another program (a lock, flock, TIOCEXCL; EBUSY, EAGAIN),
//     the code Windows gives for a COM port another program has open, so a caller can read it
//     as "busy" on both systems;
//   - ERROR_PRIVILEGE_NOT_HELD: this user may not open the device (EACCES, EPERM: the tty's
//     mode or group, typically dialout). Windows does not give this code for opening a COM
//     port to read and write, so it means this one thing on both systems. (ERROR_ACCESS_DENIED
//     is "busy"; ERROR_INVALID_ACCESS would say the caller asked for a bad access mask.)
//   - ERROR_NOT_SUPPORTED: the controlling terminal (above);
//   - ERROR_GEN_FAILURE: EIO and whatever else the system reports.
//
// Line (TermiosDcb.h): raw, CLOCAL|CREAD, HUPCL cleared, VMIN=0 VTIME=0. SetCommState takes the
// baud rates termios has (others are refused), 5 to 8 data bits, parity, one or two stop bits,
// RTS/CTS and XON/XOFF flow control, and raises or drops DTR and RTS (a pty has no modem lines;
// that is not an error). GetCommState reports exactly what the last accepted SetCommState gave.
//
// Reads: ReadFile waits in poll() for the COMMTIMEOUTS of the handle (per-byte multiplier,
// constant, interval; the rules are in ReadTimeouts.h) on the monotonic clock; a time-out is
// success with the bytes so far. A hang-up, a poll error or an end of file fails the read: the
// device went away. Writes: WriteFile blocks until the driver has taken every byte.
#pragma once

#include <termios.h>

#include <map>
#include <mutex>
#include <string>

#include "DeviceNamespace.h"
#include "serial/CommApi.h"

class CPosixCommApi final : public CommApi {
 public:
  // lockDir is where UUCP lock files are looked for; tests give a directory of their own, an
  // empty one looks for none.
  explicit CPosixCommApi(CDeviceNamespace ns, std::string lockDir = "/var/lock");
  // Closes any handle still open.
  ~CPosixCommApi() override;

  CPosixCommApi(const CPosixCommApi&) = delete;
  CPosixCommApi& operator=(const CPosixCommApi&) = delete;

  // fileName is "//./COMn" or "\\.\COMn" (resolved through the namespace) or a device path.
  // Only OPEN_EXISTING; the device is always opened for reading and writing.
  HANDLE CreateFileA(LPCSTR fileName, DWORD access, DWORD shareMode, LPSECURITY_ATTRIBUTES security,
                     DWORD creation, DWORD flags, HANDLE templateFile) override;
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
  struct CPort {
    DCB dcb;
    COMMTIMEOUTS timeouts;
    // This handle set the tty's exclusive flag and so clears it again on close.
    bool bSetExclusive;
    // The line settings the open found, given back at the close.
    bool bRestoreLine;
    termios found;
  };

  bool Find(HANDLE handle, int* fd, CPort* port);
  // The descriptor of a port opened and taken for this handle, its line made raw; -1 and the
  // Win32 error in *error when refused (nothing is then left open).
  int OpenPort(const std::string& path, CPort* port, DWORD* error) const;
  // Gives the line settings back, clears the exclusive flag this handle set, closes. False
  // with errno when close fails.
  static bool Release(int fd, const CPort& port);

  CDeviceNamespace m_namespace;
  std::string m_strLockDir;
  std::mutex m_mutex;
  std::map<int, CPort> m_ports;
};
