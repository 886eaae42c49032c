// Program through the real POSIX serial layer against modsim on a pty, in real time.
#include <gtest/gtest.h>

#include "integration/ModsimRig.h"
#include "tests/common/MessageTexts.h"

namespace {

TEST(IntegrationProgram, FullProgramWithTurnOffReachesTheModule) {
  CModsimRig rig;
  ASSERT_TRUE(rig.Start({}));
  CFakeSetupView& view = rig.m_view;
  view.m_texts[IDC_DEVICE_NAME] = " Bench 7 ";
  view.m_texts[IDC_PIN_CODE] = "00001234";
  view.m_checks[IDC_MASTER] = true;
  view.m_checks[IDC_SLAVE] = false;
  view.m_checks[IDC_TURN_OFF] = true;
  const char* boxes[] = {"a5", "0D", "E4", "F", "1G", "123"};
  for (int i = 0; i < 6; ++i) view.m_texts[IDC_PEER_ADDR1 + i] = boxes[i];

  long long ms = rig.Time(&CSetupOperations::OnProgram);

  EXPECT_TRUE(view.m_messages.empty());
  EXPECT_EQ(view.m_nSteps, 7);
  EXPECT_EQ(view.m_nProgress, 0);
  EXPECT_TRUE(view.IsEnabled(IDC_READ));
  EXPECT_TRUE(view.IsEnabled(IDCANCEL));
  EXPECT_EQ(view.m_texts[IDC_DEVICE_NAME], " Bench 7 ");
  EXPECT_EQ(rig.m_pauses, std::vector<DWORD>({400, 100, 10, 100, 100, 10, 10, 100, 10, 10, 500}));

  auto state = rig.State();
  EXPECT_EQ(state["name"], " Bench 7 ");
  EXPECT_EQ(state["pin"], "00001234");
  EXPECT_EQ(state["role"], "master");
  EXPECT_EQ(state["peer"], "A5:0D:E4:00:00:12");
  EXPECT_EQ(state["radio"], "off");
  EXPECT_EQ(state["address"], "00:1A:7D:DA:71:13");
  EXPECT_EQ(state["commands"], "6");
  EXPECT_EQ(state["malformed"], "0");
  EXPECT_NE(rig.Transcript().find("RX e4 45 a1 a5 0d e4 00 00 12 0d"), std::string::npos)
      << rig.Transcript();
  // Probe 0.1 s, six extra reads after an ACK 6 s, pauses 1.35 s.
  EXPECT_GE(ms, 7400);
  EXPECT_LT(ms, 15000);
}

// The values of a Program in both fast tests.
void FillForFast(CFakeSetupView& view) {
  view.m_texts[IDC_DEVICE_NAME] = "Fast 1";
  view.m_texts[IDC_PIN_CODE] = "13572468";
  view.m_checks[IDC_MASTER] = true;
  const char* boxes[] = {"00", "11", "22", "33", "44", "0D"};
  for (int i = 0; i < 6; ++i) view.m_texts[IDC_PEER_ADDR1 + i] = boxes[i];
}

TEST(IntegrationProgram, FastProgramReachesTheModuleWithoutFallingBack) {
  CModsimRig rig;
  ASSERT_TRUE(rig.Start({}));
  FillForFast(rig.m_view);
  rig.m_pOps->SetPace(EPace::Fast);
  rig.Time(&CSetupOperations::OnProgram);

  EXPECT_TRUE(rig.m_view.m_messages.empty());
  EXPECT_EQ(rig.m_pOps->Outcome().m_eResult, EResult::Ok);
  EXPECT_FALSE(rig.m_pOps->Outcome().m_bFellBack);
  EXPECT_EQ(rig.m_pauses, std::vector<DWORD>({400, 100, 10, 100, 100, 10, 10, 100, 10, 500}));
  auto state = rig.State();
  EXPECT_EQ(state["name"], "Fast 1");
  EXPECT_EQ(state["pin"], "13572468");
  EXPECT_EQ(state["role"], "master");
  EXPECT_EQ(state["peer"], "00:11:22:33:44:0D");
  EXPECT_EQ(state["commands"], "5");
}

TEST(IntegrationProgram, SettlingModuleIsProgrammedInFastThroughTheFallBack) {
  CModsimRig rig;
  ASSERT_TRUE(rig.Start({"--settle", "300"}));
  FillForFast(rig.m_view);
  rig.m_pOps->SetPace(EPace::Fast);
  rig.Time(&CSetupOperations::OnProgram);

  EXPECT_TRUE(rig.m_view.m_messages.empty());
  const COperationOutcome& outcome = rig.m_pOps->Outcome();
  EXPECT_EQ(outcome.m_eResult, EResult::Ok);
  EXPECT_TRUE(outcome.m_bFellBack);
  EXPECT_EQ(outcome.m_acked, std::vector<std::string>({"name", "pin", "role", "peer"}));
  auto state = rig.State();
  EXPECT_EQ(state["name"], "Fast 1");
  EXPECT_EQ(state["pin"], "13572468");
  EXPECT_EQ(state["role"], "master");
  EXPECT_EQ(state["peer"], "00:11:22:33:44:0D");
  // The PIN that came 110 ms after the name's acknowledgement was ignored, once.
  EXPECT_EQ(state["ignored"], "1");
  EXPECT_NE(rig.Transcript().find("EV ignored I CMD_SET_PIN (settling)"), std::string::npos);
}

TEST(IntegrationProgram, DeviceGoingAwayMidProgramEndsWithTheCommunicationError) {
  CModsimRig rig;
  // Answers CMD_OPEN and CMD_SET_NAME, then the pty disappears under the open port.
  ASSERT_TRUE(rig.Start({"--vanish-after", "2"}));
  CFakeSetupView& view = rig.m_view;
  view.m_texts[IDC_DEVICE_NAME] = "gone soon";
  view.m_texts[IDC_PIN_CODE] = "1111";
  rig.Time(&CSetupOperations::OnProgram);

  EXPECT_EQ(view.m_messages, std::vector<std::string>({kCommError}));
  EXPECT_EQ(view.m_nProgress, 0);
  EXPECT_TRUE(view.IsEnabled(IDC_READ));
  EXPECT_TRUE(view.IsEnabled(IDCANCEL));
  auto state = rig.State();
  EXPECT_EQ(state["name"], "gone soon");
  EXPECT_EQ(state["pin"], "1234");
  EXPECT_NE(rig.Transcript().find("EV hang-up"), std::string::npos);
}

TEST(IntegrationProgram, ModuleThatNeverAcceptsTheHandshakeIsTriedTwiceOver) {
  CModsimRig rig;
  ASSERT_TRUE(rig.Start({"--no-open"}));
  rig.m_view.m_texts[IDC_DEVICE_NAME] = "never sent";
  rig.Time(&CSetupOperations::OnProgram);

  CFakeSetupView& view = rig.m_view;
  EXPECT_EQ(view.m_nProgress, 0);
  EXPECT_TRUE(view.IsEnabled(IDC_READ));
  EXPECT_TRUE(view.IsEnabled(IDCANCEL));
  EXPECT_EQ(rig.m_pOps->m_nRetry, 0);
  auto state = rig.State();
  EXPECT_EQ(state["probes"], "2");
  EXPECT_EQ(state["opens"], "4");
  EXPECT_EQ(state["commands"], "4");
  EXPECT_EQ(state["name"], "CORVANE-BT");
}

}  // namespace
