// corvane pair --port: one adapter, the operator swapping the modules at a real terminal. The
// program runs with a pseudo-terminal as its controlling terminal and its stdin, stdout and
// stderr; the test types there as the operator would, and swaps the module on modsim's jig.
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>

#include <chrono>
#include <regex>

#include "cli/PairConsole.h"

namespace {

// The whole swap, with the operator twice putting the wrong module on: each is told apart by
// its address and asked for again, and the pair ends made with the master's PIN on both.
TEST(CliPairOnePort, TheOperatorSwapsTheModulesAndAWrongOneIsAskedForAgain) {
  CCliRig rig;
  ASSERT_TRUE(rig.Start({{"--absent"}}));
  ASSERT_TRUE(rig.Module(0).Command(kMaster));
  CConsole console({"pair", "--port", rig.Path(0), "--slave-name", "TAIL"}, rig.Dir());
  ASSERT_TRUE(console.WaitFor("The master on " + rig.Path(0) + " is 00:00:00:00:00:0A."))
      << console.Screen();
  ASSERT_TRUE(console.WaitFor("put the slave on")) << console.Screen();
  console.Type("\n");  // the master is still on
  ASSERT_TRUE(console.WaitFor("That is the master (00:00:00:00:00:0A) again.")) << console.Screen();
  ASSERT_TRUE(rig.Module(0).Command(kSlave));
  console.Type("\n");

  ASSERT_TRUE(console.WaitFor("Put the master 00:00:00:00:00:0A back on")) << console.Screen();
  auto slave = rig.State(0);
  EXPECT_EQ(slave.at("address"), "00:00:00:00:00:0B");
  EXPECT_EQ(slave.at("role"), "slave");
  EXPECT_EQ(slave.at("peer"), "00:00:00:00:00:0A");
  EXPECT_EQ(slave.at("pin"), "1111");
  EXPECT_EQ(slave.at("name"), "TAIL");
  console.Type("\n");  // the slave is still on
  ASSERT_TRUE(console.WaitFor("That is 00:00:00:00:00:0B, not the master 00:00:00:00:00:0A."))
      << console.Screen();
  EXPECT_EQ(rig.Writes(0), "NISE") << "the slave was not programmed twice";
  ASSERT_TRUE(rig.Module(0).Command(kMaster));
  console.Type("\n");

  EXPECT_EQ(console.Exit(), 0) << console.Screen();
  const auto master = rig.State(0);
  EXPECT_EQ(master.at("role"), "master");
  EXPECT_EQ(master.at("peer"), "00:00:00:00:00:0B");
  EXPECT_EQ(master.at("pin"), "1111");
  EXPECT_EQ(master.at("name"), "HEAD");
  EXPECT_EQ(rig.Writes(0), "NISENIME");
  EXPECT_NE(console.Screen().find("master " + rig.Path(0) + " (00:00:00:00:00:0A): ok"),
            std::string::npos)
      << console.Screen();
}

// Ctrl-C at the prompt for the master: nothing more is sent and the half-made pair is said;
// the same command run again completes it. The input's end (Ctrl-D) ends a run the same way.
TEST(CliPairOnePort, CtrlCLeavesAHalfMadePairThatTheSameCommandCompletes) {
  CCliRig rig;
  ASSERT_TRUE(rig.Start({{"--absent"}}));
  ASSERT_TRUE(rig.Module(0).Command(kMaster));
  {
    CConsole console({"pair", "--port", rig.Path(0)}, rig.Dir());
    ASSERT_TRUE(console.WaitFor("put the slave on")) << console.Screen();
    ASSERT_TRUE(rig.Module(0).Command(kSlave));
    console.Type("\n");
    ASSERT_TRUE(console.WaitFor("back on")) << console.Screen();
    console.Type("\x03");
    EXPECT_EQ(console.Exit(), 130) << console.Screen();
    EXPECT_NE(console.Screen().find("the pair is half made: the master acknowledged nothing, the "
                                    "slave name, pin, role, peer; run the same command again"),
              std::string::npos)
        << console.Screen();
    EXPECT_NE(console.Screen().find("master " + rig.Path(0) +
                                    " (00:00:00:00:00:0A): not "
                                    "programmed"),
              std::string::npos)
        << console.Screen();
  }
  EXPECT_EQ(rig.Writes(0), "NISE") << "nothing sent after Ctrl-C";

  // Again: the master unchanged, the slave as the first run left it.
  ASSERT_TRUE(rig.Module(0).Command(kMaster));
  {
    CConsole console({"pair", "--port", rig.Path(0)}, rig.Dir());
    ASSERT_TRUE(console.WaitFor("put the slave on")) << console.Screen();
    ASSERT_TRUE(rig.Module(0).Command(
        "insert --address 00:00:00:00:00:0B --pin 1111 --peer 00:00:00:00:00:0A --name B"));
    console.Type("\n");
    ASSERT_TRUE(console.WaitFor("back on")) << console.Screen();
    ASSERT_TRUE(rig.Module(0).Command(kMaster));
    console.Type("\n");
    EXPECT_EQ(console.Exit(), 0) << console.Screen();
  }
  EXPECT_EQ(rig.State(0).at("role"), "master");
  EXPECT_EQ(rig.State(0).at("peer"), "00:00:00:00:00:0B");

  CConsole ended({"pair", "--port", rig.Path(0)}, rig.Dir());
  ASSERT_TRUE(ended.WaitFor("put the slave on")) << ended.Screen();
  ended.Type("\x04");
  EXPECT_EQ(ended.Exit(), 130) << ended.Screen();
  EXPECT_NE(ended.Screen().find("input ended; nothing was programmed"), std::string::npos)
      << ended.Screen();
}

// Without a terminal to ask on, one-port pairing is refused with one line before any port is
// opened; the options that name no pair are refused too.
TEST(CliPairOnePort, WithoutATerminalItIsRefused) {
  CCliRig rig;
  ASSERT_TRUE(rig.Start({{"--address", "00:00:00:00:00:0A"}}));
  int errPipe[2];
  ASSERT_EQ(pipe(errPipe), 0);
  const pid_t child = CCliRig::Spawn({"pair", "--port", rig.Path(0)}, -1, errPipe[1]);
  close(errPipe[1]);
  const std::string err = CCliRig::ReadAll(errPipe[0]);
  int status = 0;
  ASSERT_TRUE(CCliRig::WaitExit(child, 60, &status));
  EXPECT_EQ(WEXITSTATUS(status), 64) << err;
  EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
  EXPECT_NE(err.find("not a terminal"), std::string::npos) << err;
  EXPECT_TRUE(rig.Untouched(0));

  EXPECT_EQ(rig.Run({"pair", "--master", "COM3"}), 64);
  EXPECT_EQ(rig.Run({"pair", "--port", "COM3", "--slave", "COM4"}), 64);
  EXPECT_TRUE(rig.Untouched(0));
}

}  // namespace
