// The Read operation: bytes on the line, what the dialog shows and when, pauses, and every
// way it can fail.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "fakes/SetupRig.h"
#include "tests/common/MessageTexts.h"

namespace {

using Calls = std::vector<std::string>;

const std::string kCommErrorCall = std::string("message ") + kCommError;

const char kReadFrames[] =
    "E4 4F A1 0D E4 47 A1 0D E4 4C A1 0D E4 41 A1 0D E4 48 A1 0D E4 54 A1 0D";

// What a Read of the default CModuleSettings shows, step by step after the handshake.
const Calls kPeerStep{"text PEER_ADDR1=01",
                      "text PEER_ADDR2=02",
                      "text PEER_ADDR3=0A",
                      "text PEER_ADDR4=0B",
                      "text PEER_ADDR5=C0",
                      "text PEER_ADDR6=FF",
                      "step"};
const Calls kDeviceStep{"text DEVICE_ADDRESS=00 : 1A : 7D : DA : 71 : 13", "step"};
const Calls kNameStep{"text DEVICE_NAME=Corvane-BT", "step"};
const Calls kPinStep{"text PIN_CODE=1234", "step"};
const Calls kRoleStep{"check MASTER=1", "check SLAVE=0", "step"};
const Calls kBegin{"wait on", "wait off", "disable PROGRAM", "disable EXIT", "step", "step"};

Calls Join(std::initializer_list<Calls> parts) {
  Calls all;
  for (const Calls& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

class ReadTest : public CSetupRig, public ::testing::Test {
 protected:
  // The module on COM1, misbehaving as faults say.
  void ReadFromModule(const CFaults& faults = CFaults()) {
    AddModulePort("COM1", faults);
    m_ops.OnRead();
  }
  // A device on COM1 that answers the probe, then sends op's bytes whatever it is asked.
  void ReadWith(const CPortScript& op) {
    AddScriptedModulePort("COM1", op);
    m_ops.OnRead();
  }
  static CFaults StopsAfter(int commands) {
    CFaults faults;
    faults.m_nStopAfter = commands;
    return faults;
  }
  // The text an earlier Read left in each box, so a test can tell what was overwritten.
  void FillBoxes() {
    for (int id = IDC_DEVICE_ADDRESS; id <= IDC_PIN_CODE; ++id) m_view.m_texts[id] = "old";
  }
  std::string OperationBytes() const { return Written(1); }

  void TearDown() override {
    EXPECT_EQ("", m_comm.ClosingProblems());
    EXPECT_EQ(0, m_ops.m_nRetry);
    EXPECT_EQ(0, m_view.m_nProgress);
    EXPECT_TRUE(m_view.IsEnabled(IDC_PROGRAM));
    EXPECT_TRUE(m_view.IsEnabled(IDCANCEL));
    EXPECT_TRUE(m_view.IsEnabled(IDC_READ));
  }
};

TEST_F(ReadTest, WholeRoad) {
  ReadFromModule();

  EXPECT_EQ("20 30", Written(0));
  EXPECT_EQ(kReadFrames, OperationBytes());
  EXPECT_EQ(Join({kBegin,
                  kPeerStep,
                  kDeviceStep,
                  kNameStep,
                  kPinStep,
                  kRoleStep,
                  {"reset", "enable PROGRAM", "enable EXIT"}}),
            m_view.m_calls);
  EXPECT_EQ((std::vector<DWORD>{400, 10, 100, 100, 10, 10, 500}), m_clock.m_pauses);
  // The probe's extra read (100 ms), then one full time-out after the ACK of CMD_OPEN and
  // after each of the five trailing bytes.
  EXPECT_EQ((std::vector<DWORD>{100, 1000, 1000, 1000, 1000, 1000, 1000}), m_clock.m_timeouts);
  EXPECT_EQ(1, m_view.m_checkReads[IDC_TURN_OFF]);
  EXPECT_TRUE(m_view.m_textReads.empty());
  EXPECT_EQ(7, m_view.m_nSteps);
}

TEST_F(ReadTest, EndingClosesThenPausesThenEmptiesTheBar) {
  ReadFromModule();
  const std::size_t probe = m_timeline.Find("open COM1");
  const std::size_t close = m_timeline.Find("close COM1", m_timeline.Find("open COM1", probe + 1));
  const std::size_t pause = m_timeline.Find("sleep 500");
  const std::size_t reset = m_timeline.Find("view reset");
  ASSERT_NE(CEventTimeline::npos, close);
  EXPECT_LT(close, pause);
  EXPECT_LT(pause, reset);
}

TEST_F(ReadTest, EachReplyIsShownBeforeItsTrailingByteIsRead) {
  ReadFromModule();
  // The module sends 0x0A after each line; the first one follows the peer address's CR.
  const std::size_t shown = m_timeline.Find("view text PEER_ADDR6=FF");
  const std::size_t lineEnd = m_timeline.Find("rx COM1 0D", m_timeline.Find("rx COM1 F2"));
  const std::size_t trailing = m_timeline.Find("rx COM1 0A", lineEnd);
  ASSERT_NE(CEventTimeline::npos, shown);
  EXPECT_LT(shown, trailing);
}

TEST_F(ReadTest, TurnOffOptionSendsTurnOffAfterTheQueries) {
  m_view.m_checks[IDC_TURN_OFF] = true;
  ReadFromModule();
  EXPECT_EQ(std::string(kReadFrames) + " E4 46 A1 0D", OperationBytes());
  EXPECT_EQ((std::vector<DWORD>{400, 10, 100, 100, 10, 10, 10, 500}), m_clock.m_pauses);
  EXPECT_TRUE(m_view.m_messages.empty());
}

TEST_F(ReadTest, UnansweredTurnOffIsReportedWhilePortIsOpenThenEndsNormally) {
  m_view.m_checks[IDC_TURN_OFF] = true;
  bool bOpenAtMessage = false;
  int nProgressAtMessage = -1;
  m_view.m_fnOnMessage = [&](const char*) {
    bOpenAtMessage = m_comm.AnyOpen();
    nProgressAtMessage = m_view.m_nProgress;
  };
  // The module answers CMD_OPEN and the five queries, then nothing.
  ReadFromModule(StopsAfter(6));

  EXPECT_EQ(std::string(kReadFrames) + " E4 46 A1 0D E4 46 A1 0D", OperationBytes());
  EXPECT_TRUE(bOpenAtMessage);
  EXPECT_EQ(7, nProgressAtMessage);
  EXPECT_EQ(Join({kBegin,
                  kPeerStep,
                  kDeviceStep,
                  kNameStep,
                  kPinStep,
                  kRoleStep,
                  {kCommErrorCall, "reset", "enable PROGRAM", "enable EXIT"}}),
            m_view.m_calls);
  EXPECT_EQ((std::vector<DWORD>{400, 10, 100, 100, 10, 10, 10, 10, 500}), m_clock.m_pauses);
  const std::size_t message = m_timeline.Find("view " + kCommErrorCall);
  EXPECT_NE(CEventTimeline::npos, m_timeline.Find("close COM1", message));
}

// The failure table: the query that exhausts its tries, what has been shown by then, and the
// pauses of its three tries.
struct CFailureRow {
  const char* name;
  int nAnswered;  // queries answered before the failing one
  const char* failingFrame;
  std::vector<DWORD> pauses;
};

void PrintTo(const CFailureRow& row, std::ostream* os) {
  *os << row.name;
}

class ReadFailureTest : public ReadTest, public ::testing::WithParamInterface<CFailureRow> {};

TEST_P(ReadFailureTest, ClosesEmptiesTheBarThenReportsAndUnlocks) {
  const CFailureRow& row = GetParam();
  FillBoxes();

  bool bOpenAtMessage = true;
  int nProgressAtMessage = -1;
  bool bExitEnabledAtMessage = true;
  m_view.m_fnOnMessage = [&](const char*) {
    bOpenAtMessage = m_comm.AnyOpen();
    nProgressAtMessage = m_view.m_nProgress;
    bExitEnabledAtMessage = m_view.IsEnabled(IDCANCEL);
  };
  // CMD_OPEN and the queries before the failing one are answered, then the module falls silent.
  ReadFromModule(StopsAfter(1 + row.nAnswered));

  const std::string frames(kReadFrames);
  const std::string sent = frames.substr(0, 12 * (row.nAnswered + 1) - 1);
  EXPECT_EQ(sent + " " + row.failingFrame + " " + row.failingFrame + " " + row.failingFrame,
            OperationBytes());

  const Calls steps[] = {kPeerStep, kDeviceStep, kNameStep, kPinStep};
  Calls expected = kBegin;
  for (int i = 0; i < row.nAnswered; ++i) {
    expected.insert(expected.end(), steps[i].begin(), steps[i].end());
  }
  expected.insert(expected.end(), {"reset", kCommErrorCall, "enable PROGRAM", "enable EXIT"});
  EXPECT_EQ(expected, m_view.m_calls);
  EXPECT_EQ(row.pauses, m_clock.m_pauses);

  EXPECT_FALSE(bOpenAtMessage);
  EXPECT_EQ(0, nProgressAtMessage);
  EXPECT_FALSE(bExitEnabledAtMessage);
  // Boxes whose query never ran keep what they showed.
  if (row.nAnswered < 4) {
    EXPECT_EQ("old", m_view.m_texts[IDC_PIN_CODE]);
  }
  EXPECT_EQ(0, m_view.m_checkReads[IDC_TURN_OFF]);
}

INSTANTIATE_TEST_SUITE_P(
    EveryQuery, ReadFailureTest,
    ::testing::Values(CFailureRow{"PeerAddr", 0, "E4 47 A1 0D", {400, 10, 10, 10}},
                      CFailureRow{"DeviceAddr", 1, "E4 4C A1 0D", {400, 10}},
                      CFailureRow{"Name", 2, "E4 41 A1 0D", {400, 10}},
                      CFailureRow{"Pin", 3, "E4 48 A1 0D", {400, 10, 100, 100, 10, 10, 10}},
                      CFailureRow{"Role", 4, "E4 54 A1 0D", {400, 10, 100, 100, 10, 10, 10, 10}}),
    [](const ::testing::TestParamInfo<CFailureRow>& info) { return std::string(info.param.name); });

TEST_F(ReadTest, RoleOnlyMeansMasterForCapitalM) {
  const std::vector<std::vector<BYTE>> slaves = {{'S'}, {'m'}, {0xCD}, {}, {0x00, 'M'}};
  for (const std::vector<BYTE>& role : slaves) {
    CSetupRig rig;
    rig.m_view.m_checks[IDC_MASTER] = true;
    CPortScript script = CPortScript().Ack();
    CModuleSettings module;
    script.Reply(0xF2, module.m_peerAddr)
        .Reply(0xF4, module.m_deviceAddr)
        .ReplyText(0xF1, module.m_strName)
        .ReplyText(0xF3, module.m_strPin)
        .Reply(0xF5, role);
    rig.AddScriptedModulePort("COM1", script);
    rig.m_ops.OnRead();
    EXPECT_FALSE(rig.m_view.m_checks[IDC_MASTER]) << HexBytes(role);
    EXPECT_TRUE(rig.m_view.m_checks[IDC_SLAVE]) << HexBytes(role);
    EXPECT_EQ("", rig.m_comm.ClosingProblems());
  }
}

TEST_F(ReadTest, PinIsShownAsSentWithoutPadding) {
  const char* const pins[] = {"1234", "12345678", "123456789012", " 42 ", ""};
  for (const char* pin : pins) {
    CSetupRig rig;
    CModuleSettings module;
    module.m_strPin = pin;
    rig.AddModulePort("COM1", CFaults(), module);
    rig.m_ops.OnRead();
    EXPECT_EQ(pin, rig.m_view.m_texts[IDC_PIN_CODE]);
  }
}

TEST_F(ReadTest, NameRepliesOfAnyContentAreShownSafely) {
  struct {
    std::vector<BYTE> payload;
    std::string shown;
  } const cases[] = {
      {{}, ""},                                             // only the tag
      {{'A', 'b', 0x80, 0xFF}, std::string("Ab\x80\xFF")},  // high bytes kept
      {{'A', 'B', 0x00, 'C', 'D'}, "AB"},                   // text ends at a NUL
      {std::vector<BYTE>(19, 'x'), std::string(19, 'x')},   // longest kept
      {std::vector<BYTE>(40, 'y'), std::string(19, 'y')},   // over-long: cut
  };
  for (const auto& c : cases) {
    CSetupRig rig;
    CModuleSettings module;
    CPortScript script = CPortScript().Ack();
    script.Reply(0xF2, module.m_peerAddr).Reply(0xF4, module.m_deviceAddr);
    script.Bytes({0xF1}).Bytes(c.payload).Bytes({0x0D, 0x0A}).Gap();
    rig.AddScriptedModulePort("COM1", script);
    rig.m_ops.OnRead();
    EXPECT_EQ(c.shown, rig.m_view.m_texts[IDC_DEVICE_NAME]) << HexBytes(c.payload);
    EXPECT_EQ("", rig.m_comm.ClosingProblems());
  }
}

TEST_F(ReadTest, ReplyCutShortIsNeverShownAndEndsInTheCommunicationError) {
  // The PIN's line stops after two characters, without its CR, on every try: nothing of it
  // may reach the box, or a following Program would write "12" back as the PIN.
  FillBoxes();
  CFaults faults;
  faults.m_nCutAfter = 2;
  faults.m_strOnly = "H";
  ReadFromModule(faults);
  EXPECT_EQ("old", m_view.m_texts[IDC_PIN_CODE]);
  EXPECT_EQ("Corvane-BT", m_view.m_texts[IDC_DEVICE_NAME]);
  EXPECT_EQ((std::vector<std::string>{kCommError}), m_view.m_messages);
  EXPECT_EQ("OGLAHHH", Module().m_strCommands);
}

TEST_F(ReadTest, AddressBytesEqualToCrAreShownWhole) {
  struct {
    std::vector<BYTE> peer;
    std::vector<BYTE> device;
    const char* peerShown;
    const char* deviceShown;
  } const cases[] = {
      {{0x00, 0x12, 0x6F, 0x34, 0x56, 0x0D},
       {0x00, 0x1A, 0x7D, 0xDA, 0x71, 0x0D},
       "00 12 6F 34 56 0D",
       "00 : 1A : 7D : DA : 71 : 0D"},
      {{0x0D, 0x0D, 0x01, 0x02, 0x03, 0x04},
       {0x0D, 0x00, 0x0D, 0x00, 0x0D, 0x00},
       "0D 0D 01 02 03 04",
       "0D : 00 : 0D : 00 : 0D : 00"},
  };
  for (const auto& c : cases) {
    CSetupRig rig;
    CModuleSettings module;
    module.m_peerAddr = c.peer;
    module.m_deviceAddr = c.device;
    rig.AddModulePort("COM1", CFaults(), module);
    rig.m_ops.OnRead();
    std::string peer;
    for (int id = IDC_PEER_ADDR1; id <= IDC_PEER_ADDR6; ++id) {
      peer += (peer.empty() ? "" : " ") + rig.m_view.m_texts[id];
    }
    EXPECT_EQ(c.peerShown, peer);
    EXPECT_EQ(c.deviceShown, rig.m_view.m_texts[IDC_DEVICE_ADDRESS]);
    // Every query answered at its first try: nothing was left over for the next one.
    EXPECT_EQ(kReadFrames, rig.Written(1));
    EXPECT_EQ("Corvane-BT", rig.m_view.m_texts[IDC_DEVICE_NAME]);
    EXPECT_TRUE(rig.m_view.m_messages.empty());
  }
}

TEST_F(ReadTest, ModuleThatAnswersOnlyTheFirstQueryLeavesPeerAddressShown) {
  FillBoxes();
  ReadFromModule(StopsAfter(2));
  EXPECT_EQ("C0", m_view.m_texts[IDC_PEER_ADDR5]);
  EXPECT_EQ("old", m_view.m_texts[IDC_DEVICE_ADDRESS]);
  EXPECT_EQ("old", m_view.m_texts[IDC_DEVICE_NAME]);
  EXPECT_EQ((std::vector<std::string>{kCommError}), m_view.m_messages);
}

}  // namespace
