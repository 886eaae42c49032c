#include "PosixCommApi.h"

#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
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
    case EACCES:
    case EPERM:
      return ERROR_ACCESS_DENIED;
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

HANDLE HandleFromFd(int fd) {
  return reinterpret_cast<HANDLE>(static_cast<intptr_t>(fd) + 1);
}

struct CBaud {
  DWORD dwRate;
  speed_t speed;
};

const CBaud kBauds[] = {
    {50, B50},           {75, B75},         {110, B110},       {134, B134},     {150, B150},
    {200, B200},         {300, B300},       {600, B600},       {1200, B1200},   {1800, B1800},
    {2400, B2400},       {4800, B4800},     {9600, B9600},     {19200, B19200}, {38400, B38400},
    {57600, B57600},     {115200, B115200}, {230400, B230400},
#ifdef B460800
    {460800, B460800},
#endif
#ifdef B500000
    {500000, B500000},
#endif
#ifdef B576000
    {576000, B576000},
#endif
#ifdef B921600
    {921600, B921600},
#endif
#ifdef B1000000
    {1000000, B1000000},
#endif
#ifdef B1152000
    {1152000, B1152000},
#endif
#ifdef B1500000
    {1500000, B1500000},
#endif
#ifdef B2000000
    {2000000, B2000000},
#endif
#ifdef B2500000
    {2500000, B2500000},
#endif
#ifdef B3000000
    {3000000, B3000000},
#endif
#ifdef B3500000
    {3500000, B3500000},
#endif
#ifdef B4000000
    {4000000, B4000000},
#endif
};

bool SpeedFromBaud(DWORD rate, speed_t* speed) {
  for (const CBaud& baud : kBauds) {
    if (baud.dwRate == rate) {
      *speed = baud.speed;
      return true;
    }
  }
  return false;
}

DWORD BaudFromSpeed(speed_t speed) {
  for (const CBaud& baud : kBauds) {
    if (baud.speed == speed) return baud.dwRate;
  }
  return 0;
}

// Raw bytes both ways and a line that ignores the modem's carrier. HUPCL goes, so closing the
// port does not drop DTR behind the caller's back. VMIN=VTIME=0 leaves all waiting to poll().
void MakeRaw(termios& tio) {
  tio.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL |
                                        IUCLC | IMAXBEL);
  tio.c_oflag &= ~static_cast<tcflag_t>(OPOST);
  tio.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHOE | ECHOK | ECHONL | ICANON | ISIG | IEXTEN);
  tio.c_cflag |= CLOCAL | CREAD;
  tio.c_cflag &= ~static_cast<tcflag_t>(HUPCL);
  tio.c_cc[VMIN] = 0;
  tio.c_cc[VTIME] = 0;
}

DCB DcbFromTermios(const termios& tio) {
  DCB dcb;
  std::memset(&dcb, 0, sizeof dcb);
  dcb.DCBlength = sizeof dcb;
  dcb.BaudRate = BaudFromSpeed(cfgetospeed(&tio));
  dcb.fBinary = 1;
  dcb.fParity = (tio.c_iflag & INPCK) != 0;
  const bool rtsCts = (tio.c_cflag & CRTSCTS) != 0;
  dcb.fOutxCtsFlow = rtsCts;
  // Linux raises DTR and RTS when a tty is opened.
  dcb.fDtrControl = DTR_CONTROL_ENABLE;
  dcb.fRtsControl = rtsCts ? RTS_CONTROL_HANDSHAKE : RTS_CONTROL_ENABLE;
  dcb.fOutX = (tio.c_iflag & IXON) != 0;
  dcb.fInX = (tio.c_iflag & IXOFF) != 0;
  dcb.XonLim = 2048;
  dcb.XoffLim = 512;
  switch (tio.c_cflag & CSIZE) {
    case CS5:
      dcb.ByteSize = 5;
      break;
    case CS6:
      dcb.ByteSize = 6;
      break;
    case CS7:
      dcb.ByteSize = 7;
      break;
    default:
      dcb.ByteSize = 8;
      break;
  }
  if ((tio.c_cflag & PARENB) == 0) {
    dcb.Parity = NOPARITY;
#ifdef CMSPAR
  } else if ((tio.c_cflag & CMSPAR) != 0) {
    dcb.Parity = (tio.c_cflag & PARODD) != 0 ? MARKPARITY : SPACEPARITY;
#endif
  } else {
    dcb.Parity = (tio.c_cflag & PARODD) != 0 ? ODDPARITY : EVENPARITY;
  }
  dcb.StopBits = (tio.c_cflag & CSTOPB) != 0 ? TWOSTOPBITS : ONESTOPBIT;
  dcb.XonChar = static_cast<char>(tio.c_cc[VSTART]);
  dcb.XoffChar = static_cast<char>(tio.c_cc[VSTOP]);
  return dcb;
}

// What termios cannot do is refused rather than silently ignored: DSR flow control and
// sensitivity, NUL stripping, parity-error replacement, DTR handshake, RTS toggling.
bool ApplyDcb(const DCB& dcb, termios& tio, speed_t speed) {
  if (dcb.ByteSize < 5 || dcb.ByteSize > 8) return false;
  if (dcb.StopBits != ONESTOPBIT && dcb.StopBits != TWOSTOPBITS) return false;
  if (dcb.fOutxDsrFlow || dcb.fDsrSensitivity || dcb.fNull || dcb.fErrorChar) return false;
  if (dcb.fDtrControl == DTR_CONTROL_HANDSHAKE || dcb.fRtsControl == RTS_CONTROL_TOGGLE) {
    return false;
  }

  tcflag_t parity = 0;
  switch (dcb.Parity) {
    case NOPARITY:
      break;
    case ODDPARITY:
      parity = PARENB | PARODD;
      break;
    case EVENPARITY:
      parity = PARENB;
      break;
#ifdef CMSPAR
    case MARKPARITY:
      parity = PARENB | PARODD | CMSPAR;
      break;
    case SPACEPARITY:
      parity = PARENB | CMSPAR;
      break;
#endif
    default:
      return false;
  }
  static const tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};

  MakeRaw(tio);
  tcflag_t cleared = CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS;
#ifdef CMSPAR
  cleared |= CMSPAR;
#endif
  tio.c_cflag &= ~cleared;
  tio.c_cflag |= kSizes[dcb.ByteSize - 5] | parity;
  if (dcb.StopBits == TWOSTOPBITS) tio.c_cflag |= CSTOPB;
  if (dcb.fOutxCtsFlow || dcb.fRtsControl == RTS_CONTROL_HANDSHAKE) tio.c_cflag |= CRTSCTS;

  tio.c_iflag &= ~static_cast<tcflag_t>(INPCK | IXON | IXOFF | IXANY);
  if (dcb.fParity) tio.c_iflag |= INPCK;
  if (dcb.fOutX) tio.c_iflag |= IXON;
  if (dcb.fInX) tio.c_iflag |= IXOFF;
  tio.c_cc[VSTART] = static_cast<cc_t>(dcb.XonChar);
  tio.c_cc[VSTOP] = static_cast<cc_t>(dcb.XoffChar);

  cfsetispeed(&tio, speed);
  cfsetospeed(&tio, speed);
  return true;
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

std::string BaseName(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The pid in a UUCP lock file: ten ASCII digits and a newline (HDB, most programs), or the
// pid as a binary int (old UUCP). Anything else gives 0.
pid_t LockHolder(const std::string& lockPath) {
  const int fd = open(lockPath.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return 0;
  char text[32];
  ssize_t n;
  do {
    n = read(fd, text, sizeof text - 1);
  } while (n < 0 && errno == EINTR);
  close(fd);
  if (n <= 0) return 0;
  text[n] = '\0';

  bool ascii = true;
  for (ssize_t i = 0; i < n; ++i) {
    const char c = text[i];
    ascii = ascii && ((c >= '0' && c <= '9') || c == ' ' || c == '\t' || c == '\n');
  }
  if (!ascii) {
    if (n != sizeof(int)) return 0;
    int pid = 0;
    std::memcpy(&pid, text, sizeof pid);
    return pid > 0 ? static_cast<pid_t>(pid) : 0;
  }
  const char* p = text;
  while (*p == ' ' || *p == '\t') ++p;
  long long pid = 0;
  for (; *p >= '0' && *p <= '9' && pid <= INT_MAX; ++p) pid = pid * 10 + (*p - '0');
  return pid > 0 && pid <= INT_MAX ? static_cast<pid_t>(pid) : 0;
}

// A lock whose process has ended is stale: the program died without removing it. EPERM means
// the process runs under another user.
bool IsRunning(pid_t pid) {
  return pid > 0 && (kill(pid, 0) == 0 || errno == EPERM);
}

using Clock = std::chrono::steady_clock;

// Rounded up: a wait cut to 0 ms would give up before the deadline.
int64_t MsUntil(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now());
  return std::max<int64_t>(0, (left.count() + 999) / 1000);
}

Clock::time_point Deadline(uint64_t ms) {
  return Clock::now() + std::chrono::milliseconds(ms);
}

}  // namespace

CPosixCommApi::CPosixCommApi(CDeviceNamespace ns, std::string lockDir)
    : m_namespace(std::move(ns)), m_strLockDir(std::move(lockDir)) {}

CPosixCommApi::~CPosixCommApi() {
  for (const auto& entry : m_ports) {
    if (entry.second.bSetExclusive) ioctl(entry.first, TIOCNXCL);
    close(entry.first);
  }
}

// Terminal programs (minicom, picocom, cu) name the lock after the device they opened, which
// may be a symlink to the one we were given or the other way round: try both names.
bool CPosixCommApi::IsLockedByUucp(const std::string& path) const {
  if (m_strLockDir.empty()) return false;
  std::string names[2] = {BaseName(path), std::string()};
  if (char* real = realpath(path.c_str(), nullptr)) {
    names[1] = BaseName(real);
    free(real);
  }
  for (const std::string& name : names) {
    if (name.empty() || name == "." || name == "..") continue;
    if (IsRunning(LockHolder(m_strLockDir + "/LCK.." + name))) return true;
  }
  return false;
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

  // Before the open, which would raise the lines of a device another program is using.
  if (IsLockedByUucp(path)) {
    Fail(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }

  const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    Fail(ErrorFromErrno(errno));
    return INVALID_HANDLE_VALUE;
  }
  // A serial port belongs to one program at a time. TIOCEXCL alone does not stop root, and
  // flock alone does not stop programs that never lock; take both. The lock is tried first
  // so that a refused open never touches the holder's TIOCEXCL.
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int error = errno;
    close(fd);
    Fail(error == EWOULDBLOCK ? ERROR_ACCESS_DENIED : ErrorFromErrno(error));
    return INVALID_HANDLE_VALUE;
  }
  // Root opens a tty whatever its exclusive flag says, so a flag that is already set is
  // another program's claim: refuse, and leave the flag to its owner. A device that is no
  // tty answers neither call and is held by flock alone.
  int exclusive = 0;
  bool setExclusive = false;
  if (ioctl(fd, TIOCGEXCL, &exclusive) == 0) {
    if (exclusive != 0) {
      close(fd);
      Fail(ERROR_ACCESS_DENIED);
      return INVALID_HANDLE_VALUE;
    }
    setExclusive = ioctl(fd, TIOCEXCL) == 0;
  }

  CPort port;
  std::memset(&port, 0, sizeof port);
  port.bSetExclusive = setExclusive;
  termios tio;
  if (tcgetattr(fd, &tio) == 0) {
    MakeRaw(tio);
    tcsetattr(fd, TCSANOW, &tio);
    port.dcb = DcbFromTermios(tio);
  }
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_ports[fd] = port;
  }
  return HandleFromFd(fd);
}

BOOL CPosixCommApi::CloseHandle(HANDLE handle) {
  int fd = -1;
  CPort port;
  if (!Find(handle, &fd, &port)) return Fail(ERROR_INVALID_HANDLE);
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_ports.erase(fd);
  }
  // On a pty the exclusive flag outlives the last close and would lock out the next open.
  if (port.bSetExclusive) ioctl(fd, TIOCNXCL);
  if (close(fd) != 0 && errno != EINTR) return Fail(ErrorFromErrno(errno));
  return TRUE;
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

  // The COMMTIMEOUTS rules: MAXDWORD interval with no total returns at once with what is
  // there; MAXDWORD interval and multiplier wait up to the constant for a first byte; a
  // zero total waits without end; the interval limits the gap after each byte.
  const COMMTIMEOUTS& t = port.timeouts;
  const bool immediate = t.ReadIntervalTimeout == MAXDWORD && t.ReadTotalTimeoutMultiplier == 0 &&
                         t.ReadTotalTimeoutConstant == 0;
  const bool firstByteEnds = t.ReadIntervalTimeout == MAXDWORD &&
                             t.ReadTotalTimeoutMultiplier == MAXDWORD &&
                             t.ReadTotalTimeoutConstant != MAXDWORD;
  const bool useInterval = t.ReadIntervalTimeout != 0 && t.ReadIntervalTimeout != MAXDWORD;
  const bool hasTotal =
      !immediate && (t.ReadTotalTimeoutMultiplier != 0 || t.ReadTotalTimeoutConstant != 0);
  const uint64_t totalMs = firstByteEnds
                               ? t.ReadTotalTimeoutConstant
                               : static_cast<uint64_t>(t.ReadTotalTimeoutMultiplier) * toRead +
                                     t.ReadTotalTimeoutConstant;
  const Clock::time_point deadline = Deadline(totalMs);
  Clock::time_point intervalDeadline = deadline;

  BYTE* bytes = static_cast<BYTE*>(buffer);
  DWORD got = 0;
  while (got < toRead) {
    int64_t waitMs = -1;
    if (immediate || (firstByteEnds && got > 0)) {
      waitMs = 0;
    } else {
      if (hasTotal) waitMs = MsUntil(deadline);
      if (useInterval && got > 0) {
        const int64_t gap = MsUntil(intervalDeadline);
        waitMs = waitMs < 0 ? gap : std::min(waitMs, gap);
      }
    }
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
        if (useInterval) intervalDeadline = Deadline(t.ReadIntervalTimeout);
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
