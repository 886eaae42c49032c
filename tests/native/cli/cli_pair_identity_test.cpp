// corvane pair with modules swapped at the wrong moment: each module is known by its address
// at every step, a master put back too early gets none of the slave's values, a rerun of a
// half-made pair completes it, and two names of one device are refused.
#include <gtest/gtest.h>

#include "cli/PairConsole.h"

namespace {

// The master put back while the slave is being programmed (modsim swaps it in after the
// slave's name): the check before the PIN finds the master, so no more of the slave's values
// go to it, and nothing is said to be programmed.
TEST(CliPairOnePort, TheMasterPutBackTooEarlyGetsNoneOfTheSlavesValues) {
  CCliRig rig;
  ASSERT_TRUE(rig.Start({{"--absent", "--swap-after", "9", "--swap-to", "00:00:00:00:00:0A"}}));
  ASSERT_TRUE(rig.Module(0).Command(kMaster));
  CConsole console({"pair", "--port", rig.Path(0)}, rig.Dir());
  ASSERT_TRUE(console.WaitFor("put the slave on")) << console.Screen();
  ASSERT_TRUE(rig.Module(0).Command(kSlave));
  console.Type("\n");
  EXPECT_EQ(console.Exit(), 2) << console.Screen();
  EXPECT_EQ(rig.Writes(0), "N") << "only the slave's name, which the slave took";
  EXPECT_EQ(console.Screen().find("The slave is programmed"), std::string::npos);
  EXPECT_NE(console.Screen().find("slave " + rig.Path(0) + " (00:00:00:00:00:0B): module changed"),
            std::string::npos)
      << console.Screen();
}

// A pair left half made at the prompt for the master, then the same command again with the
// slave still on the port: the slave is known for what it is (by the note the first run kept)
// and the pair is completed, never reversed. An Enter typed before a prompt answers nothing.
TEST(CliPairOnePort, ARerunWithTheSlaveOnCompletesThePairAndEarlyKeysAreDropped) {
  CCliRig rig;
  ASSERT_TRUE(rig.Start({{"--absent"}}));
  ASSERT_TRUE(rig.Module(0).Command(kMaster));
  {
    CConsole console({"pair", "--port", rig.Path(0)}, rig.Dir());
    console.Type("\n");  // typed ahead, while the master is being read
    ASSERT_TRUE(console.WaitFor("put the slave on")) << console.Screen();
    ASSERT_FALSE(console.WaitFor("again.", 1500))
        << "the early Enter was taken: " << console.Screen();
    ASSERT_TRUE(rig.Module(0).Command(kSlave));
    console.Type("\n");
    ASSERT_TRUE(console.WaitFor("back on")) << console.Screen();
    console.Type("\x04");
    EXPECT_EQ(console.Exit(), 130) << console.Screen();
  }
  CConsole again({"pair", "--port", rig.Path(0)}, rig.Dir());
  ASSERT_TRUE(
      again.WaitFor("is 00:00:00:00:00:0B, the slave of a pair left half made; its master "
                    "is 00:00:00:00:00:0A"))
      << again.Screen();
  ASSERT_TRUE(again.WaitFor("put the master 00:00:00:00:00:0A on")) << again.Screen();
  ASSERT_TRUE(rig.Module(0).Command(kMaster));
  again.Type("\n");
  EXPECT_EQ(again.Exit(), 0) << again.Screen();
  const auto master = rig.State(0);
  EXPECT_EQ(master.at("role"), "master");
  EXPECT_EQ(master.at("peer"), "00:00:00:00:00:0B");
  EXPECT_EQ(master.at("pin"), "1111");
  EXPECT_EQ(rig.Writes(0), "NISENIME") << "the slave once, then the master";
}

// Two names of one device (a port and a link to it) are one port: refused before it is opened.
TEST(CliPair, BothSidesOnOneDeviceAreRefused) {
  CCliRig rig;
  ASSERT_TRUE(rig.Start({{"--address", "00:00:00:00:00:0A"}}));
  const std::string link = rig.Dir() + "/link";
  ASSERT_EQ(symlink(rig.Path(0).c_str(), link.c_str()), 0);
  EXPECT_EQ(rig.Run({"pair", "--master", rig.Path(0), "--slave", link}), 64) << rig.m_strErr;
  EXPECT_NE(rig.m_strErr.find("name one port"), std::string::npos) << rig.m_strErr;
  EXPECT_TRUE(rig.Untouched(0));
}

}  // namespace
