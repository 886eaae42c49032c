// The device search and the beginning both operations share: which ports are opened and how,
// what the user sees when no module is found, the handshake and its single rerun.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fakes/SetupRig.h"
#include "tests/common/MessageTexts.h"

namespace {

using Calls = std::vector<std::string>;

const std::string kCannotConnectCall = std::string("message ") + kCannotConnect;
const std::string kCommErrorCall = std::string("message ") + kCommError;

class SearchTest : public CSetupRig, public ::testing::Test {
 protected:
  void TearDown() override {
    EXPECT_EQ("", m_comm.ClosingProblems());
    EXPECT_EQ(0, m_ops.m_nRetry);
    EXPECT_EQ(0, m_view.m_nWaitDepth);
  }
};

TEST_F(SearchTest, NoPortAtAllShowsMessageAfterTheBusyCursorIsGone) {
  m_ops.OnRead();
  EXPECT_EQ((Calls{"wait on", "wait off", kCannotConnectCall}), m_view.m_calls);
  EXPECT_TRUE(m_comm.m_sessions.empty());
}

TEST_F(SearchTest, ListingFailureIsLikeNoPort) {
  AddModulePort("COM1");
  m_comm.m_bListingFails = true;
  m_ops.OnProgram();
  EXPECT_EQ((Calls{"wait on", "wait off", kCannotConnectCall}), m_view.m_calls);
  EXPECT_TRUE(m_comm.m_sessions.empty());
}

TEST_F(SearchTest, NoModuleProbesEveryPortOnceAndChangesNoControl) {
  AddSilentPort("COM1");
  m_comm.AddPort("COM2").m_dwOpenError = ERROR_ACCESS_DENIED;  // held by another program
  m_comm.AddPort("COM3").m_bRejectSettings = true;
  // A port that answers with something other than ACK is not the module.
  m_comm.AddPort("COM4").m_openings.push_back(CPortScript().Bytes({0x15}).Gap());
  m_ops.OnRead();

  EXPECT_EQ((Calls{"wait on", "wait off", kCannotConnectCall}), m_view.m_calls);
  EXPECT_EQ((std::vector<std::string>{"COM1", "COM3", "COM4"}), m_comm.OpenedPorts());
  EXPECT_EQ("20 30", Written(0));
  EXPECT_EQ("", Written(1));
  EXPECT_EQ("20 30", Written(2));
  EXPECT_EQ(100u, m_comm.m_sessions[0].ReadTimeout());
  EXPECT_EQ(LINE_BAUD, m_comm.m_sessions[0].m_dcb.BaudRate);
}

TEST_F(SearchTest, ModuleOnThirdOfFourPorts) {
  AddSilentPort("COM1");
  AddSilentPort("COM2");
  AddModulePort("COM3");
  AddModulePort("COM4");
  m_ops.OnRead();

  EXPECT_EQ((std::vector<std::string>{"COM1", "COM2", "COM3", "COM3"}), m_comm.OpenedPorts());
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(READ_TIMEOUT_PROBE_MS, m_comm.m_sessions[i].ReadTimeout()) << i;
    EXPECT_EQ("20 30", Written(i)) << i;
  }
  EXPECT_EQ(READ_TIMEOUT_OPERATION_MS, m_comm.m_sessions[3].ReadTimeout());
  EXPECT_EQ(LINE_BAUD, m_comm.m_sessions[3].m_dcb.BaudRate);
  EXPECT_EQ("COM3", m_ops.m_strPortName);
  EXPECT_TRUE(m_view.m_messages.empty());
  // Each silent probe waited one probe time-out; the module's probe one more for the byte
  // after its ACK.
  EXPECT_EQ((std::vector<DWORD>{100, 100, 100}),
            std::vector<DWORD>(m_clock.m_timeouts.begin(), m_clock.m_timeouts.begin() + 3));
}

TEST_F(SearchTest, FirstModuleInListWins) {
  AddModulePort("COM7");
  AddModulePort("COM2");
  m_ops.OnRead();
  EXPECT_EQ((std::vector<std::string>{"COM7", "COM7"}), m_comm.OpenedPorts());
  EXPECT_EQ("COM7", m_ops.m_strPortName);
}

TEST_F(SearchTest, PortTakenBetweenProbeAndOpen) {
  CScriptedCommApi::CPort& port = AddModulePort("COM3");
  port.m_nOpensBeforeTaken = 1;
  m_ops.OnRead();
  EXPECT_EQ((Calls{"wait on", "wait off", kCannotConnectCall, "enable PROGRAM", "enable EXIT"}),
            m_view.m_calls);
  EXPECT_EQ(1u, m_comm.m_sessions.size());

  m_view.m_calls.clear();
  port.m_nOpensBeforeTaken = 2;
  m_ops.OnProgram();
  EXPECT_EQ((Calls{"wait on", "wait off", kCannotConnectCall, "enable READ", "enable EXIT"}),
            m_view.m_calls);
  EXPECT_EQ(2u, m_comm.m_sessions.size());
}

TEST_F(SearchTest, ProbePortClosesWhateverCameBack) {
  AddModulePort("COM1");
  AddSilentPort("COM2");
  EXPECT_TRUE(m_ops.ProbePort("COM1"));
  EXPECT_FALSE(m_ops.ProbePort("COM2"));
  EXPECT_FALSE(m_ops.ProbePort("COM9"));
  EXPECT_EQ(2u, m_comm.m_sessions.size());
  EXPECT_FALSE(m_comm.AnyOpen());
}

TEST_F(SearchTest, FindModulePortKeepsTheLastFoundName) {
  AddSilentPort("COM1");
  // The module answers the first search only.
  AddModulePort("COM2").m_openings = {CPortScript::ByModule()};
  EXPECT_TRUE(m_ops.FindModulePort());
  EXPECT_EQ("COM2", m_ops.m_strPortName);
  // A later search that finds nothing leaves the name as it was.
  EXPECT_FALSE(m_ops.FindModulePort());
  EXPECT_EQ("COM2", m_ops.m_strPortName);
}

TEST_F(SearchTest, EachOperationLocksTheOtherButtonAndExitNeverItself) {
  AddModulePort("COM1");
  m_ops.OnRead();
  const Calls readHead(m_view.m_calls.begin(), m_view.m_calls.begin() + 6);
  EXPECT_EQ((Calls{"wait on", "wait off", "disable PROGRAM", "disable EXIT", "step", "step"}),
            readHead);

  CSetupRig program;
  program.AddModulePort("COM1");
  program.m_ops.OnProgram();
  const Calls programHead(program.m_view.m_calls.begin(), program.m_view.m_calls.begin() + 6);
  EXPECT_EQ((Calls{"wait on", "wait off", "disable READ", "disable EXIT", "step", "step"}),
            programHead);
  EXPECT_EQ("", program.m_comm.ClosingProblems());
}

TEST_F(SearchTest, HandshakeFailingTwiceShowsOneErrorWithPortClosedAndButtonsStillLocked) {
  CScriptedCommApi::CPort& port = AddSilentPort("COM1");
  port.m_openings = {CPortScript().Ack(), CPortScript(), CPortScript().Ack(), CPortScript()};
  int nOpenAtMessage = -1;
  int nProgressAtMessage = -1;
  bool bProgramEnabledAtMessage = true;
  m_view.m_fnOnMessage = [&](const char*) {
    nOpenAtMessage = m_comm.AnyOpen() ? 1 : 0;
    nProgressAtMessage = m_view.m_nProgress;
    bProgramEnabledAtMessage = m_view.IsEnabled(IDC_PROGRAM);
  };
  m_ops.OnRead();

  const Calls oneRun{"wait on", "wait off", "disable PROGRAM", "disable EXIT", "step", "reset"};
  Calls expected = oneRun;
  expected.insert(expected.end(), oneRun.begin(), oneRun.end());
  expected.insert(expected.end(), {kCommErrorCall, "enable PROGRAM", "enable EXIT",
                                   "enable PROGRAM", "enable EXIT"});
  EXPECT_EQ(expected, m_view.m_calls);
  EXPECT_EQ(0, nOpenAtMessage);
  EXPECT_EQ(0, nProgressAtMessage);
  EXPECT_FALSE(bProgramEnabledAtMessage);
  EXPECT_TRUE(m_view.IsEnabled(IDC_PROGRAM));
  EXPECT_TRUE(m_view.IsEnabled(IDCANCEL));

  // Two searches, two operation openings with two CMD_OPEN frames each.
  EXPECT_EQ((std::vector<std::string>{"COM1", "COM1", "COM1", "COM1"}), m_comm.OpenedPorts());
  EXPECT_EQ("E4 4F A1 0D E4 4F A1 0D", Written(1));
  EXPECT_EQ("E4 4F A1 0D E4 4F A1 0D", Written(3));
  EXPECT_TRUE(m_clock.m_pauses.empty());
}

TEST_F(SearchTest, NextPressAfterTwoFailedHandshakesStartsAfresh) {
  // Two presses of a module that does not answer CMD_OPEN, then the module itself.
  CScriptedCommApi::CPort& port = AddModulePort("COM1");
  port.m_openings = {CPortScript().Ack(), CPortScript(),           CPortScript().Ack(),
                     CPortScript(),       CPortScript::ByModule(), CPortScript::ByModule()};
  m_ops.OnProgram();
  m_view.m_messages.clear();
  const int nStepsBefore = m_view.m_nSteps;
  m_ops.OnProgram();
  EXPECT_TRUE(m_view.m_messages.empty());
  EXPECT_EQ(7, m_view.m_nSteps - nStepsBefore);
  EXPECT_EQ(6u, m_comm.m_sessions.size());
}

TEST_F(SearchTest, HandshakeFailsThenRerunSucceeds) {
  CScriptedCommApi::CPort& port = AddModulePort("COM1");
  // A line error on the first opening: only a fresh opening clears it.
  port.m_openings = {CPortScript().Ack(), CPortScript().LineError(), CPortScript::ByModule(),
                     CPortScript::ByModule()};
  m_ops.OnRead();

  EXPECT_TRUE(m_view.m_messages.empty());
  EXPECT_EQ("E4 4F A1 0D", Written(1));
  EXPECT_EQ("E4 4F A1 0D E4 47 A1 0D E4 4C A1 0D E4 41 A1 0D E4 48 A1 0D E4 54 A1 0D", Written(3));
  EXPECT_EQ("Corvane-BT", m_view.m_texts[IDC_DEVICE_NAME]);
  // The rerun ends normally and enables the buttons; the first run then enables them again.
  const Calls tail(m_view.m_calls.end() - 5, m_view.m_calls.end());
  EXPECT_EQ((Calls{"reset", "enable PROGRAM", "enable EXIT", "enable PROGRAM", "enable EXIT"}),
            tail);
  EXPECT_EQ(0, m_view.m_nProgress);
}

TEST_F(SearchTest, RerunThatFindsNoModuleShowsOnlyCannotConnect) {
  CScriptedCommApi::CPort& port = AddSilentPort("COM1");
  port.m_openings = {CPortScript().Ack(), CPortScript()};  // then silent: gone
  m_ops.OnProgram();
  EXPECT_EQ((std::vector<std::string>{kCannotConnect}), m_view.m_messages);
  EXPECT_EQ((Calls{"wait on", "wait off", "disable READ", "disable EXIT", "step", "reset",
                   "wait on", "wait off", kCannotConnectCall, "enable READ", "enable EXIT"}),
            m_view.m_calls);
}

TEST_F(SearchTest, RerunCounterAboveOneReturnsAtOnce) {
  AddModulePort("COM1");
  m_ops.m_nRetry = 2;
  m_ops.OnRead();
  m_ops.OnProgram();
  EXPECT_TRUE(m_view.m_calls.empty());
  EXPECT_TRUE(m_comm.m_sessions.empty());
  m_ops.m_nRetry = 0;
}

TEST_F(SearchTest, OperationLeavesNoPortOpenOnAnyPath) {
  // Every way a press can end, one after the other on the same objects.
  CScriptedCommApi::CPort& port = AddModulePort("COM1");
  port.m_openings = {CPortScript::ByModule(), CPortScript::ByModule(),   // success
                     CPortScript().Ack(),     CPortScript().Ack(),       // fails after CMD_OPEN
                     CPortScript().Ack(),     CPortScript(),             // handshake fails ...
                     CPortScript::ByModule(), CPortScript::ByModule()};  // ... rerun succeeds
  m_view.m_checks[IDC_TURN_OFF] = true;
  m_ops.OnRead();
  m_ops.OnRead();
  m_ops.OnProgram();
  m_ops.OnProgram();  // no module any more
  EXPECT_EQ(9u, m_comm.m_sessions.size());
  EXPECT_FALSE(m_comm.AnyOpen());
}

}  // namespace
