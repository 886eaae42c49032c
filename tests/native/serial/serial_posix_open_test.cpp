// Who may open a port through the POSIX serial layer, how each refusal reads to the caller
// (absent, held by another program, not the user's to open, the user's own terminal), and
// how the line is left after the close. On real pseudo-terminals.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ControllingTerminal.h"
#include "serial/PosixPtyRig.h"
#include "serial/SerialPort.h"

namespace {

TEST_F(SerialPosixComm, AbsentPathIsFileNotFound) {
  EXPECT_EQ(m_api.CreateFileA("/dev/no-such-serial-port", GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              OPEN_EXISTING, 0, nullptr),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(m_api.GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(m_api.CreateFileA("//./COM3", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              0, nullptr),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(m_api.GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST_F(SerialPosixComm, SecondOpenIsRefusedWhileTheFirstHoldsThePort) {
  HANDLE first = OpenSlave();
  ASSERT_NE(first, INVALID_HANDLE_VALUE);
  EXPECT_EQ(OpenSlave(), INVALID_HANDLE_VALUE);
  EXPECT_EQ(m_api.GetLastError(), ERROR_ACCESS_DENIED);

  CPosixCommApi otherProgram(CDeviceNamespace::FromMap({}));
  EXPECT_EQ(otherProgram.CreateFileA(m_pty.Slave().c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                     nullptr, OPEN_EXISTING, 0, nullptr),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(otherProgram.GetLastError(), ERROR_ACCESS_DENIED);

  // The refused opens must not have taken the holder's exclusivity away, and closing must
  // give the port free again.
  ASSERT_TRUE(m_api.CloseHandle(first));
  HANDLE again = OpenSlave();
  ASSERT_NE(again, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(m_api.CloseHandle(again));
}

// Another program that takes the tty with TIOCEXCL only, as many terminal programs do.
class CExclusiveHolder {
 public:
  explicit CExclusiveHolder(const std::string& path)
      : m_nFd(open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)) {
    if (m_nFd >= 0) ioctl(m_nFd, TIOCEXCL);
  }
  ~CExclusiveHolder() {
    if (m_nFd >= 0) close(m_nFd);
  }
  bool Ok() const { return m_nFd >= 0 && FlagSet(); }
  bool FlagSet() const {
    int flag = 0;
    return ioctl(m_nFd, TIOCGEXCL, &flag) == 0 && flag != 0;
  }
  void Release() { ioctl(m_nFd, TIOCNXCL); }

 private:
  int m_nFd;
};

// Root opens a tty whatever its exclusive flag says; only reading the flag back shows that
// someone else holds it. Run as another user, the kernel refuses the open itself.
TEST_F(SerialPosixComm, PortAnotherProgramHoldsWithTheExclusiveFlagIsRefusedEvenToRoot) {
  CExclusiveHolder holder(m_pty.Slave());
  ASSERT_TRUE(holder.Ok());
  EXPECT_EQ(OpenSlave(), INVALID_HANDLE_VALUE) << (geteuid() == 0 ? "as root" : "as a user");
  EXPECT_EQ(m_api.GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_TRUE(holder.FlagSet()) << "the refused open took the holder's flag away";

  holder.Release();
  HANDLE h = OpenSlave();
  ASSERT_NE(h, INVALID_HANDLE_VALUE) << "the flag cleared, the port is free";
  EXPECT_TRUE(holder.FlagSet()) << "our handle sets the flag while it holds the port";
  EXPECT_TRUE(m_api.CloseHandle(h));
  EXPECT_FALSE(holder.FlagSet()) << "our close clears the flag our handle set";
}

// Terminal programs such as minicom and picocom claim a port with a UUCP lock file holding
// their pid and take no other lock.
class SerialPosixUucpLock : public SerialPosixComm {
 protected:
  void SetUp() override {
    SerialPosixComm::SetUp();
    char dir[] = "/tmp/corvane-lock-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    m_strDir = dir;
    m_pApi =
        std::make_unique<CPosixCommApi>(CDeviceNamespace::FromMap({{4, m_pty.Slave()}}), m_strDir);
  }
  void TearDown() override {
    m_pApi.reset();
    for (const std::string& file : m_files) unlink(file.c_str());
    rmdir(m_strDir.c_str());
  }

  static std::string Base(const std::string& path) {
    return path.substr(path.find_last_of('/') + 1);
  }
  void WriteLock(const std::string& device, const std::string& bytes) {
    const std::string path = m_strDir + "/LCK.." + device;
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
    m_files.push_back(path);
  }
  static std::string AsciiPid(long pid) {
    char text[16];
    std::snprintf(text, sizeof text, "%10ld\n", pid);
    return text;
  }
  static std::string BinaryPid(int pid) { return std::string(reinterpret_cast<char*>(&pid), 4); }
  // The pid of a process that has ended and been reaped.
  static pid_t DeadPid() {
    const pid_t child = fork();
    if (child == 0) _exit(0);
    waitpid(child, nullptr, 0);
    return child;
  }
  bool Opens() {
    CSerialPort channel(*m_pApi);
    if (!channel.Open("COM4", 9600, 100)) return false;
    channel.Close();
    return true;
  }

  std::string m_strDir;
  std::vector<std::string> m_files;
  std::unique_ptr<CPosixCommApi> m_pApi;
};

TEST_F(SerialPosixUucpLock, LiveLockRefusesThePortInEitherFormat) {
  ASSERT_TRUE(Opens());
  WriteLock(Base(m_pty.Slave()), AsciiPid(getpid()));
  EXPECT_FALSE(Opens()) << "ASCII lock";
  EXPECT_EQ(m_pApi->GetLastError(), ERROR_ACCESS_DENIED);
  WriteLock(Base(m_pty.Slave()), BinaryPid(getpid()));
  EXPECT_FALSE(Opens()) << "binary lock";
  EXPECT_EQ(m_pApi->GetLastError(), ERROR_ACCESS_DENIED);
}

TEST_F(SerialPosixUucpLock, StaleOrUnreadableLockDoesNotRefuse) {
  const std::string device = Base(m_pty.Slave());
  for (const std::string& content :
       {AsciiPid(DeadPid()), BinaryPid(DeadPid()), std::string(), std::string("garbage\n"),
        std::string("0\n"), std::string("-1\n"), std::string("99999999999999999999\n"),
        std::string(4000, '7')}) {
    WriteLock(device, content);
    EXPECT_TRUE(Opens()) << "lock content of " << content.size() << " bytes";
  }
}

TEST_F(SerialPosixUucpLock, LockUnderEitherNameOfASymlinkedDeviceRefuses) {
  const std::string link = m_strDir + "/ttyUSB7";
  ASSERT_EQ(symlink(m_pty.Slave().c_str(), link.c_str()), 0);
  m_files.push_back(link);
  CPosixCommApi api(CDeviceNamespace::FromMap({{4, link}}), m_strDir);
  CSerialPort channel(api);

  WriteLock("ttyUSB7", AsciiPid(getpid()));
  EXPECT_FALSE(channel.Open("COM4", 9600, 100)) << "locked under the name we open";
  WriteLock("ttyUSB7", AsciiPid(DeadPid()));
  ASSERT_TRUE(channel.Open("COM4", 9600, 100));
  channel.Close();
  WriteLock(Base(m_pty.Slave()), AsciiPid(getpid()));
  EXPECT_FALSE(channel.Open("COM4", 9600, 100)) << "locked under the real device's name";
}

// Another program that claims the tty with flock alone.
class CFlockHolder {
 public:
  explicit CFlockHolder(const std::string& path)
      : m_nFd(open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)) {}
  ~CFlockHolder() {
    if (m_nFd >= 0) close(m_nFd);
  }
  bool Ok() const { return m_nFd >= 0 && flock(m_nFd, LOCK_EX | LOCK_NB) == 0; }

 private:
  int m_nFd;
};

// The three reasons an open fails read differently, so the command line can say "busy" for
// the one Windows itself reports as ERROR_ACCESS_DENIED.
TEST_F(SerialPosixComm, PortHeldByAnotherProgramsFlockIsBusy) {
  CFlockHolder holder(m_pty.Slave());
  ASSERT_TRUE(holder.Ok());
  EXPECT_EQ(OpenSlave(), INVALID_HANDLE_VALUE);
  EXPECT_EQ(m_api.GetLastError(), ERROR_ACCESS_DENIED);
}

// Runs job in a forked child and hands back what it returned, so that a test can change what
// the process is (its user, its session) without changing the test runner. False when the
// child did not report.
template <class T>
bool RunInChild(const std::function<T()>& job, T* result) {
  int fds[2];
  if (pipe(fds) != 0) return false;
  const pid_t child = fork();
  if (child == 0) {
    close(fds[0]);
    const T value = job();
    const bool sent = write(fds[1], &value, sizeof value) == static_cast<ssize_t>(sizeof value);
    _exit(sent ? 0 : 1);
  }
  close(fds[1]);
  ssize_t n = -1;
  if (child > 0) {
    do {
      n = read(fds[0], result, sizeof *result);
    } while (n < 0 && errno == EINTR);
  }
  close(fds[0]);
  int status = 0;
  return child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status) &&
         WEXITSTATUS(status) == 0 && n == static_cast<ssize_t>(sizeof *result);
}

TEST_F(SerialPosixComm, DeviceTheUserMayNotOpenIsRefusedForPermissionNotAsBusy) {
  ASSERT_EQ(chmod(m_pty.Slave().c_str(), 0), 0);
  // Root opens a device whatever its mode says; the open must come from a user it refuses.
  const bool root = geteuid() == 0;
  const std::string slave = m_pty.Slave();
  struct CSeen {
    bool bAsAnotherUser;
    DWORD dwError;
  } seen{};
  ASSERT_TRUE(RunInChild<CSeen>(
      [&] {
        constexpr uid_t kNobody = 65534;
        if (root && (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0)) {
          return CSeen{false, ERROR_SUCCESS};
        }
        CPosixCommApi api(CDeviceNamespace::FromMap({}));
        const HANDLE h = api.CreateFileA(slave.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                         OPEN_EXISTING, 0, nullptr);
        return CSeen{true, h == INVALID_HANDLE_VALUE ? api.GetLastError() : ERROR_SUCCESS};
      },
      &seen));
  if (!seen.bAsAnotherUser) {
    GTEST_SKIP() << "root without the right to become another user: no open here can be "
                    "refused for the device's permissions";
  }
  EXPECT_EQ(seen.dwError, static_cast<DWORD>(ERROR_PRIVILEGE_NOT_HELD));
}

// What a terminal or a login leaves on a line: cooked input with echo, output processing,
// 4800 baud, 7 data bits with even parity.
termios CookedLine(termios tio) {
  tio.c_iflag |= ICRNL | IXON;
  tio.c_oflag |= OPOST | ONLCR;
  tio.c_lflag |= ICANON | ECHO | ECHOE | ISIG | IEXTEN;
  tio.c_cflag = (tio.c_cflag & ~static_cast<tcflag_t>(CSIZE)) | CS7 | PARENB;
  tio.c_cc[VMIN] = 1;
  tio.c_cc[VTIME] = 5;
  cfsetispeed(&tio, B4800);
  cfsetospeed(&tio, B4800);
  return tio;
}

bool SameLine(const termios& a, const termios& b) {
  return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag &&
         a.c_lflag == b.c_lflag && std::memcmp(a.c_cc, b.c_cc, sizeof a.c_cc) == 0 &&
         cfgetispeed(&a) == cfgetispeed(&b) && cfgetospeed(&a) == cfgetospeed(&b);
}

// Another program's view of the line (held open, no lock taken), set up as a terminal.
class SerialPosixLineRestore : public SerialPosixComm {
 protected:
  void SetUp() override {
    SerialPosixComm::SetUp();
    m_nObserver = open(m_pty.Slave().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(m_nObserver, 0);
    termios tio;
    ASSERT_EQ(tcgetattr(m_nObserver, &tio), 0);
    tio = CookedLine(tio);
    ASSERT_EQ(tcsetattr(m_nObserver, TCSANOW, &tio), 0);
    ASSERT_EQ(tcgetattr(m_nObserver, &m_found), 0);
  }
  void TearDown() override { close(m_nObserver); }
  termios Line() const {
    termios tio;
    std::memset(&tio, 0, sizeof tio);
    tcgetattr(m_nObserver, &tio);
    return tio;
  }

  int m_nObserver = -1;
  termios m_found;
};

TEST_F(SerialPosixLineRestore, CloseLeavesTheLineAsTheOpenFoundIt) {
  CPosixCommApi api(CDeviceNamespace::FromMap({{4, m_pty.Slave()}}));
  CSerialPort channel(api);
  ASSERT_TRUE(channel.Open("COM4", 9600, 100));
  EXPECT_FALSE(SameLine(Line(), m_found)) << "raw at 9600 while the port is held";
  channel.Close();
  EXPECT_TRUE(SameLine(Line(), m_found)) << "the close left the line raw";
}

TEST_F(SerialPosixLineRestore, HandleLeftOpenIsRestoredWhenTheApiGoes) {
  {
    CPosixCommApi api(CDeviceNamespace::FromMap({{4, m_pty.Slave()}}));
    CSerialPort channel(api);
    ASSERT_TRUE(channel.Open("COM4", 9600, 100));
  }
  EXPECT_TRUE(SameLine(Line(), m_found));
}

// `--port /dev/tty` once sent the probe to the user's own terminal and left it raw. The
// child makes the pty its session's controlling terminal, as a login does.
TEST_F(SerialPosixComm, ControllingTerminalIsRefusedAndLeftAsItWas) {
  CPty other;
  ASSERT_TRUE(other.Ok());
  EXPECT_FALSE(IsControllingTerminal(m_pty.Slave())) << "not this process's terminal";
  EXPECT_FALSE(IsControllingTerminal("/dev/null"));
  EXPECT_FALSE(IsControllingTerminal("/dev/no-such-tty"));

  struct CSeen {
    bool bBecameTerminal;
    bool bSlaveIs, bDevTtyIs, bOtherIs;
    DWORD dwSlaveError, dwDevTtyError;
    bool bOtherOpens, bLineKept;
  } seen{};
  const std::string slave = m_pty.Slave(), otherSlave = other.Slave();
  ASSERT_TRUE(RunInChild<CSeen>(
      [&] {
        CSeen s{};
        const int fd = open(slave.c_str(), O_RDWR | O_NOCTTY);
        termios before, after;
        s.bBecameTerminal =
            setsid() > 0 && fd >= 0 && ioctl(fd, TIOCSCTTY, 0) == 0 && tcgetattr(fd, &before) == 0;
        if (!s.bBecameTerminal) return s;
        s.bSlaveIs = IsControllingTerminal(slave);
        s.bDevTtyIs = IsControllingTerminal("/dev/tty");
        s.bOtherIs = IsControllingTerminal(otherSlave);
        CPosixCommApi api(CDeviceNamespace::FromMap({}));
        auto openError = [&api](const std::string& path) {
          const HANDLE h = api.CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                           OPEN_EXISTING, 0, nullptr);
          if (h == INVALID_HANDLE_VALUE) return api.GetLastError();
          api.CloseHandle(h);
          return static_cast<DWORD>(ERROR_SUCCESS);
        };
        s.dwSlaveError = openError(slave);
        s.dwDevTtyError = openError("/dev/tty");
        s.bOtherOpens = openError(otherSlave) == ERROR_SUCCESS;
        s.bLineKept = tcgetattr(fd, &after) == 0 && SameLine(before, after);
        return s;
      },
      &seen));
  ASSERT_TRUE(seen.bBecameTerminal);
  EXPECT_TRUE(seen.bSlaveIs);
  EXPECT_TRUE(seen.bDevTtyIs);
  EXPECT_FALSE(seen.bOtherIs);
  EXPECT_EQ(seen.dwSlaveError, static_cast<DWORD>(ERROR_NOT_SUPPORTED));
  EXPECT_EQ(seen.dwDevTtyError, static_cast<DWORD>(ERROR_NOT_SUPPORTED));
  EXPECT_TRUE(seen.bOtherOpens) << "another pty is an ordinary port";
  EXPECT_TRUE(seen.bLineKept) << "the refused opens changed the terminal's settings";
}

}  // namespace
