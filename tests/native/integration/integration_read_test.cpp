// Read through the real POSIX serial layer against modsim on a pty, in real time.
#include <gtest/gtest.h>

#include "integration/ModsimRig.h"
#include "tests/common/MessageTexts.h"

namespace {

TEST(IntegrationRead, FullReadFillsTheControlsFromTheModule) {
  CModsimRig rig;
  ASSERT_TRUE(rig.Start({"--name", "Lab unit", "--pin", "12345678", "--role", "master", "--peer",
                         "01:02:0A:0B:C0:FF", "--address", "00:1A:7D:DA:71:13"}));
  long long ms = rig.Time(&CSetupOperations::OnRead);

  CFakeSetupView& view = rig.m_view;
  EXPECT_TRUE(view.m_messages.empty());
  const char* peer[] = {"01", "02", "0A", "0B", "C0", "FF"};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(view.m_texts[IDC_PEER_ADDR1 + i], peer[i]) << i;
  EXPECT_EQ(view.m_texts[IDC_DEVICE_ADDRESS], "00 : 1A : 7D : DA : 71 : 13");
  EXPECT_EQ(view.m_texts[IDC_DEVICE_NAME], "Lab unit");
  EXPECT_EQ(view.m_texts[IDC_PIN_CODE], "12345678");
  EXPECT_TRUE(view.m_checks[IDC_MASTER]);
  EXPECT_FALSE(view.m_checks[IDC_SLAVE]);
  EXPECT_EQ(view.m_nSteps, 7);
  EXPECT_EQ(view.m_nProgress, 0);
  EXPECT_TRUE(view.IsEnabled(IDC_PROGRAM));
  EXPECT_TRUE(view.IsEnabled(IDCANCEL));
  EXPECT_EQ(rig.m_pauses, std::vector<DWORD>({400, 10, 100, 100, 10, 10, 500}));

  auto state = rig.State();
  EXPECT_EQ(state["probes"], "1");
  EXPECT_EQ(state["commands"], "6");
  EXPECT_EQ(state["malformed"], "0");
  EXPECT_EQ(state["radio"], "on");
  // Probe 0.1 s, six extra reads after an ACK or trailer 6 s, pauses 1.13 s: the module's
  // bytes take no time worth counting. Only a generous upper bound on the rest.
  EXPECT_GE(ms, 7100);
  EXPECT_LT(ms, 15000);
}

TEST(IntegrationRead, ModuleFallingSilentAfterTheFirstQueryLeavesThePeerAddress) {
  CModsimRig rig;
  ASSERT_TRUE(rig.Start({"--stop-after", "2", "--peer", "11:06:E4:00:10:20"}));
  rig.m_view.m_texts[IDC_DEVICE_NAME] = "before";
  rig.Time(&CSetupOperations::OnRead);

  CFakeSetupView& view = rig.m_view;
  ASSERT_EQ(view.m_messages, std::vector<std::string>({kCommError}));
  const char* peer[] = {"11", "06", "E4", "00", "10", "20"};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(view.m_texts[IDC_PEER_ADDR1 + i], peer[i]) << i;
  EXPECT_EQ(view.m_texts.count(IDC_DEVICE_ADDRESS), 0u);
  EXPECT_EQ(view.m_texts[IDC_DEVICE_NAME], "before");
  EXPECT_EQ(view.m_nProgress, 0);
  EXPECT_TRUE(view.IsEnabled(IDC_PROGRAM));
  EXPECT_TRUE(view.IsEnabled(IDCANCEL));
  // The device address query was tried three times, and nothing was sent after it.
  auto state = rig.State();
  EXPECT_EQ(state["commands"], "5");
  EXPECT_EQ(state["last"], "L");
}

TEST(IntegrationRead, AddressesEndingInCrAreReadWhole) {
  CModsimRig rig;
  ASSERT_TRUE(rig.Start({"--peer", "00:12:6F:34:56:0D", "--address", "00:1A:7D:DA:71:0D"}));
  rig.Time(&CSetupOperations::OnRead);

  CFakeSetupView& view = rig.m_view;
  EXPECT_TRUE(view.m_messages.empty());
  const char* peer[] = {"00", "12", "6F", "34", "56", "0D"};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(view.m_texts[IDC_PEER_ADDR1 + i], peer[i]) << i;
  EXPECT_EQ(view.m_texts[IDC_DEVICE_ADDRESS], "00 : 1A : 7D : DA : 71 : 0D");
  EXPECT_EQ(view.m_texts[IDC_DEVICE_NAME], "CORVANE-BT");
  // Each query was asked once: no byte of an address was left over for the next query.
  EXPECT_EQ(rig.State()["commands"], "6");
}

TEST(IntegrationRead, ReplyCutShortIsNotTakenAsTheValue) {
  CModsimRig rig;
  ASSERT_TRUE(rig.Start({"--pin", "1234", "--cut", "2", "--only", "H"}));
  rig.m_view.m_texts[IDC_PIN_CODE] = "before";
  rig.Time(&CSetupOperations::OnRead);

  CFakeSetupView& view = rig.m_view;
  EXPECT_EQ(view.m_messages, std::vector<std::string>({kCommError}));
  EXPECT_EQ(view.m_texts[IDC_PIN_CODE], "before");
  EXPECT_EQ(view.m_texts[IDC_DEVICE_NAME], "CORVANE-BT");
  auto state = rig.State();
  EXPECT_EQ(state["commands"], "7");
  EXPECT_EQ(state["last"], "H");
}

TEST(IntegrationRead, SilentModuleIsNotFound) {
  CModsimRig rig;
  ASSERT_TRUE(rig.Start({"--silent"}));
  rig.Time(&CSetupOperations::OnRead);

  CFakeSetupView& view = rig.m_view;
  EXPECT_EQ(view.m_messages, std::vector<std::string>({kCannotConnect}));
  EXPECT_EQ(view.m_nSteps, 0);
  EXPECT_TRUE(view.IsEnabled(IDC_PROGRAM));
  EXPECT_EQ(view.m_nWaitDepth, 0);
  auto state = rig.State();
  EXPECT_EQ(state["probes"], "1");
  EXPECT_EQ(state["commands"], "0");
}

}  // namespace
