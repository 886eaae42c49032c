// CSerialPort over the recording fake: what reaches the driver, every way Open can fail, and
// how reads end.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "fakes/FakeCommApi.h"
#include "serial/SerialPort.h"

namespace {

DWORD FlagWord(const DCB& dcb) {
  DWORD word;
  std::memcpy(&word, reinterpret_cast<const BYTE*>(&dcb) + 8, sizeof word);
  return word;
}

void SetFlagWord(DCB& dcb, DWORD word) {
  std::memcpy(reinterpret_cast<BYTE*>(&dcb) + 8, &word, sizeof word);
}

std::vector<std::string> Calls(std::initializer_list<const char*> names) {
  return std::vector<std::string>(names.begin(), names.end());
}

class SerialPortTest : public ::testing::Test {
 protected:
  bool OpenPort() { return m_port.Open("COM4", 9600, 1000); }

  CFakeCommApi m_api;
  CSerialPort m_port{m_api};
};

TEST_F(SerialPortTest, OpenSetsUpTheLineAndTimeoutsInOrder) {
  ASSERT_TRUE(m_port.Open("COM4", 9600, 100));
  EXPECT_EQ(m_api.m_openPaths, std::vector<std::string>{"//./COM4"});
  EXPECT_EQ(m_api.m_lastAccess, GENERIC_READ | GENERIC_WRITE);
  EXPECT_EQ(m_api.m_lastShareMode, 0u);
  EXPECT_EQ(m_api.m_lastCreation, static_cast<DWORD>(OPEN_EXISTING));
  EXPECT_EQ(m_api.m_lastFlags, 0u);
  EXPECT_EQ(m_api.m_calls, Calls({"CreateFileA", "GetCommState", "SetCommState", "GetCommTimeouts",
                                  "SetCommTimeouts"}));
  EXPECT_EQ(m_port.m_bOpen, TRUE);

  const DCB& dcb = m_api.m_setDcb;
  EXPECT_EQ(dcb.BaudRate, 9600u);
  EXPECT_EQ(dcb.ByteSize, 8);
  EXPECT_EQ(dcb.Parity, NOPARITY);
  EXPECT_EQ(dcb.StopBits, ONESTOPBIT);

  const COMMTIMEOUTS& t = m_api.m_setTimeouts;
  EXPECT_EQ(t.ReadIntervalTimeout, 0u);
  EXPECT_EQ(t.ReadTotalTimeoutMultiplier, 100u);
  EXPECT_EQ(t.ReadTotalTimeoutConstant, 0u);
  EXPECT_EQ(t.WriteTotalTimeoutMultiplier, 0u);
  EXPECT_EQ(t.WriteTotalTimeoutConstant, 0u);

  m_port.Close();
  EXPECT_EQ(m_api.m_nCloses, 1);
  EXPECT_EQ(m_api.m_nBadCloses, 0);
  EXPECT_EQ(m_port.m_bOpen, FALSE);
}

TEST_F(SerialPortTest, FlagWordKeepsOnlyTheDriversUntouchedBits) {
  struct CCase {
    DWORD driverWord;
    DWORD expected;
  };
  // All ones: bits 1-6, 8, 9, 11-13 cleared. All zeros: binary and abort-on-error set.
  // A driver with only flow control and DTR/RTS handshake set loses all of it; the
  // continue-on-XOFF, error-char and reserved bits survive.
  const CCase cases[] = {
      {0xFFFFFFFFu, 0xFFFFC481u}, {0x00000000u, 0x00004001u}, {0x0000237Eu, 0x00004001u},
      {0x00000480u, 0x00004481u}, {0xABCD0000u, 0xABCD4001u},
  };
  for (const CCase& c : cases) {
    CFakeCommApi api;
    SetFlagWord(api.m_driverDcb, c.driverWord);
    CSerialPort port(api);
    ASSERT_TRUE(port.Open("COM1", 9600, 100));
    EXPECT_EQ(FlagWord(api.m_setDcb), c.expected) << std::hex << "driver word " << c.driverWord;
    port.Close();
  }
}

TEST_F(SerialPortTest, FieldsOutsideTheLineKeepTheDriversValues) {
  DCB& driver = m_api.m_driverDcb;
  driver.XonLim = 11;
  driver.XoffLim = 22;
  driver.XonChar = 0x11;
  driver.XoffChar = 0x13;
  driver.ErrorChar = 0x3F;
  driver.EofChar = 0x1A;
  driver.EvtChar = 0x7E;
  driver.wReserved = 5;
  driver.wReserved1 = 6;
  driver.fTXContinueOnXoff = 1;
  driver.fErrorChar = 1;
  ASSERT_TRUE(OpenPort());
  const DCB& set = m_api.m_setDcb;
  EXPECT_EQ(set.DCBlength, driver.DCBlength);
  EXPECT_EQ(set.XonLim, 11);
  EXPECT_EQ(set.XoffLim, 22);
  EXPECT_EQ(set.XonChar, 0x11);
  EXPECT_EQ(set.XoffChar, 0x13);
  EXPECT_EQ(set.ErrorChar, 0x3F);
  EXPECT_EQ(set.EofChar, 0x1A);
  EXPECT_EQ(set.EvtChar, 0x7E);
  EXPECT_EQ(set.wReserved, 5);
  EXPECT_EQ(set.wReserved1, 6);
  EXPECT_EQ(set.fTXContinueOnXoff, 1u);
  EXPECT_EQ(set.fErrorChar, 1u);
  EXPECT_EQ(set.fBinary, 1u);
  EXPECT_EQ(set.fAbortOnError, 1u);
  EXPECT_EQ(set.fDtrControl, static_cast<DWORD>(DTR_CONTROL_DISABLE));
  EXPECT_EQ(set.fRtsControl, static_cast<DWORD>(RTS_CONTROL_DISABLE));
  m_port.Close();
}

TEST_F(SerialPortTest, ParityCheckArgumentGoesToBitOne) {
  ASSERT_TRUE(OpenPort());
  ASSERT_TRUE(m_port.SetLine(19200, 7, true, 2, 2));
  EXPECT_EQ(FlagWord(m_api.m_setDcb), 0x4003u);
  EXPECT_EQ(m_api.m_setDcb.BaudRate, 19200u);
  EXPECT_EQ(m_api.m_setDcb.ByteSize, 7);
  EXPECT_EQ(m_api.m_setDcb.Parity, 2);
  EXPECT_EQ(m_api.m_setDcb.StopBits, 2);
  m_port.Close();
}

TEST_F(SerialPortTest, OpenOfAnAbsentPortLeavesNothingToClose) {
  m_api.m_openErrors["//./COM99"] = ERROR_FILE_NOT_FOUND;
  EXPECT_FALSE(m_port.Open("COM99", 9600, 100));
  EXPECT_EQ(m_api.m_calls, Calls({"CreateFileA"}));
  EXPECT_EQ(m_api.m_nCloses, 0);
  EXPECT_EQ(m_port.m_bOpen, FALSE);
}

TEST_F(SerialPortTest, OpenFailuresCloseTheHandleExactlyOnce) {
  struct CCase {
    const char* what;
    bool CFakeCommApi::*failure;
    std::vector<std::string> calls;
  };
  const CCase cases[] = {
      {"settings not reported", &CFakeCommApi::m_bFailGetCommState,
       Calls({"CreateFileA", "GetCommState", "CloseHandle"})},
      {"settings refused", &CFakeCommApi::m_bFailSetCommState,
       Calls({"CreateFileA", "GetCommState", "SetCommState", "CloseHandle"})},
      {"time-outs not reported", &CFakeCommApi::m_bFailGetCommTimeouts,
       Calls({"CreateFileA", "GetCommState", "SetCommState", "GetCommTimeouts", "CloseHandle"})},
      {"time-outs refused", &CFakeCommApi::m_bFailSetCommTimeouts,
       Calls({"CreateFileA", "GetCommState", "SetCommState", "GetCommTimeouts", "SetCommTimeouts",
              "CloseHandle"})},
  };
  for (const CCase& c : cases) {
    CFakeCommApi api;
    api.*(c.failure) = true;
    CSerialPort port(api);
    EXPECT_FALSE(port.Open("COM4", 9600, 1000)) << c.what;
    EXPECT_EQ(api.m_calls, c.calls) << c.what;
    EXPECT_EQ(api.m_nCloses, 1) << c.what;
    EXPECT_EQ(api.m_nBadCloses, 0) << c.what;
    EXPECT_TRUE(api.m_openHandles.empty()) << c.what;
    EXPECT_EQ(port.m_bOpen, FALSE) << c.what;
    EXPECT_EQ(port.m_bLastResult, FALSE) << c.what;
  }
}

TEST_F(SerialPortTest, TheChannelOpensAgainAfterClose) {
  ASSERT_TRUE(OpenPort());
  m_port.Close();
  ASSERT_TRUE(m_port.Open("COM5", 9600, 100));
  EXPECT_EQ(m_port.m_bOpen, TRUE);
  m_port.Close();
  EXPECT_EQ(m_api.m_nOpens, 2);
  EXPECT_EQ(m_api.m_nCloses, 2);
  EXPECT_EQ(m_api.m_nBadCloses, 0);
}

TEST_F(SerialPortTest, WriteLineSendsTheTextThenCr) {
  ASSERT_TRUE(OpenPort());
  EXPECT_TRUE(m_port.WriteLine("AB\xE4"));
  EXPECT_TRUE(m_port.WriteLine(""));
  EXPECT_EQ(m_api.m_written, (std::vector<BYTE>{'A', 'B', 0xE4, 0x0D, 0x0D}));
  EXPECT_EQ(m_api.Count("WriteFile"), 5);
  m_port.Close();
}

TEST_F(SerialPortTest, AFailedByteStopsWriteLineWithoutCr) {
  ASSERT_TRUE(OpenPort());
  m_api.m_nFailWriteAt = 1;
  EXPECT_FALSE(m_port.WriteLine("XYZ"));
  EXPECT_EQ(m_api.m_written, std::vector<BYTE>{'X'});
  EXPECT_EQ(m_api.m_nWrites, 2);
  m_port.Close();
}

TEST_F(SerialPortTest, WriteByteReportsTheSystemResult) {
  ASSERT_TRUE(OpenPort());
  EXPECT_TRUE(m_port.WriteByte(0x06));
  EXPECT_EQ(m_port.m_dwBytesWritten, 1u);
  m_api.m_nFailWriteAt = 1;
  EXPECT_FALSE(m_port.WriteByte(0x07));
  EXPECT_EQ(m_port.m_dwBytesWritten, 0u);
  m_port.Close();
}

TEST_F(SerialPortTest, ReadByteHoldsZeroUnlessAByteArrived) {
  ASSERT_TRUE(OpenPort());
  m_api.Feed({0x41, CFakeCommApi::kTimeout, CFakeCommApi::kReadFails});
  BYTE b = 0x55;
  EXPECT_TRUE(m_port.ReadByte(&b));
  EXPECT_EQ(b, 0x41);
  b = 0x55;
  EXPECT_FALSE(m_port.ReadByte(&b));
  EXPECT_EQ(b, 0);
  b = 0x55;
  EXPECT_FALSE(m_port.ReadByte(&b));
  EXPECT_EQ(b, 0);
  EXPECT_EQ(m_api.m_readSizes, (std::vector<DWORD>{1, 1, 1}));
  m_port.Close();
}

class SerialReadTest : public SerialPortTest {
 protected:
  void SetUp() override {
    ASSERT_TRUE(OpenPort());
    std::memset(m_buf, 0xAA, sizeof m_buf);
  }
  void TearDown() override { m_port.Close(); }
  bool Untouched(std::size_t from = 0) const {
    for (std::size_t i = from; i < sizeof m_buf; ++i) {
      if (m_buf[i] != 0xAA) return false;
    }
    return true;
  }

  BYTE m_buf[300];
};

TEST_F(SerialReadTest, LineEndsAtCrWhichIsNotStored) {
  m_api.Feed({0xF2, 1, 2, 3, 4, 5, 6, 0x0D, 'x'});
  EXPECT_TRUE(m_port.ReadLine(m_buf, 20));
  EXPECT_EQ(std::vector<BYTE>(m_buf, m_buf + 8), (std::vector<BYTE>{0xF2, 1, 2, 3, 4, 5, 6, 0}));
  EXPECT_TRUE(Untouched(8));
  EXPECT_EQ(m_api.m_nTimeouts, 0);
  EXPECT_EQ(m_api.m_input.size(), 1u) << "the byte after CR stays for the next read";
}

TEST_F(SerialReadTest, LineAtTheLimitDropsOneMoreByte) {
  m_api.FeedText(std::string(20, 'a') + "bc");
  EXPECT_TRUE(m_port.ReadLine(m_buf, 20));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(m_buf)), std::string(20, 'a'));
  EXPECT_TRUE(Untouched(21));
  EXPECT_EQ(m_api.m_input.size(), 1u) << "'b' was read and dropped, 'c' is left";
  EXPECT_EQ(m_api.m_input.front(), 'c');
}

TEST_F(SerialReadTest, LineAtTheLimitEndedByCrCostsNoWait) {
  m_api.FeedText(std::string(5, 'a') + "\r");
  EXPECT_TRUE(m_port.ReadLine(m_buf, 5));
  EXPECT_EQ(m_buf[5], 0);
  EXPECT_EQ(m_api.m_nTimeouts, 0);
  EXPECT_TRUE(m_api.m_input.empty());
}

TEST_F(SerialReadTest, LineOfTheLongestLimit) {
  m_api.FeedText(std::string(256, 'z'));
  EXPECT_TRUE(m_port.ReadLine(m_buf, 255));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(m_buf)).size(), 255u);
  EXPECT_TRUE(Untouched(256));
  EXPECT_TRUE(m_api.m_input.empty());
}

TEST_F(SerialReadTest, LineStartingWithCrLeavesTheBufferAlone) {
  m_api.Feed({0x0D, 'a'});
  EXPECT_TRUE(m_port.ReadLine(m_buf, 20));
  EXPECT_TRUE(Untouched());
  EXPECT_EQ(m_api.m_input.size(), 1u);
}

TEST_F(SerialReadTest, NothingArrivingLeavesTheBufferAlone) {
  EXPECT_FALSE(m_port.ReadLine(m_buf, 20));
  EXPECT_FALSE(m_port.ReadBytes(m_buf, 20));
  m_api.Feed({CFakeCommApi::kReadFails});
  EXPECT_FALSE(m_port.ReadLine(m_buf, 20));
  EXPECT_TRUE(Untouched());
  EXPECT_EQ(m_api.Count("ReadFile"), 3);
}

TEST_F(SerialReadTest, ZeroByteIsStoredAndReadingGoesOn) {
  m_api.Feed({'a', 0, 'b', 0x0D});
  EXPECT_TRUE(m_port.ReadLine(m_buf, 20));
  EXPECT_EQ(std::vector<BYTE>(m_buf, m_buf + 4), (std::vector<BYTE>{'a', 0, 'b', 0}));
  EXPECT_TRUE(Untouched(4));
}

TEST_F(SerialReadTest, LineCutShortKeepsWhatArrived) {
  m_api.Feed({'a', 'b'});
  EXPECT_TRUE(m_port.ReadLine(m_buf, 20));
  EXPECT_EQ(std::vector<BYTE>(m_buf, m_buf + 3), (std::vector<BYTE>{'a', 'b', 0}));
  EXPECT_TRUE(Untouched(3));
  EXPECT_EQ(m_api.m_nTimeouts, 1);
}

TEST_F(SerialReadTest, LimitZeroReadsOneByteAndDropsIt) {
  m_api.Feed({'a'});
  EXPECT_TRUE(m_port.ReadLine(m_buf, 0));
  EXPECT_TRUE(Untouched());
  m_api.Feed({0x0D});
  EXPECT_TRUE(m_port.ReadBytes(m_buf, 0));
  m_api.Feed({0});
  EXPECT_FALSE(m_port.ReadLine(m_buf, 0));
  m_api.Feed({0});
  EXPECT_FALSE(m_port.ReadBytes(m_buf, 0));
  EXPECT_FALSE(m_port.ReadBytes(m_buf, 0));
  EXPECT_TRUE(Untouched());
  EXPECT_EQ(m_api.Count("ReadFile"), 5);
  EXPECT_TRUE(m_api.m_input.empty());
}

TEST_F(SerialReadTest, BytesStoreCrAndAskForOneMore) {
  m_api.Feed({0x06});
  EXPECT_TRUE(m_port.ReadBytes(m_buf, 1));
  EXPECT_EQ(m_buf[0], 0x06);
  EXPECT_EQ(m_buf[1], 0);
  EXPECT_TRUE(Untouched(2));
  EXPECT_EQ(m_api.m_nTimeouts, 1) << "one full time-out after the last byte";

  m_api.Feed({0x06, 0x07, 0x08});
  EXPECT_TRUE(m_port.ReadBytes(m_buf, 1));
  EXPECT_EQ(m_buf[0], 0x06);
  EXPECT_EQ(m_api.m_nTimeouts, 1) << "the second byte ends it at once";
  EXPECT_EQ(m_api.m_input.size(), 1u);
  m_api.m_input.clear();

  m_api.Feed({'a', 0x0D, 'b', 0x0D});
  EXPECT_TRUE(m_port.ReadBytes(m_buf, 3));
  EXPECT_EQ(std::vector<BYTE>(m_buf, m_buf + 4), (std::vector<BYTE>{'a', 0x0D, 'b', 0}));
  EXPECT_TRUE(m_api.m_input.empty());
}

TEST_F(SerialReadTest, BytesEndingInAFailedReadKeepWhatArrived) {
  m_api.Feed({'a', 'b', CFakeCommApi::kReadFails, 'c'});
  EXPECT_TRUE(m_port.ReadBytes(m_buf, 10));
  EXPECT_EQ(std::vector<BYTE>(m_buf, m_buf + 3), (std::vector<BYTE>{'a', 'b', 0}));
  EXPECT_TRUE(Untouched(3));
  EXPECT_EQ(m_api.m_input.size(), 1u);
}

}  // namespace
