#include "PosixCommApi.h"

#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/types.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdint>
#include <cstring>
#include <string>

#include "ControllingTerminal.h"
#include "ReadTimeouts.h"
#include "TermiosDcb.h"
#include "UucpLock.h"
#include "serial/ComPortName.h"

namespace {

thread_local DWORD t_dwLastError = ERROR_SUCCESS;

BOOL Fail(DWORD error) {
  t_dwLastError = error;
  return FALSE;
}

DWORD ErrorFromErrno(int error) {
  switch (error) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
      return ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP:
      return ERROR_PATH_NOT_FOUND;
    case EBUSY:
    case EAGAIN:
      return ERROR_ACCESS_DENIED;
    case EACCES:
    case EPERM:
      return ERROR_PRIVILEGE_NOT_HELD;
    case EBADF:
      return ERROR_INVALID_HANDLE;
    case EINVAL:
      return ERROR_INVALID_PARAMETER;
    case ENOTTY:
      return ERROR_INVALID_FUNCTION;
    case ENOMEM:
      return ERROR_NOT_ENOUGH_MEMORY;
    default:
      return ERROR_GEN_FAILURE;
  }
}

// Closes a descriptor opened for a refused port, and gives what CreateFileA then returns.
int Refuse(int fd, DWORD why, DWORD* error) {
  if (fd >= 0) close(fd);
  *error = why;
  return -1;
}

HANDLE HandleFromFd(int fd) {
  return reinterpret_cast<HANDLE>(static_cast<intptr_t>(fd) + 1);
}

// A pty has no modem lines and answers ENOTTY or EINVAL; there is nothing to hold off then.
bool SetModemLine(int fd, int line, bool raise) {
  if (ioctl(fd, raise ? TIOCMBIS : TIOCMBIC, &line) == 0) return true;
  return errno == ENOTTY || errno == EINVAL;
}

bool IsDevicePrefix(const char* name) {
  auto separator = [](char c) { return c == '/' || c == '\\'; };
  return separator(name[0]) && separator(name[1]) && name[2] == '.' && separator(name[3]);
}

using Clock = std::chrono::steady_clock;

// Rounded up: a wait cut to 0 ms would give up before the deadline.
int64_t MsUntil(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now());
  return std::max<int64_t>(0, (left.count() + 999) / 1000);
}

std::chrono::microseconds Micros(Clock::duration d) {
  return std::chrono::duration_cast<std::chrono::microseconds>(d);
}

Clock::time_point Deadline(uint64_t ms) {
  return Clock::now() + std::chrono::milliseconds(ms);
}

}  // namespace

CPosixCommApi::CPosixCommApi(CDeviceNamespace ns, std::string lockDir)
    : m_namespace(std::move(ns)), m_strLockDir(std::move(lockDir)) {}

CPosixCommApi::~CPosixCommApi() {
  for (const auto& entry : m_ports) Release(entry.first, entry.second);
}

bool CPosixCommApi::Find(HANDLE handle, int* fd, CPort* port) {
  const intptr_t value = reinterpret_cast<intptr_t>(handle);
  if (value <= 0 || value > INT_MAX) return false;
  std::lock_guard<std::mutex> lock(m_mutex);
  const auto found = m_ports.find(static_cast<int>(value - 1));
  if (found == m_ports.end()) return false;
  *fd = found->first;
  if (port != nullptr) *port = found->second;
  return true;
}

HANDLE CPosixCommApi::CreateFileA(LPCSTR fileName, DWORD /*access*/, DWORD /*shareMode*/,
                                  LPSECURITY_ATTRIBUTES /*security*/, DWORD creation, DWORD flags,
                                  HANDLE /*templateFile*/) {
  if (fileName == nullptr || creation != OPEN_EXISTING || (flags & FILE_FLAG_OVERLAPPED) != 0) {
    Fail(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  std::string path = fileName;
  if (std::strlen(fileName) >= 4 && IsDevicePrefix(fileName) &&
      !m_namespace.Resolve(fileName + 4, &path)) {
    Fail(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  CPort port;
  std::memset(&port, 0, sizeof port);
  DWORD error = ERROR_SUCCESS;
  const int fd = OpenPort(path, &port, &error);
  if (fd < 0) {
    Fail(error);
    return INVALID_HANDLE_VALUE;
  }
  std::lock_guard<std::mutex> lock(m_mutex);
  m_ports[fd] = port;
  return HandleFromFd(fd);
}

int CPosixCommApi::OpenPort(const std::string& path, CPort* port, DWORD* error) const {
  // The user's own terminal would get the probe and be left raw. Refused before the open, and
  // again after it by the session, for a system where the device behind /dev/tty is unknown.
  if (IsControllingTerminal(path)) return Refuse(-1, ERROR_NOT_SUPPORTED, error);
  // Before the open, which would raise the lines of a device another program is using.
  if (IsLockedByUucp(m_strLockDir, path)) return Refuse(-1, ERROR_ACCESS_DENIED, error);

  const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return Refuse(-1, ErrorFromErrno(errno), error);
  if (isatty(fd) && tcgetsid(fd) == getsid(0)) return Refuse(fd, ERROR_NOT_SUPPORTED, error);
  // A serial port belongs to one program at a time. TIOCEXCL alone does not stop root, and
  // flock alone does not stop programs that never lock; take both. The lock is tried first
  // so that a refused open never touches the holder's TIOCEXCL.
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    return Refuse(fd, errno == EWOULDBLOCK ? ERROR_ACCESS_DENIED : ErrorFromErrno(errno), error);
  }
  // Root opens a tty whatever its exclusive flag says, so a flag that is already set is
  // another program's claim: refuse, and leave the flag to its owner. A device that is no
  // tty answers neither call and is held by flock alone.
  int exclusive = 0;
  if (ioctl(fd, TIOCGEXCL, &exclusive) == 0) {
    if (exclusive != 0) return Refuse(fd, ERROR_ACCESS_DENIED, error);
    port->bSetExclusive = ioctl(fd, TIOCEXCL) == 0;
  }
  // The settings found are given back at the close, so a terminal or another program's line
  // is not left raw.
  if (tcgetattr(fd, &port->found) == 0) {
    port->bRestoreLine = true;
    termios tio = port->found;
    MakeRaw(tio);
    tcsetattr(fd, TCSANOW, &tio);
    port->dcb = DcbFromTermios(tio);
  }
  return fd;
}

BOOL CPosixCommApi::CloseHandle(HANDLE handle) {
  int fd = -1;
  CPort port;
  if (!Find(handle, &fd, &port)) return Fail(ERROR_INVALID_HANDLE);
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_ports.erase(fd);
  }
  if (!Release(fd, port) && errno != EINTR) return Fail(ErrorFromErrno(errno));
  return TRUE;
}

bool CPosixCommApi::Release(int fd, const CPort& port) {
  // Before the exclusive flag goes, so no other program sees the line between the two. A
  // device that went away refuses; there is nothing left to restore then.
  if (port.bRestoreLine) tcsetattr(fd, TCSANOW, &port.found);
  // On a pty the exclusive flag outlives the last close and would lock out the next open.
  if (port.bSetExclusive) ioctl(fd, TIOCNXCL);
  return close(fd) == 0;
}

BOOL CPosixCommApi::GetCommState(HANDLE handle, LPDCB dcb) {
  int fd = -1;
  CPort port;
  if (!Find(handle, &fd, &port)) return Fail(ERROR_INVALID_HANDLE);
  if (dcb == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  termios tio;
  if (tcgetattr(fd, &tio) != 0) return Fail(ErrorFromErrno(errno));
  *dcb = port.dcb;
  return TRUE;
}

BOOL CPosixCommApi::SetCommState(HANDLE handle, LPDCB dcb) {
  int fd = -1;
  if (!Find(handle, &fd, nullptr)) return Fail(ERROR_INVALID_HANDLE);
  if (dcb == nullptr) return Fail(ERROR_INVALID_PARAMETER);

  speed_t speed;
  if (!SpeedFromBaud(dcb->BaudRate, &speed)) return Fail(ERROR_INVALID_PARAMETER);
  termios tio;
  if (tcgetattr(fd, &tio) != 0) return Fail(ErrorFromErrno(errno));
  if (!ApplyDcb(*dcb, tio, speed)) return Fail(ERROR_INVALID_PARAMETER);
  if (tcsetattr(fd, TCSANOW, &tio) != 0) return Fail(ErrorFromErrno(errno));
  // tcsetattr succeeds when any part was taken; a UART that cannot run at the rate keeps
  // another one, so look at what the driver really set.
  termios taken;
  if (tcgetattr(fd, &taken) != 0) return Fail(ErrorFromErrno(errno));
  if (cfgetospeed(&taken) != speed) return Fail(ERROR_INVALID_PARAMETER);

  if (dcb->fDtrControl != DTR_CONTROL_HANDSHAKE &&
      !SetModemLine(fd, TIOCM_DTR, dcb->fDtrControl == DTR_CONTROL_ENABLE)) {
    return Fail(ErrorFromErrno(errno));
  }
  if (dcb->fRtsControl != RTS_CONTROL_HANDSHAKE &&
      !SetModemLine(fd, TIOCM_RTS, dcb->fRtsControl == RTS_CONTROL_ENABLE)) {
    return Fail(ErrorFromErrno(errno));
  }

  std::lock_guard<std::mutex> lock(m_mutex);
  const auto found = m_ports.find(fd);
  if (found != m_ports.end()) found->second.dcb = *dcb;
  return TRUE;
}

BOOL CPosixCommApi::GetCommTimeouts(HANDLE handle, LPCOMMTIMEOUTS timeouts) {
  int fd = -1;
  CPort port;
  if (!Find(handle, &fd, &port)) return Fail(ERROR_INVALID_HANDLE);
  if (timeouts == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  *timeouts = port.timeouts;
  return TRUE;
}

BOOL CPosixCommApi::SetCommTimeouts(HANDLE handle, LPCOMMTIMEOUTS timeouts) {
  int fd = -1;
  if (!Find(handle, &fd, nullptr)) return Fail(ERROR_INVALID_HANDLE);
  if (timeouts == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  std::lock_guard<std::mutex> lock(m_mutex);
  const auto found = m_ports.find(fd);
  if (found == m_ports.end()) return Fail(ERROR_INVALID_HANDLE);
  found->second.timeouts = *timeouts;
  return TRUE;
}

BOOL CPosixCommApi::ReadFile(HANDLE handle, LPVOID buffer, DWORD toRead, LPDWORD read,
                             LPOVERLAPPED overlapped) {
  if (read != nullptr) *read = 0;
  int fd = -1;
  CPort port;
  if (!Find(handle, &fd, &port)) return Fail(ERROR_INVALID_HANDLE);
  if (overlapped != nullptr || (buffer == nullptr && toRead > 0)) {
    return Fail(ERROR_INVALID_PARAMETER);
  }

  const Clock::time_point start = Clock::now();
  Clock::time_point lastByte = start;
  BYTE* bytes = static_cast<BYTE*>(buffer);
  DWORD got = 0;
  while (got < toRead) {
    const Clock::time_point now = Clock::now();
    const int64_t waitMs =
        ReadWaitMs(port.timeouts, toRead, got, Micros(now - start), Micros(now - lastByte));
    const bool clipped = waitMs > INT_MAX;
    pollfd pfd{fd, POLLIN, 0};
    const int ready = poll(&pfd, 1, clipped ? INT_MAX : static_cast<int>(waitMs));
    if (ready < 0) {
      // A signal: go round again; the wait is worked out afresh from the same deadline.
      if (errno == EINTR) continue;
      if (read != nullptr) *read = got;
      return Fail(ErrorFromErrno(errno));
    }
    if (ready == 0) {
      if (clipped) continue;
      break;
    }
    if ((pfd.revents & POLLIN) != 0) {
      const ssize_t n = ::read(fd, bytes + got, toRead - got);
      if (n > 0) {
        got += static_cast<DWORD>(n);
        lastByte = Clock::now();
        continue;
      }
      if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
      // Ready with nothing to read is an end of file: the other side is gone.
      if (read != nullptr) *read = got;
      return Fail(n < 0 ? ErrorFromErrno(errno) : ERROR_GEN_FAILURE);
    }
    if (read != nullptr) *read = got;
    return Fail((pfd.revents & POLLNVAL) != 0 ? ERROR_INVALID_HANDLE : ERROR_GEN_FAILURE);
  }
  if (read != nullptr) *read = got;
  return TRUE;
}

BOOL CPosixCommApi::WriteFile(HANDLE handle, LPCVOID buffer, DWORD toWrite, LPDWORD written,
                              LPOVERLAPPED overlapped) {
  if (written != nullptr) *written = 0;
  int fd = -1;
  CPort port;
  if (!Find(handle, &fd, &port)) return Fail(ERROR_INVALID_HANDLE);
  if (overlapped != nullptr || (buffer == nullptr && toWrite > 0)) {
    return Fail(ERROR_INVALID_PARAMETER);
  }

  const COMMTIMEOUTS& t = port.timeouts;
  const bool hasTotal = t.WriteTotalTimeoutMultiplier != 0 || t.WriteTotalTimeoutConstant != 0;
  const Clock::time_point deadline = Deadline(
      static_cast<uint64_t>(t.WriteTotalTimeoutMultiplier) * toWrite + t.WriteTotalTimeoutConstant);

  const BYTE* bytes = static_cast<const BYTE*>(buffer);
  DWORD done = 0;
  while (done < toWrite) {
    const ssize_t n = write(fd, bytes + done, toWrite - done);
    if (n > 0) {
      done += static_cast<DWORD>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN) {
      if (written != nullptr) *written = done;
      return Fail(ErrorFromErrno(errno));
    }
    // The driver's buffer is full (the port is non-blocking): wait in the kernel for room.
    const int64_t waitMs = hasTotal ? MsUntil(deadline) : -1;
    const bool clipped = waitMs > INT_MAX;
    pollfd pfd{fd, POLLOUT, 0};
    const int ready = poll(&pfd, 1, clipped ? INT_MAX : static_cast<int>(waitMs));
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0) {
      if (written != nullptr) *written = done;
      return Fail(ErrorFromErrno(errno));
    }
    if (ready == 0) {
      if (clipped) continue;
      break;
    }
    if ((pfd.revents & POLLOUT) == 0) {
      if (written != nullptr) *written = done;
      return Fail((pfd.revents & POLLNVAL) != 0 ? ERROR_INVALID_HANDLE : ERROR_GEN_FAILURE);
    }
  }
  if (written != nullptr) *written = done;
  return TRUE;
}

BOOL CPosixCommApi::GetVersionExA(LPOSVERSIONINFOA info) {
  if (info == nullptr || info->dwOSVersionInfoSize < sizeof(OSVERSIONINFOA)) {
    return Fail(ERROR_INSUFFICIENT_BUFFER);
  }
  // What Windows 8 and later report to a program without a compatibility manifest.
  info->dwMajorVersion = 6;
  info->dwMinorVersion = 2;
  info->dwBuildNumber = 9200;
  info->dwPlatformId = VER_PLATFORM_WIN32_NT;
  info->szCSDVersion[0] = '\0';
  return TRUE;
}

DWORD CPosixCommApi::QueryDosDeviceA(LPCSTR deviceName, LPSTR targetPath, DWORD max) {
  std::string listing;
  if (deviceName == nullptr) {
    for (const auto& port : m_namespace.Ports()) {
      listing.append(ComPortName(port.first));
      listing.push_back('\0');
    }
  } else {
    std::string path;
    if (!m_namespace.Resolve(deviceName, &path)) {
      Fail(ERROR_FILE_NOT_FOUND);
      return 0;
    }
    listing = path;
    listing.push_back('\0');
  }
  // The list ends with an empty name.
  listing.push_back('\0');
  if (listing.size() < 2) listing.push_back('\0');

  if (targetPath == nullptr || listing.size() > max) {
    Fail(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::memcpy(targetPath, listing.data(), listing.size());
  return static_cast<DWORD>(listing.size());
}

DWORD CPosixCommApi::GetLastError() {
  return t_dwLastError;
}

CommApi& PlatformCommApi() {
  static CPosixCommApi api(CDeviceNamespace::FromSysfs());
  return api;
}
