// The Win32 path of the serial channel on a real COM port: with_pty.py maps a Linux pty as
// the port named in CORVANE_TEST_PORT and echoes every byte written to it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "serial/SerialPort.h"

namespace {

DWORD MsSince(DWORD start) {
  return ::GetTickCount() - start;
}

class SerialWin32 : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* port = std::getenv("CORVANE_TEST_PORT");
    if (port == nullptr || *port == '\0') GTEST_SKIP() << "run through with_pty.py";
    m_strPort = port;
  }

  std::string m_strPort;
  CSerialPort m_serial;
};

TEST_F(SerialWin32, OpensWritesReadsAndCloses) {
  ASSERT_TRUE(m_serial.Open(m_strPort.c_str(), 9600, 100));

  DCB dcb;
  std::memset(&dcb, 0, sizeof dcb);
  dcb.DCBlength = sizeof dcb;
  ASSERT_TRUE(::GetCommState(m_serial.m_hComm, &dcb));
  EXPECT_EQ(dcb.BaudRate, 9600u);
  EXPECT_EQ(dcb.ByteSize, 8);
  EXPECT_EQ(dcb.Parity, NOPARITY);
  EXPECT_EQ(dcb.StopBits, ONESTOPBIT);
  EXPECT_EQ(dcb.fOutxCtsFlow, 0u);
  EXPECT_EQ(dcb.fOutX, 0u);
  EXPECT_EQ(dcb.fInX, 0u);
  COMMTIMEOUTS timeouts;
  ASSERT_TRUE(::GetCommTimeouts(m_serial.m_hComm, &timeouts));
  EXPECT_EQ(timeouts.ReadTotalTimeoutMultiplier, 100u);
  EXPECT_EQ(timeouts.ReadIntervalTimeout, 0u);

  // The echo of a line comes back up to its CR.
  ASSERT_TRUE(m_serial.WriteLine("PING"));
  BYTE buf[21];
  std::memset(buf, 0xAA, sizeof buf);
  ASSERT_TRUE(m_serial.ReadLine(buf, 20));
  EXPECT_STREQ(reinterpret_cast<const char*>(buf), "PING");

  // One byte read with ReadBytes(n = 1) waits one more time-out for a byte that never comes.
  ASSERT_TRUE(m_serial.WriteByte(0x06));
  std::memset(buf, 0xAA, sizeof buf);
  DWORD start = ::GetTickCount();
  ASSERT_TRUE(m_serial.ReadBytes(buf, 1));
  DWORD elapsed = MsSince(start);
  EXPECT_EQ(buf[0], 0x06);
  EXPECT_EQ(buf[1], 0);
  EXPECT_GE(elapsed, 70u);
  EXPECT_LT(elapsed, 3000u);

  // A silent line: the read gives up after about 100 ms.
  BYTE b = 0x55;
  start = ::GetTickCount();
  EXPECT_FALSE(m_serial.ReadByte(&b));
  elapsed = MsSince(start);
  EXPECT_EQ(b, 0);
  EXPECT_GE(elapsed, 70u);
  EXPECT_LT(elapsed, 3000u);

  m_serial.Close();
  EXPECT_EQ(m_serial.m_bOpen, FALSE);

  // Closing gave the port free for the next operation.
  ASSERT_TRUE(m_serial.Open(m_strPort.c_str(), 9600, 1000));
  ASSERT_TRUE(m_serial.WriteLine(""));
  ASSERT_TRUE(m_serial.ReadBytes(buf, 0)) << "the echoed CR is read and dropped";
  m_serial.Close();
}

TEST_F(SerialWin32, AbsentPortIsNotOpened) {
  EXPECT_FALSE(m_serial.Open("COM254", 9600, 100));
  EXPECT_EQ(m_serial.m_bOpen, FALSE);
}

}  // namespace
