// corvane pair --port: one adapter, the operator swapping the modules at a real terminal. The
// program runs with a pseudo-terminal as its controlling terminal and its stdin, stdout and
// stderr; the test types there as the operator would, and swaps the module on modsim's jig.
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>

#include <chrono>
#include <regex>

#include "cli/CliRig.h"

namespace {

const char kMaster[] = "insert --address 00:00:00:00:00:0A --pin 1111 --name HEAD";
const char kSlave[] = "insert --address 00:00:00:00:00:0B --pin 2222 --role master --name B";

// The operator's console: corvane on the slave side of a pty, the test at the master side.
class CConsole {
 public:
  // state: the user's state folder the program is given (XDG_STATE_HOME), the rig's own.
  CConsole(const std::vector<std::string>& args, const std::string& state) {
    m_hMaster = posix_openpt(O_RDWR | O_NOCTTY);
    if (m_hMaster < 0 || grantpt(m_hMaster) != 0 || unlockpt(m_hMaster) != 0) return;
    const std::string slave = ptsname(m_hMaster);
    std::vector<std::string> all = {"corvane"};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& arg : all) argv.push_back(&arg[0]);
    argv.push_back(nullptr);
    m_nChild = fork();
    if (m_nChild != 0) return;
    // A session of its own, whose first terminal opened becomes its controlling terminal.
    setsid();
    setenv("XDG_STATE_HOME", state.c_str(), 1);
    const int tty = open(slave.c_str(), O_RDWR);
    ioctl(tty, TIOCSCTTY, 0);
    for (int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) dup2(tty, fd);
    close(m_hMaster);
    execv(CORVANE_PATH, argv.data());
    _exit(127);
  }
  ~CConsole() {
    if (m_nChild > 0) {
      int status = 0;
      CCliRig::WaitExit(m_nChild, 1, &status);
    }
    if (m_hMaster >= 0) close(m_hMaster);
  }

  // Waits until text has appeared on the screen after what was waited for before; false when
  // the program ends or the time-out (a minute unless given) passes first.
  bool WaitFor(const std::string& text, int timeoutMs = 60000) {
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
      const size_t found = m_strScreen.find(text, m_nSeen);
      if (found != std::string::npos) {
        m_nSeen = found + text.size();
        return true;
      }
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                            deadline - std::chrono::steady_clock::now())
                            .count();
      if (left <= 0 || !ReadMore(static_cast<int>(left))) return false;
    }
  }
  void Type(const std::string& keys) {
    const ssize_t wrote = write(m_hMaster, keys.data(), keys.size());
    (void)wrote;
  }
  // The exit code once the program has ended (reading the screen to the end), -1 if it does
  // not within a minute.
  int Exit() {
    while (ReadMore(60000)) {
    }
    int status = 0;
    const bool ended = CCliRig::WaitExit(m_nChild, 60, &status);
    m_nChild = -1;
    return ended && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  const std::string& Screen() const { return m_strScreen; }

 private:
  bool ReadMore(int timeoutMs) {
    pollfd pfd{m_hMaster, POLLIN, 0};
    if (poll(&pfd, 1, timeoutMs) <= 0) return false;
    char buffer[512];
    const ssize_t got = read(m_hMaster, buffer, sizeof buffer);
    if (got <= 0) return false;  // EIO: the program has closed the terminal
    m_strScreen.append(buffer, static_cast<size_t>(got));
    return true;
  }

  int m_hMaster = -1;
  pid_t m_nChild = -1;
  std::string m_strScreen;
  size_t m_nSeen = 0;
};

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
    ASSERT_FALSE(console.WaitFor("again.", 1500)) << "the early Enter was taken: " << console.Screen();
    ASSERT_TRUE(rig.Module(0).Command(kSlave));
    console.Type("\n");
    ASSERT_TRUE(console.WaitFor("back on")) << console.Screen();
    console.Type("\x04");
    EXPECT_EQ(console.Exit(), 130) << console.Screen();
  }
  CConsole again({"pair", "--port", rig.Path(0)}, rig.Dir());
  ASSERT_TRUE(again.WaitFor("is 00:00:00:00:00:0B, the slave of a pair left half made; its master "
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

// Without a terminal to ask on, one-port pairing is refused with one line before any port is
// opened; the options that name no pair are refused too.
TEST(CliPairOnePort, WithoutATerminalItIsRefused) {
  CCliRig rig;
  ASSERT_TRUE(rig.Start({{"--address", "00:00:00:00:00:0A"}}));
  int errPipe[2];
  ASSERT_EQ(pipe(errPipe), 0);
  const pid_t child = CCliRig::Spawn({"pair", "--port", rig.Path(0)}, -1, errPipe[1]);
  close(errPipe[1]);
  std::string err;
  char buffer[512];
  for (ssize_t n; (n = read(errPipe[0], buffer, sizeof buffer)) > 0;) err.append(buffer, n);
  close(errPipe[0]);
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
