// The command exchanges on one open port: exact frames, tries and pauses, and how replies
// are judged, including broken and over-long ones.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "fakes/FakeClock.h"
#include "fakes/ScriptedCommApi.h"
#include "protocol/CommandExchange.h"
#include "serial/SerialPort.h"

namespace {

class ExchangeTest : public ::testing::Test {
 protected:
  ExchangeTest() : m_comm(m_clock), m_serial(m_comm), m_exchange(m_serial, m_clock.Sleeper()) {}

  // Opens COM1 as an operation does, with script as what the module sends.
  void Open(const CPortScript& script, DWORD timeoutMs = READ_TIMEOUT_OPERATION_MS) {
    m_comm.AddPort("COM1").m_openings.push_back(script);
    ASSERT_TRUE(m_serial.Open("COM1", LINE_BAUD, timeoutMs));
  }
  // For a test that goes through several cases: closes the port and opens it afresh.
  void Reopen(const CPortScript& script) {
    if (!m_comm.m_sessions.empty() && Session().IsOpen()) m_serial.Close();
    m_comm.m_ports.clear();
    m_clock.m_timeouts.clear();
    Open(script);
  }
  CScriptedCommApi::CSession& Session() { return m_comm.m_sessions.back(); }
  std::string Written() { return Session().Written(); }

  void TearDown() override {
    if (!m_comm.m_sessions.empty() && Session().IsOpen()) m_serial.Close();
    EXPECT_EQ("", m_comm.ClosingProblems());
  }

  CFakeClock m_clock;
  CScriptedCommApi m_comm;
  CSerialPort m_serial;
  CCommandExchange m_exchange;
};

std::vector<BYTE> Payload(const BYTE* payload) {
  return std::vector<BYTE>(payload, payload + REPLY_PAYLOAD_MAX + 1);
}

TEST_F(ExchangeTest, EveryCommandGoesOutAsItsExactFrame) {
  Open(CPortScript());
  struct {
    CFrame frame;
    const char* bytes;
  } const cases[] = {
      {CFrame::Plain(CMD_OPEN), "E4 4F A1 0D"},
      {CFrame::Plain(CMD_GET_PEER_ADDR), "E4 47 A1 0D"},
      {CFrame::Plain(CMD_GET_DEVICE_ADDR), "E4 4C A1 0D"},
      {CFrame::Plain(CMD_GET_NAME), "E4 41 A1 0D"},
      {CFrame::Plain(CMD_GET_PIN), "E4 48 A1 0D"},
      {CFrame::Plain(CMD_GET_ROLE), "E4 54 A1 0D"},
      {CFrame::Text(CMD_SET_NAME, ""), "E4 4E A1 0D"},
      {CFrame::Text(CMD_SET_NAME, "BT 1"), "E4 4E A1 42 54 20 31 0D"},
      {CFrame::Text(CMD_SET_PIN, ""), "E4 49 A1 0D"},
      {CFrame::Text(CMD_SET_PIN, " 0000 "), "E4 49 A1 20 30 30 30 30 20 0D"},
      {CFrame::Plain(CMD_SET_MASTER), "E4 4D A1 0D"},
      {CFrame::Plain(CMD_SET_SLAVE), "E4 53 A1 0D"},
      // Raw address bytes are never escaped, even those that look like frame bytes.
      {CFrame::Raw(CMD_SET_PEER_ADDR, {0x0D, 0x06, 0xE4, 0x00, 0xA1, 0xFF}),
       "E4 45 A1 0D 06 E4 00 A1 FF 0D"},
      {CFrame::Plain(CMD_TURN_OFF), "E4 46 A1 0D"},
  };
  for (const auto& c : cases) {
    Session().m_written.clear();
    m_exchange.SendFrame(c.frame);
    EXPECT_EQ(c.bytes, Written());
  }
  EXPECT_TRUE(m_clock.m_pauses.empty());
}

TEST_F(ExchangeTest, ProbeIsTwoUnframedBytesAndWantsAck) {
  Open(CPortScript().Ack(), READ_TIMEOUT_PROBE_MS);
  EXPECT_TRUE(m_exchange.ExchangeProbe());
  EXPECT_EQ("20 30", Written());
  // The channel asks for a second byte and waits out the probe's time-out for it.
  EXPECT_EQ(std::vector<DWORD>{100}, m_clock.m_timeouts);
}

TEST_F(ExchangeTest, ProbeFailsOnSilenceAndOnAnyOtherByte) {
  Open(CPortScript().Silence().Bytes({0x15}).Gap().Bytes({0x00}).Gap(), READ_TIMEOUT_PROBE_MS);
  EXPECT_FALSE(m_exchange.ExchangeProbe());
  EXPECT_FALSE(m_exchange.ExchangeProbe());
  EXPECT_FALSE(m_exchange.ExchangeProbe());
  EXPECT_EQ("20 30 20 30 20 30", Written());
}

// The tries-and-pauses table, row by row: a silent module shows every try and both pauses;
// a module that answers at once shows one try.
struct CTimingRow {
  const char* name;
  bool bQuery;
  BYTE command;
  BYTE tag;
  CCommandTiming timing;
  int nTries;
  DWORD pauseBeforeRead;
  DWORD pauseAfterTry;
};

void PrintTo(const CTimingRow& row, std::ostream* os) {
  *os << row.name;
}

class TimingTableTest : public ExchangeTest, public ::testing::WithParamInterface<CTimingRow> {
 protected:
  bool Exchange() {
    const CTimingRow& row = GetParam();
    if (row.bQuery) return m_exchange.ExchangeQuery(row.command, row.tag, row.timing, nullptr);
    return m_exchange.ExchangeAck(CFrame::Plain(row.command), row.timing);
  }
  static std::vector<DWORD> PausesOfOneTry(const CTimingRow& row) {
    std::vector<DWORD> pauses;
    if (row.pauseBeforeRead) pauses.push_back(row.pauseBeforeRead);
    if (row.pauseAfterTry) pauses.push_back(row.pauseAfterTry);
    return pauses;
  }
};

TEST_P(TimingTableTest, SilentModuleGetsEveryTryWithBothPauses) {
  const CTimingRow& row = GetParam();
  Open(CPortScript());
  EXPECT_FALSE(Exchange());

  const std::string frame = HexBytes({FRAME_START, row.command, FRAME_MARK, FRAME_END});
  std::string frames;
  std::vector<DWORD> pauses;
  for (int i = 0; i < row.nTries; ++i) {
    frames += (i ? " " : "") + frame;
    for (DWORD ms : PausesOfOneTry(row)) pauses.push_back(ms);
  }
  EXPECT_EQ(frames, Written());
  EXPECT_EQ(pauses, m_clock.m_pauses);
  EXPECT_EQ(std::vector<DWORD>(row.nTries, 1000), m_clock.m_timeouts);
}

TEST_P(TimingTableTest, AnswerAtFirstTryStillPausesAfterIt) {
  const CTimingRow& row = GetParam();
  if (row.bQuery) {
    // An address reply is six bytes long; any other reply may be one byte.
    Open(CPortScript().ReplyText(row.tag, ReplyRawBytes(row.tag) ? "abcdef" : "x"));
  } else {
    Open(CPortScript().Ack());
  }
  EXPECT_TRUE(Exchange());
  EXPECT_EQ(HexBytes({FRAME_START, row.command, FRAME_MARK, FRAME_END}), Written());
  EXPECT_EQ(PausesOfOneTry(row), m_clock.m_pauses);
}

INSTANTIATE_TEST_SUITE_P(
    EveryCommand, TimingTableTest,
    ::testing::Values(
        CTimingRow{"Open", false, CMD_OPEN, 0, TIMING_OPEN, 2, 0, 0},
        CTimingRow{"GetPeerAddr", true, CMD_GET_PEER_ADDR, RSP_PEER_ADDR, TIMING_GET_PEER_ADDR, 3,
                   0, 10},
        CTimingRow{"GetDeviceAddr", true, CMD_GET_DEVICE_ADDR, RSP_DEVICE_ADDR,
                   TIMING_GET_DEVICE_ADDR, 3, 0, 0},
        CTimingRow{"GetName", true, CMD_GET_NAME, RSP_NAME, TIMING_GET_NAME, 3, 0, 0},
        CTimingRow{"GetPin", true, CMD_GET_PIN, RSP_PIN, TIMING_GET_PIN, 3, 0, 10},
        CTimingRow{"GetRole", true, CMD_GET_ROLE, RSP_ROLE, TIMING_GET_ROLE, 3, 0, 10},
        CTimingRow{"SetName", false, CMD_SET_NAME, 0, TIMING_SET_NAME, 3, 100, 10},
        CTimingRow{"SetPin", false, CMD_SET_PIN, 0, TIMING_SET_PIN, 3, 100, 10},
        CTimingRow{"SetMaster", false, CMD_SET_MASTER, 0, TIMING_SET_ROLE, 3, 0, 10},
        CTimingRow{"SetSlave", false, CMD_SET_SLAVE, 0, TIMING_SET_ROLE, 3, 0, 10},
        CTimingRow{"SetPeerAddr", false, CMD_SET_PEER_ADDR, 0, TIMING_SET_PEER_ADDR, 3, 100, 10},
        CTimingRow{"TurnOff", false, CMD_TURN_OFF, 0, TIMING_TURN_OFF, 2, 0, 10}),
    [](const ::testing::TestParamInfo<CTimingRow>& info) { return std::string(info.param.name); });

TEST_F(ExchangeTest, AckFollowedAtOnceByAnotherByteCostsNoWait) {
  Open(CPortScript().Bytes({0x06, 0x0D, 0x77}));
  EXPECT_TRUE(m_exchange.ExchangeAck(CFrame::Plain(CMD_OPEN), TIMING_OPEN));
  EXPECT_TRUE(m_clock.m_timeouts.empty());
  // The CR after the ACK was consumed and lost; the byte after it is still queued.
  EXPECT_EQ((std::vector<BYTE>{0x06, 0x0D}), Session().m_read);
  EXPECT_EQ(1u, Session().m_script.m_items.size());
}

TEST_F(ExchangeTest, FastEndsAtTheAckAndAtTheTrailingByteWithoutWaitingForMore) {
  // No silence between the answers: a read that waited for one more byte would run into
  // the next answer, or into a time-out, and fail the exchange after it.
  Open(CPortScript().Bytes({0x06, RSP_PIN, '1', '2', 0x0D, 0x0A, 0x06}));
  m_exchange.SetPace(EPace::Fast);
  EXPECT_TRUE(m_exchange.ExchangeAck(CFrame::Plain(CMD_SET_SLAVE), TIMING_SET_ROLE));
  EXPECT_EQ(0x06, m_exchange.m_ackBuf[0]);
  EXPECT_TRUE(m_exchange.ExchangeQuery(CMD_GET_PIN, RSP_PIN, TIMING_GET_PIN, nullptr));
  EXPECT_EQ(0x0A, m_exchange.m_ackBuf[0]);
  EXPECT_TRUE(m_exchange.ExchangeProbe());
  EXPECT_FALSE(m_exchange.FellBack());
  // The same frames and pauses as standard; none of the three waits for a byte not coming.
  EXPECT_EQ("E4 53 A1 0D E4 48 A1 0D 20 30", Written());
  EXPECT_EQ((std::vector<DWORD>{10, 10}), m_clock.m_pauses);
  EXPECT_TRUE(m_clock.m_timeouts.empty());
}

TEST_F(ExchangeTest, FastFallsBackToStandardAtTheFirstFailedTryBeforeTheRetry) {
  // A wrong answer with a stray CR after it, silence; then ACK with a CR right after it; then
  // a reply and its trailing byte.
  Open(CPortScript().Bytes({0x15, 0x0D}).Gap().Bytes({0x06, 0x0D}).ReplyText(RSP_ROLE, "M"));
  m_exchange.SetPace(EPace::Fast);
  EXPECT_TRUE(m_exchange.ExchangeAck(CFrame::Plain(CMD_SET_MASTER), TIMING_SET_ROLE));
  EXPECT_TRUE(m_exchange.FellBack());
  // Before the retry the stray CR was read away, up to a time-out of silence; the retry
  // read the way standard reads: the CR after the ACK was taken with it.
  EXPECT_EQ((std::vector<BYTE>{0x15, 0x0D, 0x06, 0x0D}), Session().m_read);
  // And it stays standard: the trailing byte of the next reply is followed by a wait.
  EXPECT_TRUE(m_exchange.ExchangeQuery(CMD_GET_ROLE, RSP_ROLE, TIMING_GET_ROLE, nullptr));
  EXPECT_EQ((std::vector<DWORD>{1000, 1000}), m_clock.m_timeouts);
  EXPECT_EQ("E4 4D A1 0D E4 4D A1 0D E4 54 A1 0D", Written());
  EXPECT_EQ((std::vector<DWORD>{10, 10, 10}), m_clock.m_pauses);
  // Setting the pace again starts afresh.
  m_exchange.SetPace(EPace::Fast);
  EXPECT_FALSE(m_exchange.FellBack());
}

TEST_F(ExchangeTest, FastLastTryFailingFallsBackWithoutReadingOn) {
  Open(CPortScript().Bytes({0x15, 0x15, 0x0D}));
  m_exchange.SetPace(EPace::Fast);
  EXPECT_FALSE(m_exchange.ExchangeAck(CFrame::Plain(CMD_TURN_OFF), CCommandTiming{1, 0, 10}));
  EXPECT_TRUE(m_exchange.FellBack());
  // No retry follows: nothing is read away, and no time is spent on it.
  EXPECT_EQ(std::vector<BYTE>{0x15}, Session().m_read);
  EXPECT_TRUE(m_clock.m_timeouts.empty());
}

TEST_F(ExchangeTest, WrongAnswerByteIsAFailedTryAndTheFrameIsSentAgain) {
  Open(CPortScript().Bytes({0x15}).Gap().Ack());
  EXPECT_TRUE(m_exchange.ExchangeAck(CFrame::Plain(CMD_SET_MASTER), TIMING_SET_ROLE));
  EXPECT_EQ("E4 4D A1 0D E4 4D A1 0D", Written());
  EXPECT_EQ((std::vector<DWORD>{10, 10}), m_clock.m_pauses);
  EXPECT_EQ(0x06, m_exchange.m_ackBuf[0]);
}

TEST_F(ExchangeTest, AckBufferIsClearedBeforeEveryTry) {
  Open(CPortScript().Silence());
  std::fill(std::begin(m_exchange.m_ackBuf), std::end(m_exchange.m_ackBuf), 0x06);
  EXPECT_FALSE(m_exchange.ExchangeAck(CFrame::Plain(CMD_OPEN), TIMING_OPEN));
  for (BYTE b : m_exchange.m_ackBuf) EXPECT_EQ(0, b);
}

TEST_F(ExchangeTest, FrameIsBuiltAgainForEveryTry) {
  Open(CPortScript().Silence().Ack());
  int nBuilt = 0;
  const std::vector<std::string> texts = {"old", "new"};
  EXPECT_TRUE(m_exchange.ExchangeAck(
      [&] {
        const BYTE command = nBuilt == 0 ? CMD_SET_MASTER : CMD_SET_SLAVE;
        return CFrame::Text(command, texts[nBuilt++]);
      },
      TIMING_SET_NAME));
  EXPECT_EQ(2, nBuilt);
  EXPECT_EQ("E4 4D A1 6F 6C 64 0D E4 53 A1 6E 65 77 0D", Written());
}

TEST_F(ExchangeTest, FailedWriteInTextPayloadStopsBeforeTheCr) {
  // Writes 0..2 are the frame head; write 4 is the second payload byte.
  Open(CPortScript().FailWrite(4).Silence().Ack());
  EXPECT_TRUE(m_exchange.ExchangeAck(CFrame::Text(CMD_SET_NAME, "AB"), TIMING_SET_NAME));
  EXPECT_EQ("E4 4E A1 41 E4 4E A1 41 42 0D", Written());
  EXPECT_EQ(1, Session().m_nFailedWrites);
}

TEST_F(ExchangeTest, QueryHandsOverPayloadBeforeReadingTheTrailingByte) {
  Open(CPortScript().Reply(RSP_PEER_ADDR, std::vector<BYTE>{0x01, 0x02, 0x0A, 0x0B, 0xC0, 0xFF},
                           0x5A));
  std::vector<BYTE> payload;
  std::size_t nReadAtHandOver = 0;
  EXPECT_TRUE(m_exchange.ExchangeQuery(CMD_GET_PEER_ADDR, RSP_PEER_ADDR, TIMING_GET_PEER_ADDR,
                                       [&](const BYTE* p) {
                                         payload = Payload(p);
                                         nReadAtHandOver = Session().m_read.size();
                                       }));
  // Tag, six bytes, CR; 0x0A is a byte like any other, only 0x0D ends the line.
  EXPECT_EQ(8u, nReadAtHandOver);
  std::vector<BYTE> expected(REPLY_PAYLOAD_MAX + 1, 0);
  const BYTE address[] = {0x01, 0x02, 0x0A, 0x0B, 0xC0, 0xFF};
  std::copy(std::begin(address), std::end(address), expected.begin());
  EXPECT_EQ(expected, payload);
  EXPECT_EQ(0x5A, m_exchange.m_ackBuf[0]);
  EXPECT_EQ("E4 47 A1 0D", Written());
  // The trailing byte's extra read waits out the time-out; the line itself costs none.
  EXPECT_EQ(std::vector<DWORD>{1000}, m_clock.m_timeouts);
}

TEST_F(ExchangeTest, QueryRetriesOnWrongTagLoneCrAndAck) {
  // A wrong line is not followed by a trailing read: nothing after it is consumed.
  Open(CPortScript()
           .Bytes({RSP_NAME, 0x6F, 0x0D})  // another command's reply
           .Bytes({0x0D})                  // a lone CR
           .Bytes({0x06})                  // an ACK where a line was expected
           .Gap()
           .Reply(RSP_PEER_ADDR, std::vector<BYTE>{1, 2, 3, 4, 5, 6}));
  int nCalls = 0;
  const CCommandTiming fourTries{4, 0, 10};
  EXPECT_TRUE(m_exchange.ExchangeQuery(CMD_GET_PEER_ADDR, RSP_PEER_ADDR, fourTries,
                                       [&](const BYTE*) { ++nCalls; }));
  EXPECT_EQ(1, nCalls);
  EXPECT_EQ("E4 47 A1 0D E4 47 A1 0D E4 47 A1 0D E4 47 A1 0D", Written());
  EXPECT_EQ((std::vector<DWORD>{10, 10, 10, 10}), m_clock.m_pauses);
}

TEST_F(ExchangeTest, TrailingByteOfAWrongReplyIsSeenByTheNextTry) {
  // Nothing is flushed: the wrong reply's trailing byte becomes the next try's line.
  Open(CPortScript().ReplyText(RSP_NAME, "x").ReplyText(RSP_PEER_ADDR, "abcdef"));
  EXPECT_FALSE(
      m_exchange.ExchangeQuery(CMD_GET_PEER_ADDR, RSP_PEER_ADDR, CCommandTiming{2, 0, 0}, nullptr));
  EXPECT_EQ((std::vector<BYTE>{RSP_NAME, 'x', 0x0D, 0x0A}), Session().m_read);
}

TEST_F(ExchangeTest, QueryFailsWhenNoTryGetsTheTag) {
  Open(CPortScript().ReplyText(RSP_NAME, "a").ReplyText(RSP_PIN, "b").Silence());
  bool bCalled = false;
  EXPECT_FALSE(m_exchange.ExchangeQuery(CMD_GET_PEER_ADDR, RSP_PEER_ADDR, TIMING_GET_PEER_ADDR,
                                        [&](const BYTE*) { bCalled = true; }));
  EXPECT_FALSE(bCalled);
}

TEST_F(ExchangeTest, ReplyCutShortByTheTimeOutIsAFailedTryNotAValue) {
  // The PIN's line stops after "12" without its CR; asked again, the module sends it whole.
  Open(CPortScript().Bytes({RSP_PIN, '1', '2'}).Gap().ReplyText(RSP_PIN, "1234"));
  std::vector<std::string> shown;
  EXPECT_TRUE(m_exchange.ExchangeQuery(CMD_GET_PIN, RSP_PIN, TIMING_GET_PIN, [&](const BYTE* p) {
    shown.push_back(reinterpret_cast<const char*>(p));
  }));
  EXPECT_EQ(std::vector<std::string>{"1234"}, shown);
  EXPECT_EQ("E4 48 A1 0D E4 48 A1 0D", Written());
  EXPECT_EQ((std::vector<DWORD>{10, 10}), m_clock.m_pauses);
  // The time-out that cut the line, then the good line's trailing byte and its extra read:
  // nothing was read as a trailing byte after the broken line.
  EXPECT_EQ((std::vector<DWORD>{1000, 1000}), m_clock.m_timeouts);
  EXPECT_EQ(0x0A, m_exchange.m_ackBuf[0]);
}

TEST_F(ExchangeTest, LineThatNeverReachesItsEndIsNeverHandedOver) {
  std::vector<BYTE> twenty{RSP_NAME};
  twenty.resize(REPLY_LINE_MAX, 'n');
  struct {
    const char* what;
    BYTE command;
    BYTE tag;
    std::vector<BYTE> line;
  } const cases[] = {
      {"tag only", CMD_GET_ROLE, RSP_ROLE, {RSP_ROLE}},
      {"three address bytes",
       CMD_GET_DEVICE_ADDR,
       RSP_DEVICE_ADDR,
       {RSP_DEVICE_ADDR, 0, 0x1A, 0x7D}},
      {"six address bytes, no CR",
       CMD_GET_PEER_ADDR,
       RSP_PEER_ADDR,
       {RSP_PEER_ADDR, 1, 2, 3, 4, 5, 6}},
      {"twenty bytes, nothing after them", CMD_GET_NAME, RSP_NAME, twenty},
  };
  for (const auto& c : cases) {
    CPortScript script;
    for (int i = 0; i < 3; ++i) script.Bytes(c.line).Gap();
    Reopen(script);
    int nHanded = 0;
    EXPECT_FALSE(m_exchange.ExchangeQuery(c.command, c.tag, CCommandTiming{3, 0, 0},
                                          [&](const BYTE*) { ++nHanded; }))
        << c.what;
    EXPECT_EQ(0, nHanded) << c.what;
    EXPECT_EQ(3 * c.line.size(), Session().m_read.size()) << c.what;
  }
}

TEST_F(ExchangeTest, EachTryStartsFromAnEmptyLine) {
  // A wrong line of eight characters, then the right line of two: the payload must not
  // show the first line's bytes behind the second's.
  Open(CPortScript().Bytes({RSP_NAME}).Text("ABCDEFGH").Bytes({0x0D}).ReplyText(RSP_PIN, "12"));
  std::vector<BYTE> payload;
  EXPECT_TRUE(m_exchange.ExchangeQuery(CMD_GET_PIN, RSP_PIN, TIMING_GET_PIN,
                                       [&](const BYTE* p) { payload = Payload(p); }));
  std::vector<BYTE> expected(REPLY_PAYLOAD_MAX + 1, 0);
  expected[0] = '1';
  expected[1] = '2';
  EXPECT_EQ(expected, payload);
}

TEST_F(ExchangeTest, OverLongReplyKeepsTwentyBytesAndLeavesTheRestQueued) {
  // Tag and 22 payload bytes 0x41.. 0x56, no CR, then 0x06 for the next command.
  std::vector<BYTE> line{RSP_NAME};
  for (BYTE b = 0x41; b <= 0x56; ++b) line.push_back(b);
  Open(CPortScript().Bytes(line).Bytes({0x06}).Gap());
  std::vector<BYTE> payload;
  EXPECT_TRUE(m_exchange.ExchangeQuery(CMD_GET_NAME, RSP_NAME, TIMING_GET_NAME,
                                       [&](const BYTE* p) { payload = Payload(p); }));
  // Bytes 1..19 of the line are the payload, NUL after them; the 21st byte (0x54) was dropped.
  std::vector<BYTE> expected;
  for (BYTE b = 0x41; b <= 0x53; ++b) expected.push_back(b);
  expected.push_back(0);
  EXPECT_EQ(expected, payload);
  // The trailing read took 0x55 and consumed 0x56; the ACK waits for the next command.
  EXPECT_EQ(0x55, m_exchange.m_ackBuf[0]);
  EXPECT_EQ(0u, m_exchange.m_ackBuf[1]);
  EXPECT_TRUE(m_exchange.ExchangeAck(CFrame::Plain(CMD_TURN_OFF), TIMING_TURN_OFF));
  EXPECT_EQ(std::vector<DWORD>{1000}, m_clock.m_timeouts);
}

TEST_F(ExchangeTest, AddressBytesEqualToCrAreDataNotTheLineEnd) {
  // An address reply is the tag, exactly six raw bytes, then its CR.
  struct {
    BYTE command;
    BYTE tag;
    std::vector<BYTE> address;
  } const cases[] = {
      {CMD_GET_PEER_ADDR, RSP_PEER_ADDR, {0x00, 0x12, 0x6F, 0x34, 0x56, 0x0D}},
      {CMD_GET_DEVICE_ADDR, RSP_DEVICE_ADDR, {0x00, 0x1A, 0x0D, 0xDA, 0x71, 0x13}},
      {CMD_GET_DEVICE_ADDR, RSP_DEVICE_ADDR, {0x0D, 0x0D, 0x0D, 0x0D, 0x0D, 0x0D}},
  };
  for (const auto& c : cases) {
    Reopen(CPortScript().Reply(c.tag, c.address, 0x5A).Reply(c.tag, {9, 9, 9, 9, 9, 9}));
    std::vector<BYTE> payload;
    EXPECT_TRUE(m_exchange.ExchangeQuery(c.command, c.tag, CCommandTiming{3, 0, 0},
                                         [&](const BYTE* p) { payload = Payload(p); }));
    std::vector<BYTE> expected = c.address;
    expected.resize(REPLY_PAYLOAD_MAX + 1, 0);
    EXPECT_EQ(HexBytes(expected), HexBytes(payload));
    EXPECT_EQ(0x5A, m_exchange.m_ackBuf[0]);
    // Asked once; the line, its CR and the trailing byte were taken whole, the next reply
    // is untouched for the next command.
    EXPECT_EQ(HexBytes({FRAME_START, c.command, FRAME_MARK, FRAME_END}), Written());
    EXPECT_EQ(std::vector<DWORD>{1000}, m_clock.m_timeouts);
    EXPECT_EQ(10u, Session().m_script.m_items.size());
  }
}

TEST_F(ExchangeTest, HighAndNulBytesInTheMiddleArriveUnchanged) {
  Open(CPortScript().Reply(RSP_NAME, std::vector<BYTE>{0x80, 0x00, 0xFF, 0x41}));
  std::vector<BYTE> payload;
  EXPECT_TRUE(m_exchange.ExchangeQuery(CMD_GET_NAME, RSP_NAME, TIMING_GET_NAME,
                                       [&](const BYTE* p) { payload = Payload(p); }));
  EXPECT_EQ((std::vector<BYTE>{0x80, 0x00, 0xFF, 0x41, 0x00}),
            std::vector<BYTE>(payload.begin(), payload.begin() + 5));
  EXPECT_EQ(0, payload[REPLY_PAYLOAD_MAX]);
}

TEST_F(ExchangeTest, LineErrorMakesTheRemainingTriesFailLikeSilence) {
  Open(CPortScript().LineError().Ack());
  EXPECT_FALSE(m_exchange.ExchangeAck(CFrame::Plain(CMD_SET_SLAVE), TIMING_SET_ROLE));
  // The error comes with the first read: the first frame went out whole, and every write
  // after it fails, as a driver with abort-on-error does until the port is closed.
  EXPECT_EQ("E4 53 A1 0D", Written());
  EXPECT_EQ((std::vector<DWORD>{10, 10, 10}), m_clock.m_pauses);
}

}  // namespace
