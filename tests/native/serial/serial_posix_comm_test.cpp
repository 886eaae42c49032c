// The POSIX stand-in for the Win32 serial calls on real pseudo-terminals: handles, line
// settings, reads and writes, the COM names (who may open a port is in serial_posix_open_test).
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "serial/PosixPtyRig.h"
#include "serial/SerialPort.h"

namespace {

using Clock = std::chrono::steady_clock;

long long MsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

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

TEST_F(SerialPosixComm, LastErrorIsKeptPerThread) {
  EXPECT_EQ(m_api.CreateFileA("/dev/no-such-serial-port", GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              OPEN_EXISTING, 0, nullptr),
            INVALID_HANDLE_VALUE);
  DWORD other = 1234;
  std::thread([&] { other = m_api.GetLastError(); }).join();
  EXPECT_EQ(other, ERROR_SUCCESS);
  EXPECT_EQ(m_api.GetLastError(), ERROR_FILE_NOT_FOUND);
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
