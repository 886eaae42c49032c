// The Program operation: the bytes it sends from the dialog's values, the pauses, every way
// it can fail, and the conversion of the peer address boxes.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "fakes/SetupRig.h"
#include "tests/common/MessageTexts.h"

namespace {

using Calls = std::vector<std::string>;

const std::string kCommErrorCall = std::string("message ") + kCommError;

const Calls kBegin{"wait on", "wait off", "disable READ", "disable EXIT", "step", "step"};
const Calls kEnd{"reset", "enable READ", "enable EXIT"};

class ProgramTest : public CSetupRig, public ::testing::Test {
 protected:
  ProgramTest() {
    m_view.m_texts[IDC_DEVICE_NAME] = "Corvane";
    m_view.m_texts[IDC_PIN_CODE] = "0000";
    m_view.m_checks[IDC_MASTER] = true;
    const char* const boxes[] = {"a5", "0D", "F", "1G", "", "123"};
    for (int k = 0; k < 6; ++k) m_view.m_texts[IDC_PEER_ADDR1 + k] = boxes[k];
  }
  // The module on COM1, answering the first commands only when stopAfter is not negative.
  void ProgramOnModule(int stopAfter = -1) {
    CFaults faults;
    faults.m_nStopAfter = stopAfter;
    AddModulePort("COM1", faults);
    m_ops.OnProgram();
  }
  // A device on COM1 that answers the probe, then sends op's bytes whatever it is asked.
  void ProgramWith(const CPortScript& op) {
    AddScriptedModulePort("COM1", op);
    m_ops.OnProgram();
  }
  std::string OperationBytes() const { return Written(1); }
  // Program changes no value the dialog shows.
  bool ChangedAValue() const {
    for (const std::string& call : m_view.m_calls) {
      if (call.rfind("text ", 0) == 0 || call.rfind("check ", 0) == 0) return true;
    }
    return false;
  }

  void TearDown() override {
    EXPECT_EQ("", m_comm.ClosingProblems());
    EXPECT_EQ(0, m_ops.m_nRetry);
    EXPECT_EQ(0, m_view.m_nProgress);
    EXPECT_TRUE(m_view.IsEnabled(IDC_READ));
    EXPECT_TRUE(m_view.IsEnabled(IDCANCEL));
    EXPECT_TRUE(m_view.IsEnabled(IDC_PROGRAM));
    EXPECT_FALSE(ChangedAValue());
  }
};

const char kOpen[] = "E4 4F A1 0D";
const char kName[] = "E4 4E A1 43 6F 72 76 61 6E 65 0D";
const char kPin[] = "E4 49 A1 30 30 30 30 0D";
const char kMaster[] = "E4 4D A1 0D";
const char kPeer[] = "E4 45 A1 A5 0D 00 00 00 12 0D";

std::string Frames(std::initializer_list<const char*> frames) {
  std::string all;
  for (const char* frame : frames) all += (all.empty() ? "" : " ") + std::string(frame);
  return all;
}

TEST_F(ProgramTest, WholeRoad) {
  ProgramOnModule();

  EXPECT_EQ("20 30", Written(0));
  EXPECT_EQ(Frames({kOpen, kName, kPin, kMaster, kPeer}), OperationBytes());
  Calls expected = kBegin;
  expected.insert(expected.end(), {"step", "step", "step", "step", "step"});
  expected.insert(expected.end(), kEnd.begin(), kEnd.end());
  EXPECT_EQ(expected, m_view.m_calls);
  EXPECT_EQ((std::vector<DWORD>{400, 100, 10, 100, 100, 10, 10, 100, 10, 500}), m_clock.m_pauses);
  EXPECT_TRUE(m_view.m_messages.empty());
  EXPECT_EQ(0, m_view.m_checkReads[IDC_SLAVE]);
  EXPECT_EQ(1, m_view.m_checkReads[IDC_TURN_OFF]);
}

TEST_F(ProgramTest, ProgressPausesLieBetweenTheRightSteps) {
  ProgramOnModule();
  const std::vector<std::string> stepsAndPauses = [this] {
    std::vector<std::string> events;
    for (const std::string& e : m_timeline.m_events) {
      if (e == "view step" || e.rfind("sleep", 0) == 0) events.push_back(e);
    }
    return events;
  }();
  EXPECT_EQ((std::vector<std::string>{"view step", "view step", "sleep 400", "sleep 100",
                                      "sleep 10", "view step", "sleep 100", "view step",
                                      "sleep 100", "sleep 10", "view step", "sleep 10", "view step",
                                      "sleep 100", "sleep 10", "view step", "sleep 500"}),
            stepsAndPauses);
}

TEST_F(ProgramTest, EmptyNameAndPinStillSendTheirFrames) {
  m_view.m_texts[IDC_DEVICE_NAME] = "";
  m_view.m_texts[IDC_PIN_CODE] = "";
  ProgramOnModule();
  EXPECT_EQ(Frames({kOpen, "E4 4E A1 0D", "E4 49 A1 0D", kMaster, kPeer}), OperationBytes());
}

TEST_F(ProgramTest, NameAndPinAreSentExactlyAsTheyStand) {
  m_view.m_texts[IDC_DEVICE_NAME] = " my bt ";
  m_view.m_texts[IDC_PIN_CODE] = " 12";
  ProgramOnModule();
  EXPECT_EQ(
      Frames({kOpen, "E4 4E A1 20 6D 79 20 62 74 20 0D", "E4 49 A1 20 31 32 0D", kMaster, kPeer}),
      OperationBytes());
}

TEST_F(ProgramTest, OnlyTheMasterBoxDecidesTheRole) {
  struct {
    bool bMaster;
    bool bSlave;
    const char* frame;
  } const cases[] = {
      {true, false, "E4 4D A1 0D"},
      {true, true, "E4 4D A1 0D"},
      {false, true, "E4 53 A1 0D"},
      {false, false, "E4 53 A1 0D"},
  };
  for (const auto& c : cases) {
    CSetupRig rig;
    rig.m_view.m_checks[IDC_MASTER] = c.bMaster;
    rig.m_view.m_checks[IDC_SLAVE] = c.bSlave;
    rig.AddModulePort("COM1");
    rig.m_ops.OnProgram();
    EXPECT_EQ(
        Frames({kOpen, "E4 4E A1 0D", "E4 49 A1 0D", c.frame, "E4 45 A1 00 00 00 00 00 00 0D"}),
        rig.Written(1))
        << c.bMaster << c.bSlave;
    EXPECT_EQ(0, rig.m_view.m_checkReads[IDC_SLAVE]);
  }
}

TEST_F(ProgramTest, ValuesAreTakenAgainOnEveryTry) {
  // Each box is changed by the user between the first (unanswered) try and the second.
  m_view.m_fnOnGetText = [this](int id) {
    if (m_view.m_textReads[id] != 2) return;
    if (id >= IDC_PEER_ADDR1 && id <= IDC_PEER_ADDR6) {
      m_view.m_texts[id] = "7e";
    } else {
      m_view.m_texts[id] += "!";
    }
  };
  CPortScript script = CPortScript().Ack();
  script.Silence().Ack().Silence().Ack();
  ProgramWith(script.Silence().Ack().Silence().Ack());
  // The role is read on every try as well.
  EXPECT_EQ(2, m_view.m_checkReads[IDC_MASTER]);
  EXPECT_EQ(Frames({kOpen, kName, "E4 4E A1 43 6F 72 76 61 6E 65 21 0D", kPin,
                    "E4 49 A1 30 30 30 30 21 0D", kMaster, kMaster, kPeer,
                    "E4 45 A1 7E 7E 7E 7E 7E 7E 0D"}),
            OperationBytes());
}

struct CProgramFailureRow {
  const char* name;
  int nAcked;  // setting commands acknowledged before the failing one
  const char* failingFrame;
  std::vector<DWORD> pauses;
  Calls steps;  // view calls between the handshake and the failure
};

void PrintTo(const CProgramFailureRow& row, std::ostream* os) {
  *os << row.name;
}

class ProgramFailureTest : public ProgramTest,
                           public ::testing::WithParamInterface<CProgramFailureRow> {};

TEST_P(ProgramFailureTest, ClosesEmptiesTheBarThenReportsAndUnlocks) {
  const CProgramFailureRow& row = GetParam();
  bool bOpenAtMessage = true;
  int nProgressAtMessage = -1;
  bool bReadEnabledAtMessage = true;
  m_view.m_fnOnMessage = [&](const char*) {
    bOpenAtMessage = m_comm.AnyOpen();
    nProgressAtMessage = m_view.m_nProgress;
    bReadEnabledAtMessage = m_view.IsEnabled(IDC_READ);
  };
  // CMD_OPEN and the commands before the failing one are acknowledged, then nothing.
  ProgramOnModule(1 + row.nAcked);

  const char* const frames[] = {kName, kPin, kMaster, kPeer};
  std::string expectedBytes = kOpen;
  for (int i = 0; i < row.nAcked; ++i) expectedBytes += std::string(" ") + frames[i];
  for (int i = 0; i < 3; ++i) expectedBytes += std::string(" ") + row.failingFrame;
  EXPECT_EQ(expectedBytes, OperationBytes());

  Calls expected = kBegin;
  expected.insert(expected.end(), row.steps.begin(), row.steps.end());
  expected.insert(expected.end(), {"reset", kCommErrorCall, "enable READ", "enable EXIT"});
  EXPECT_EQ(expected, m_view.m_calls);
  EXPECT_EQ(row.pauses, m_clock.m_pauses);
  EXPECT_FALSE(bOpenAtMessage);
  EXPECT_EQ(0, nProgressAtMessage);
  EXPECT_FALSE(bReadEnabledAtMessage);
  EXPECT_EQ(0, m_view.m_checkReads[IDC_TURN_OFF]);
}

INSTANTIATE_TEST_SUITE_P(
    EveryCommand, ProgramFailureTest,
    ::testing::Values(
        CProgramFailureRow{"Name", 0, kName, {400, 100, 10, 100, 10, 100, 10}, {}},
        CProgramFailureRow{
            "Pin", 1, kPin, {400, 100, 10, 100, 100, 10, 100, 10, 100, 10}, {"step", "step"}},
        CProgramFailureRow{
            "Role", 2, kMaster, {400, 100, 10, 100, 100, 10, 10, 10, 10}, {"step", "step", "step"}},
        CProgramFailureRow{"PeerAddr",
                           3,
                           kPeer,
                           {400, 100, 10, 100, 100, 10, 10, 100, 10, 100, 10, 100, 10},
                           {"step", "step", "step", "step"}}),
    [](const ::testing::TestParamInfo<CProgramFailureRow>& info) {
      return std::string(info.param.name);
    });

TEST_F(ProgramTest, TurnOffSentLastWhenChecked) {
  m_view.m_checks[IDC_TURN_OFF] = true;
  ProgramOnModule();
  EXPECT_EQ(Frames({kOpen, kName, kPin, kMaster, kPeer, "E4 46 A1 0D"}), OperationBytes());
  EXPECT_EQ((std::vector<DWORD>{400, 100, 10, 100, 100, 10, 10, 100, 10, 10, 500}),
            m_clock.m_pauses);
  EXPECT_TRUE(m_view.m_messages.empty());
}

TEST_F(ProgramTest, UnansweredTurnOffIsReportedWhilePortIsOpenThenEndsNormally) {
  m_view.m_checks[IDC_TURN_OFF] = true;
  bool bOpenAtMessage = false;
  int nProgressAtMessage = -1;
  m_view.m_fnOnMessage = [&](const char*) {
    bOpenAtMessage = m_comm.AnyOpen();
    nProgressAtMessage = m_view.m_nProgress;
  };
  // The module acknowledges CMD_OPEN and the four settings, then nothing.
  ProgramOnModule(5);
  EXPECT_EQ(Frames({kOpen, kName, kPin, kMaster, kPeer, "E4 46 A1 0D", "E4 46 A1 0D"}),
            OperationBytes());
  EXPECT_TRUE(bOpenAtMessage);
  EXPECT_EQ(7, nProgressAtMessage);
  Calls expected = kBegin;
  expected.insert(expected.end(), {"step", "step", "step", "step", "step", kCommErrorCall});
  expected.insert(expected.end(), kEnd.begin(), kEnd.end());
  EXPECT_EQ(expected, m_view.m_calls);
  EXPECT_EQ((std::vector<DWORD>{400, 100, 10, 100, 100, 10, 10, 100, 10, 10, 10, 500}),
            m_clock.m_pauses);
}

TEST_F(ProgramTest, FailedWriteCostsATryAndTheFrameIsSentWhole) {
  // The module answers only what reaches it: the name's frame is cut on the first try.
  // Write 10 of the opening is the name's fourth byte: CMD_OPEN takes 0 to 3, the name's
  // frame head 4 to 6.
  AddModulePort("COM1").m_openings = {CPortScript::ByModule(),
                                      CPortScript::ByModule().FailWrite(10)};
  m_ops.OnProgram();
  EXPECT_EQ("E4 4F A1 0D E4 4E A1 43 6F 72 E4 4E A1 43 6F 72 76 61 6E 65 0D " +
                Frames({kPin, kMaster, kPeer}),
            OperationBytes());
  EXPECT_EQ(1, m_comm.m_sessions[1].m_nFailedWrites);
  EXPECT_TRUE(m_view.m_messages.empty());
  // The module takes the cut frame's bytes and the whole one after them as one name; what
  // matters here is that the whole frame reached it and was acknowledged.
  EXPECT_EQ(std::string("Cor\xE4N\xA1") + "Corvane", Module().m_sim.State().m_strName);
  EXPECT_EQ("ONIME", Module().m_strCommands);
  const uint8_t* peer = Module().m_sim.State().m_abPeer;
  EXPECT_EQ((std::vector<BYTE>{0xA5, 0x0D, 0x00, 0x00, 0x00, 0x12}),
            std::vector<BYTE>(peer, peer + 6));
}

TEST_F(ProgramTest, ProgramThenReadGivesBackWhatWasWritten) {
  AddModulePort("COM1");
  m_view.m_texts[IDC_DEVICE_NAME] = "Desk \xE9";
  m_view.m_texts[IDC_PIN_CODE] = "87654321";
  m_view.m_checks[IDC_MASTER] = false;
  // No 0D here: inside a reply line it would end the line early.
  const char* const boxes[] = {"00", "1a", "7D", "da", "71", "13"};
  for (int k = 0; k < 6; ++k) m_view.m_texts[IDC_PEER_ADDR1 + k] = boxes[k];
  m_ops.OnProgram();
  EXPECT_EQ("ONISE", Module().m_strCommands);

  CSetupRig reader;
  reader.AddModulePort("COM1", Module().m_sim.State());
  reader.m_ops.OnRead();
  EXPECT_EQ("Desk \xE9", reader.m_view.m_texts[IDC_DEVICE_NAME]);
  EXPECT_EQ("87654321", reader.m_view.m_texts[IDC_PIN_CODE]);
  EXPECT_TRUE(reader.m_view.m_checks[IDC_SLAVE]);
  EXPECT_EQ("00", reader.m_view.m_texts[IDC_PEER_ADDR1]);
  EXPECT_EQ("1A", reader.m_view.m_texts[IDC_PEER_ADDR2]);
  EXPECT_EQ("13", reader.m_view.m_texts[IDC_PEER_ADDR6]);
  EXPECT_TRUE(reader.m_view.m_messages.empty());
  EXPECT_EQ("", reader.m_comm.ClosingProblems());
}

// The command line's identity checks: the device-address query on the operation's own
// connection, before each setting (or only the first) and after the last. Another module ends
// the run at once, port closed and no message, with what may have reached either module.
TEST_F(ProgramTest, IdentityChecksAskForTheAddressAndStopAtAnotherModule) {
  const char kAsk[] = "E4 4C A1 0D";
  const CModuleAddress own = *CModuleAddress::Parse("00:1A:7D:DA:71:13");
  const CModuleAddress other = *CModuleAddress::Parse("00:1A:7D:DA:71:14");
  struct {
    CSetupOperations::EIdentityCheck check;
    CModuleAddress expected;
    std::string bytes;
    EResult result;
  } const cases[] = {
      {CSetupOperations::EIdentityCheck::EverySetting, own,
       Frames({kOpen, kAsk, kName, kAsk, kPin, kAsk, kMaster, kAsk, kPeer, kAsk}), EResult::Ok},
      {CSetupOperations::EIdentityCheck::Edges, own,
       Frames({kOpen, kAsk, kName, kPin, kMaster, kPeer, kAsk}), EResult::Ok},
      {CSetupOperations::EIdentityCheck::Edges, other, Frames({kOpen, kAsk}),
       EResult::ModuleChanged},
  };
  AddModulePort("COM1");
  size_t opening = 1;  // each run: the probe's opening, then the operation's
  for (const auto& c : cases) {
    m_view.m_calls.clear();
    m_ops.ExpectAddress(c.expected, c.check);
    m_ops.OnProgram();
    EXPECT_EQ(c.bytes, Written(opening));
    opening += 2;
    EXPECT_EQ(c.result, m_ops.Outcome().m_eResult);
    for (const std::string& call : m_view.m_calls) EXPECT_NE(call.rfind("message", 0), 0u) << call;
    if (c.result == EResult::ModuleChanged) {
      EXPECT_EQ(own, *m_ops.Outcome().m_otherAddress);
      EXPECT_TRUE(m_ops.Outcome().m_acked.empty());
    }
  }
  m_ops.ForgetExpectedAddress();
}

TEST(ParseHexByteTest, TwoDigitsOrNothing) {
  struct {
    const char* text;
    BYTE value;
  } const cases[] = {
      {"a5", 0xA5}, {"A5", 0xA5}, {"0D", 0x0D}, {"ff", 0xFF},
      {"00", 0x00}, {"9f", 0x9F}, {"F", 0x00},  // a lone digit is dropped, not read as 0x0F
      {"1G", 0x00}, {"G1", 0x00}, {"", 0x00},   {"123", 0x12},
      {" 1", 0x00}, {"1 ", 0x00}, {"-1", 0x00}, {"0x", 0x00},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.value, CSetupOperations::ParseHexByte(c.text)) << '"' << c.text << '"';
  }
  EXPECT_EQ(0, CSetupOperations::ParseHexByte(nullptr));
}

TEST(ParseHexByteTest, BytesFromHighHalfAreNeverDigits) {
  for (int high = 0x80; high <= 0xFF; ++high) {
    const char first[] = {static_cast<char>(high), '1', '\0'};
    const char second[] = {'1', static_cast<char>(high), '\0'};
    EXPECT_EQ(0, CSetupOperations::ParseHexByte(first)) << high;
    EXPECT_EQ(0, CSetupOperations::ParseHexByte(second)) << high;
  }
  // Bytes whose low 7 bits are digits must not pass as digits either.
  EXPECT_EQ(0, CSetupOperations::ParseHexByte("\xB1\xB2"));
}

}  // namespace
