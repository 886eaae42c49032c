// The POSIX stand-in for the Win32 serial calls, on real pseudo-terminals.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "PosixCommApi.h"
#include "serial/SerialPort.h"

namespace {

using Clock = std::chrono::steady_clock;

long long MsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// The master side of a pty plays the device; the slave's path is the port.
class CPty {
 public:
  CPty() {
    m_nMaster = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_nMaster >= 0 && grantpt(m_nMaster) == 0 && unlockpt(m_nMaster) == 0) {
      m_strSlave = ptsname(m_nMaster);
    }
  }
  ~CPty() { CloseMaster(); }
  bool Ok() const { return m_nMaster >= 0 && !m_strSlave.empty(); }
  const std::string& Slave() const { return m_strSlave; }
  bool Send(const std::string& bytes) {
    return write(m_nMaster, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
  }
  // What the port wrote, waiting up to timeoutMs for the first byte.
  std::string Receive(int timeoutMs = 1000) {
    std::string got;
    pollfd pfd{m_nMaster, POLLIN, 0};
    while (poll(&pfd, 1, got.empty() ? timeoutMs : 50) > 0) {
      char buf[256];
      const ssize_t n = read(m_nMaster, buf, sizeof buf);
      if (n <= 0) break;
      got.append(buf, static_cast<std::size_t>(n));
    }
    return got;
  }
  void CloseMaster() {
    if (m_nMaster >= 0) close(m_nMaster);
    m_nMaster = -1;
  }

 private:
  int m_nMaster = -1;
  std::string m_strSlave;
};

class SerialPosixComm : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(m_pty.Ok()); }

  HANDLE OpenSlave() {
    return m_api.CreateFileA(m_pty.Slave().c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                             OPEN_EXISTING, 0, nullptr);
  }
  bool SetReadTimeout(HANDLE h, DWORD ms) {
    COMMTIMEOUTS t{};
    t.ReadTotalTimeoutMultiplier = ms;
    return m_api.SetCommTimeouts(h, &t) != FALSE;
  }

  CPty m_pty;
  CPosixCommApi m_api{CDeviceNamespace::FromMap({})};
};

TEST_F(SerialPosixComm, HandleIsNeitherNullNorInvalid) {
  HANDLE h = OpenSlave();
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_NE(h, nullptr);
  EXPECT_TRUE(m_api.CloseHandle(h));
  EXPECT_FALSE(m_api.CloseHandle(h)) << "a closed handle is not closed twice";
  EXPECT_EQ(m_api.GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_FALSE(m_api.CloseHandle(INVALID_HANDLE_VALUE));
  EXPECT_FALSE(m_api.CloseHandle(nullptr));
}

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

TEST_F(SerialPosixComm, LastErrorIsKeptPerThread) {
  EXPECT_EQ(m_api.CreateFileA("/dev/no-such-serial-port", GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              OPEN_EXISTING, 0, nullptr),
            INVALID_HANDLE_VALUE);
  DWORD other = 1234;
  std::thread([&] { other = m_api.GetLastError(); }).join();
  EXPECT_EQ(other, ERROR_SUCCESS);
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

TEST_F(SerialPosixComm, CommStateRoundTripsAndRefusesWhatTermiosCannotDo) {
  HANDLE h = OpenSlave();
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  DCB dcb;
  ASSERT_TRUE(m_api.GetCommState(h, &dcb));
  EXPECT_EQ(dcb.DCBlength, sizeof(DCB));
  EXPECT_TRUE(m_api.SetCommState(h, &dcb)) << "what GetCommState reports is taken back";

  dcb.BaudRate = 9600;
  dcb.ByteSize = 8;
  dcb.Parity = NOPARITY;
  dcb.StopBits = ONESTOPBIT;
  dcb.fOutxCtsFlow = 0;
  dcb.fOutX = 0;
  dcb.fInX = 0;
  dcb.fDtrControl = DTR_CONTROL_DISABLE;
  dcb.fRtsControl = RTS_CONTROL_DISABLE;
  dcb.fAbortOnError = 1;
  dcb.fTXContinueOnXoff = 1;
  dcb.XonLim = 77;
  dcb.EvtChar = 0x7E;
  ASSERT_TRUE(m_api.SetCommState(h, &dcb)) << "DTR/RTS on a pty are no error";
  DCB back;
  std::memset(&back, 0x5A, sizeof back);
  ASSERT_TRUE(m_api.GetCommState(h, &back));
  EXPECT_EQ(std::memcmp(&dcb, &back, sizeof dcb), 0);

  termios tio;
  const int fd = open(m_pty.Slave().c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(tcgetattr(fd, &tio), 0);
  close(fd);
  EXPECT_EQ(cfgetospeed(&tio), static_cast<speed_t>(B9600));
  EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_EQ(tio.c_cflag & (PARENB | CSTOPB | CRTSCTS | HUPCL), 0u);
  EXPECT_EQ(tio.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
  EXPECT_EQ(tio.c_iflag & (IXON | IXOFF | ICRNL | INPCK), 0u);
  EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ISIG), 0u);
  EXPECT_EQ(tio.c_oflag & OPOST, 0u);
  EXPECT_EQ(tio.c_cc[VMIN], 0);
  EXPECT_EQ(tio.c_cc[VTIME], 0);

  DCB bad = dcb;
  bad.BaudRate = 14400;
  EXPECT_FALSE(m_api.SetCommState(h, &bad));
  EXPECT_EQ(m_api.GetLastError(), ERROR_INVALID_PARAMETER);
  bad = dcb;
  bad.ByteSize = 9;
  EXPECT_FALSE(m_api.SetCommState(h, &bad));
  bad = dcb;
  bad.fOutxDsrFlow = 1;
  EXPECT_FALSE(m_api.SetCommState(h, &bad));
  ASSERT_TRUE(m_api.GetCommState(h, &back));
  EXPECT_EQ(std::memcmp(&dcb, &back, sizeof dcb), 0) << "a refused state changes nothing";

  EXPECT_TRUE(m_api.CloseHandle(h));
}

TEST_F(SerialPosixComm, ChannelTalksToTheDeviceAt9600) {
  CPosixCommApi api(CDeviceNamespace::FromMap({{7, m_pty.Slave()}}));
  CSerialPort channel(api);
  ASSERT_TRUE(channel.Open("COM7", 9600, 1000));
  EXPECT_TRUE(channel.WriteLine("AT"));
  EXPECT_EQ(m_pty.Receive(), "AT\r") << "raw output: no CR to CR LF";

  ASSERT_TRUE(m_pty.Send(std::string("\xF1\x01\x0D\x02\x00\x0D", 6)));
  BYTE buf[21];
  std::memset(buf, 0xAA, sizeof buf);
  EXPECT_TRUE(channel.ReadLine(buf, 20));
  EXPECT_EQ(buf[0], 0xF1);
  EXPECT_EQ(buf[1], 0x01);
  EXPECT_EQ(buf[2], 0x00);
  std::memset(buf, 0xAA, sizeof buf);
  EXPECT_TRUE(channel.ReadLine(buf, 20));
  EXPECT_EQ(buf[0], 0x02);
  EXPECT_EQ(buf[1], 0x00) << "a 0 byte arrives like any other";
  EXPECT_EQ(buf[2], 0x00);
  EXPECT_EQ(buf[3], 0xAA);
  channel.Close();
}

TEST_F(SerialPosixComm, SilentLineFailsAfterAboutThePerByteTimeout) {
  HANDLE h = OpenSlave();
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  ASSERT_TRUE(SetReadTimeout(h, 200));
  BYTE b = 0;
  DWORD count = 99;
  const auto start = Clock::now();
  EXPECT_TRUE(m_api.ReadFile(h, &b, 1, &count, nullptr)) << "a time-out is not a failure";
  const long long elapsed = MsSince(start);
  EXPECT_EQ(count, 0u);
  EXPECT_GE(elapsed, 190);
  EXPECT_LT(elapsed, 2000);
  EXPECT_TRUE(m_api.CloseHandle(h));
}

TEST_F(SerialPosixComm, ByteArrivingDuringTheWaitEndsIt) {
  HANDLE h = OpenSlave();
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  ASSERT_TRUE(SetReadTimeout(h, 5000));
  std::thread device([this] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    m_pty.Send("\x06");
  });
  BYTE b = 0;
  DWORD count = 0;
  const auto start = Clock::now();
  EXPECT_TRUE(m_api.ReadFile(h, &b, 1, &count, nullptr));
  device.join();
  EXPECT_EQ(count, 1u);
  EXPECT_EQ(b, 0x06);
  EXPECT_LT(MsSince(start), 4000);
  EXPECT_TRUE(m_api.CloseHandle(h));
}

TEST_F(SerialPosixComm, DeviceGoingAwayFailsTheNextReadAtOnce) {
  HANDLE h = OpenSlave();
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  ASSERT_TRUE(SetReadTimeout(h, 5000));
  ASSERT_TRUE(m_pty.Send("Z"));
  BYTE b = 0;
  DWORD count = 0;
  ASSERT_TRUE(m_api.ReadFile(h, &b, 1, &count, nullptr));
  EXPECT_EQ(b, 'Z');
  // Closing the master hangs the pty up; the kernel drops any unread input with it.
  m_pty.CloseMaster();
  const auto start = Clock::now();
  EXPECT_FALSE(m_api.ReadFile(h, &b, 1, &count, nullptr));
  EXPECT_EQ(count, 0u);
  EXPECT_LT(MsSince(start), 2500) << "not a time-out";
  EXPECT_TRUE(m_api.CloseHandle(h));
}

TEST_F(SerialPosixComm, SignalsDoNotStretchTheTimeout) {
  HANDLE h = OpenSlave();
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  ASSERT_TRUE(SetReadTimeout(h, 400));
  struct sigaction action {};
  action.sa_handler = [](int) {};
  struct sigaction old {};
  ASSERT_EQ(sigaction(SIGUSR1, &action, &old), 0);
  const pthread_t reader = pthread_self();
  bool done = false;
  std::thread interrupter([&] {
    for (int i = 0; i < 30 && !__atomic_load_n(&done, __ATOMIC_SEQ_CST); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(30));
      pthread_kill(reader, SIGUSR1);
    }
  });
  BYTE b = 0;
  DWORD count = 0;
  const auto start = Clock::now();
  EXPECT_TRUE(m_api.ReadFile(h, &b, 1, &count, nullptr));
  const long long elapsed = MsSince(start);
  __atomic_store_n(&done, true, __ATOMIC_SEQ_CST);
  interrupter.join();
  sigaction(SIGUSR1, &old, nullptr);
  EXPECT_EQ(count, 0u);
  EXPECT_GE(elapsed, 390);
  EXPECT_LT(elapsed, 800) << "each signal restarted the full wait";
  EXPECT_TRUE(m_api.CloseHandle(h));
}

TEST_F(SerialPosixComm, VersionIsNtAndListingComesFromTheNamespace) {
  CPosixCommApi api(CDeviceNamespace::FromMap({{3, "/dev/ttyUSB0"}, {1, "/dev/ttyS0"}}));
  OSVERSIONINFOA info{};
  info.dwOSVersionInfoSize = sizeof info;
  ASSERT_TRUE(api.GetVersionExA(&info));
  EXPECT_EQ(info.dwPlatformId, static_cast<DWORD>(VER_PLATFORM_WIN32_NT));

  char names[64];
  const DWORD n = api.QueryDosDeviceA(nullptr, names, sizeof names);
  EXPECT_EQ(std::string(names, n), std::string("COM1\0COM3\0\0", 11));
  EXPECT_EQ(api.QueryDosDeviceA(nullptr, names, 10), 0u);
  EXPECT_EQ(api.GetLastError(), ERROR_INSUFFICIENT_BUFFER);

  const DWORD m = api.QueryDosDeviceA("com3", names, sizeof names);
  EXPECT_EQ(std::string(names, m), std::string("/dev/ttyUSB0\0\0", 14));
  EXPECT_EQ(api.QueryDosDeviceA("COM2", names, sizeof names), 0u);
  EXPECT_EQ(api.GetLastError(), ERROR_FILE_NOT_FOUND);

  CSerialPort port(api);
  std::vector<std::string> list;
  port.ListPorts(list);
  EXPECT_EQ(list, (std::vector<std::string>{"COM1", "COM3"}));
}

TEST_F(SerialPosixComm, ComNamesResolveThroughTheNamespaceBothWays) {
  CPosixCommApi api(CDeviceNamespace::FromMap({{5, m_pty.Slave()}}));
  for (const char* name : {"//./COM5", "\\\\.\\COM5", "\\\\.\\com5"}) {
    HANDLE h =
        api.CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE) << name;
    DWORD written = 0;
    EXPECT_TRUE(api.WriteFile(h, "k", 1, &written, nullptr));
    EXPECT_EQ(written, 1u);
    EXPECT_EQ(m_pty.Receive(), "k") << name;
    EXPECT_TRUE(api.CloseHandle(h));
  }
  for (const char* name : {"//./COM6", "//./COM05", "//./COM", "\\\\.\\PhysicalDrive0"}) {
    EXPECT_EQ(
        api.CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr),
        INVALID_HANDLE_VALUE)
        << name;
    EXPECT_EQ(api.GetLastError(), ERROR_FILE_NOT_FOUND) << name;
  }
}

}  // namespace
