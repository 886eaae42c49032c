// The modsim program itself, driven over its pseudo-terminal with raw bytes.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <stdlib.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <thread>
#include <string>
#include <vector>

#include "engine/os/RunEnv.h"
#include "tools/modsim/ModsimProcess.h"

namespace {

using Bytes = std::vector<uint8_t>;

long long NowMs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

// User and system CPU time of a process, in clock ticks.
long CpuTicks(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string field;
  long ticks = 0;
  for (int i = 1; i <= 15 && stat >> field; ++i) {
    if (i == 14 || i == 15) ticks += std::stol(field);
  }
  return ticks;
}

// One opening of the port by a host, raw, like the program's serial channel does it.
class CHostLine {
 public:
  explicit CHostLine(const std::string& path) {
    m_fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (m_fd < 0) return;
    termios tio;
    tcgetattr(m_fd, &tio);
    cfmakeraw(&tio);
    tcsetattr(m_fd, TCSANOW, &tio);
  }
  ~CHostLine() {
    if (m_fd >= 0) close(m_fd);
  }
  bool IsOpen() const { return m_fd >= 0; }
  void Send(const Bytes& bytes) {
    ASSERT_EQ(write(m_fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }
  // Collects bytes until count have come or quietMs pass without one; hungUp tells whether
  // the line went away.
  Bytes Receive(size_t count, int quietMs = 1000, bool* hungUp = nullptr) {
    Bytes got;
    while (got.size() < count) {
      pollfd fd = {m_fd, POLLIN, 0};
      if (poll(&fd, 1, quietMs) <= 0) break;
      uint8_t buffer[64];
      ssize_t n = read(m_fd, buffer, sizeof buffer);
      if (n <= 0 || (fd.revents & POLLHUP)) {
        if (hungUp) *hungUp = true;
        if (n <= 0) break;
      }
      got.insert(got.end(), buffer, buffer + n);
    }
    return got;
  }

 private:
  int m_fd = -1;
};

// A disk that hangs: a FIFO whose pipe is full. The test holds it open for reading and
// writing, so whoever opens it for writing gets in at once, and the first write then blocks
// until the test reads.
class CBlockedFile {
 public:
  explicit CBlockedFile(std::string path) : m_strPath(std::move(path)) {
    if (mkfifo(m_strPath.c_str(), 0600) != 0) return;
    m_fd = open(m_strPath.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  }
  ~CBlockedFile() {
    if (m_fd >= 0) close(m_fd);
    unlink(m_strPath.c_str());
  }
  bool IsOpen() const { return m_fd >= 0; }
  int Fd() const { return m_fd; }
  // Fills the pipe to the brim with '#'.
  void Block() {
    const std::string fill(512, '#');
    while (write(m_fd, fill.data(), fill.size()) > 0) {
    }
  }
  // What has come through since, the fill left out; reads only what is there.
  void Take() {
    char buffer[4096];
    ssize_t got;
    while ((got = read(m_fd, buffer, sizeof buffer)) > 0) {
      for (ssize_t i = 0; i < got; ++i) {
        if (buffer[i] != '#') m_strText += buffer[i];
      }
    }
  }
  const std::string& Text() const { return m_strText; }

 private:
  std::string m_strPath;
  int m_fd = -1;
  std::string m_strText;
};

class ModsimPty : public ::testing::Test {
 protected:
  void SetUp() override {
    char dir[] = "/tmp/modsim_pty_test.XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    m_strDir = dir;
    m_strState = m_strDir + "/state";
    m_strTranscript = m_strDir + "/transcript";
  }
  void TearDown() override {
    m_modsim.Stop();
    std::remove(m_strState.c_str());
    std::remove(m_strTranscript.c_str());
    std::remove((m_strDir + "/link").c_str());
    rmdir(m_strDir.c_str());
  }
  bool Start(std::vector<std::string> args) {
    args.insert(args.begin(), {"--state", m_strState, "--transcript", m_strTranscript});
    return m_modsim.Start(MODSIM_PATH, args);
  }
  // The files are written off the answering path: have them catch up before reading.
  std::map<std::string, std::string> State() {
    EXPECT_TRUE(m_modsim.Sync());
    return CModsimProcess::ReadState(m_strState);
  }
  std::string Transcript() {
    EXPECT_TRUE(m_modsim.Sync());
    return CModsimProcess::ReadFile(m_strTranscript);
  }

  std::string m_strDir, m_strState, m_strTranscript;
  CModsimProcess m_modsim;
};

TEST_F(ModsimPty, ProbeQueriesAndSettingsWithTranscriptAndState) {
  ASSERT_TRUE(Start({"--name", "Lab unit", "--role", "master", "--address", "0a0b0c0d0e0f"}));
  EXPECT_EQ(m_modsim.Path().rfind("/dev/pts/", 0), 0u) << m_modsim.Path();
  {
    CHostLine host(m_modsim.Path());
    ASSERT_TRUE(host.IsOpen());
    host.Send({0x20, 0x30});
    EXPECT_EQ(host.Receive(1), Bytes({0x06}));
  }
  CHostLine host(m_modsim.Path());
  host.Send({0xE4, 0x4F, 0xA1, 0x0D});
  EXPECT_EQ(host.Receive(1), Bytes({0x06}));
  host.Send({0xE4, 0x4C, 0xA1, 0x0D});
  EXPECT_EQ(host.Receive(9), Bytes({0xF4, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F, 0x0D, 0x0A}));
  host.Send({0xE4, 0x41, 0xA1, 0x0D});
  Bytes name = host.Receive(11);
  EXPECT_EQ(std::string(name.begin(), name.end()), "\xF1Lab unit\r\n");
  // Sent byte by byte, as the host's channel does it.
  for (uint8_t b : Bytes({0xE4, 0x49, 0xA1, '4', '3', '2', '1', 0x0D})) host.Send({b});
  EXPECT_EQ(host.Receive(1), Bytes({0x06}));
  host.Send({0xE4, 0x45, 0xA1, 0x0D, 0x06, 0xE4, 0x00, 0xFF, 0x0D, 0x0D});
  EXPECT_EQ(host.Receive(1), Bytes({0x06}));
  host.Send({0xE4, 0x53, 0xA1, 0x0D});
  EXPECT_EQ(host.Receive(1), Bytes({0x06}));
  // Nothing more may come: exactly one trailer per line, nothing after an ACK.
  EXPECT_TRUE(host.Receive(1, 200).empty());

  auto state = State();
  EXPECT_EQ(state["pin"], "4321");
  EXPECT_EQ(state["role"], "slave");
  EXPECT_EQ(state["peer"], "0D:06:E4:00:FF:0D");
  EXPECT_EQ(state["address"], "0A:0B:0C:0D:0E:0F");
  EXPECT_EQ(state["probes"], "1");
  EXPECT_EQ(state["commands"], "6");
  EXPECT_EQ(state["opens"], "1");

  EXPECT_TRUE(m_modsim.Stop());
  std::string transcript = CModsimProcess::ReadFile(m_strTranscript);
  EXPECT_NE(transcript.find(" RX 20 30\n"), std::string::npos) << transcript;
  EXPECT_NE(transcript.find(" EV probe\n"), std::string::npos);
  EXPECT_NE(transcript.find(" RX e4 4f a1 0d\n"), std::string::npos);
  EXPECT_NE(transcript.find(" TX f4 0a 0b 0c 0d 0e 0f 0d 0a\n"), std::string::npos);
  EXPECT_NE(transcript.find(" EV command 4 I CMD_SET_PIN\n"), std::string::npos);
  EXPECT_NE(transcript.find(" EV stop\n"), std::string::npos);
  EXPECT_EQ(transcript.rfind("t=", 0), 0u);
}

TEST_F(ModsimPty, ManyOpeningsOfThePortAndNoSpinningWhileIdle) {
  ASSERT_TRUE(Start({}));
  const int kCycles = 40;
  for (int i = 0; i < kCycles; ++i) {
    CHostLine host(m_modsim.Path());
    ASSERT_TRUE(host.IsOpen()) << "cycle " << i;
    host.Send({0x20, 0x30});
    ASSERT_EQ(host.Receive(1), Bytes({0x06})) << "cycle " << i;
  }
  EXPECT_EQ(State()["probes"], std::to_string(kCycles));

  // With no host on the line, modsim must sleep in poll: its CPU time stays put.
  long before = CpuTicks(m_modsim.Pid());
  usleep(600 * 1000);
  EXPECT_LE(CpuTicks(m_modsim.Pid()) - before, 2);
}

TEST_F(ModsimPty, FaultsReachTheWire) {
  ASSERT_TRUE(Start(
      {"--delay", "300", "--wrong-ack", "15", "--only", "N", "--times", "1", "--stop-after", "3"}));
  CHostLine host(m_modsim.Path());
  long long start = NowMs();
  host.Send({0xE4, 0x4E, 0xA1, 'x', 0x0D});
  EXPECT_EQ(host.Receive(1), Bytes({0x15}));
  EXPECT_GE(NowMs() - start, 250);
  host.Send({0xE4, 0x4E, 0xA1, 'y', 0x0D});
  EXPECT_EQ(host.Receive(1), Bytes({0x06}));
  host.Send({0xE4, 0x4F, 0xA1, 0x0D});
  EXPECT_EQ(host.Receive(1), Bytes({0x06}));
  host.Send({0xE4, 0x4F, 0xA1, 0x0D});
  EXPECT_TRUE(host.Receive(1, 300).empty());
  host.Send({0x20, 0x30});
  EXPECT_TRUE(host.Receive(1, 300).empty());
  auto state = State();
  EXPECT_EQ(state["name"], "y");
  EXPECT_EQ(state["commands"], "4");
  std::string transcript = Transcript();
  EXPECT_NE(transcript.find("EV command 4 O CMD_OPEN, not answered"), std::string::npos);
}

TEST_F(ModsimPty, AnswersWhileItsTranscriptAndStateCannotBeWritten) {
  CBlockedFile transcript(m_strDir + "/blocked");
  ASSERT_TRUE(transcript.IsOpen());
  ASSERT_TRUE(m_modsim.Start(MODSIM_PATH, {"--transcript", m_strDir + "/blocked", "--state",
                                           m_strState, "--name", "Before"}));
  // The first state is in its file; from now on neither file takes a byte.
  CBlockedFile state(m_strState + ".tmp");
  ASSERT_TRUE(state.IsOpen());
  transcript.Block();
  state.Block();

  {
    CHostLine host(m_modsim.Path());
    host.Send({0x20, 0x30});
    EXPECT_EQ(host.Receive(1), Bytes({0x06}));
    host.Send({0xE4, 0x4F, 0xA1, 0x0D});
    EXPECT_EQ(host.Receive(1), Bytes({0x06}));
    host.Send({0xE4, 0x4E, 0xA1, 'Z', 0x0D});
    EXPECT_EQ(host.Receive(1), Bytes({0x06}));
    host.Send({0xE4, 0x41, 0xA1, 0x0D});
    EXPECT_EQ(host.Receive(4), Bytes({0xF1, 'Z', 0x0D, 0x0A}));
  }

  // The disk comes back: read both files while modsim catches up, until it says it has.
  int done[2];
  ASSERT_EQ(pipe(done), 0);
  bool synced = false;
  std::thread sync([&] {
    synced = m_modsim.Sync();
    close(done[1]);
  });
  for (bool finished = false; !finished;) {
    pollfd fds[3] = {{transcript.Fd(), POLLIN, 0}, {state.Fd(), POLLIN, 0}, {done[0], POLLIN, 0}};
    ASSERT_GT(poll(fds, 3, -1), 0);
    transcript.Take();
    state.Take();
    finished = (fds[2].revents & (POLLIN | POLLHUP)) != 0;
  }
  sync.join();
  close(done[0]);
  EXPECT_TRUE(synced);
  // Nothing was lost: the answers went first, the files got all of it afterwards.
  EXPECT_NE(transcript.Text().find(" EV command 2 N CMD_SET_NAME\n"), std::string::npos)
      << transcript.Text();
  EXPECT_NE(transcript.Text().find(" TX f1 5a 0d 0a\n"), std::string::npos) << transcript.Text();
  // The first state written after the block went through the FIFO (which the rename then
  // took away); the later ones, and the last at exit, went to the file as usual.
  EXPECT_NE(state.Text().find("address="), std::string::npos) << state.Text();
  EXPECT_TRUE(m_modsim.Stop());
  auto last = CModsimProcess::ReadState(m_strState);
  EXPECT_EQ(last["commands"], "3");
  EXPECT_EQ(last["name"], "Z");
}

TEST_F(ModsimPty, VanishingModuleHangsUpAndExits) {
  ASSERT_TRUE(Start({"--vanish-after", "2"}));
  std::string path = m_modsim.Path();
  CHostLine host(path);
  host.Send({0xE4, 0x4F, 0xA1, 0x0D});
  EXPECT_EQ(host.Receive(1), Bytes({0x06}));
  host.Send({0xE4, 0x54, 0xA1, 0x0D});
  EXPECT_EQ(host.Receive(4), Bytes({0xF5, 0x53, 0x0D, 0x0A}));
  bool hungUp = false;
  EXPECT_TRUE(host.Receive(1, 2000, &hungUp).empty());
  EXPECT_TRUE(hungUp);
  EXPECT_TRUE(m_modsim.WaitExit(3000));
  EXPECT_NE(CModsimProcess::ReadFile(m_strTranscript).find("EV hang-up"), std::string::npos);
}

TEST_F(ModsimPty, ServesAGivenTtyAndLinksAPty) {
  int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(master, 0);
  ASSERT_EQ(grantpt(master), 0);
  ASSERT_EQ(unlockpt(master), 0);
  std::string slave = ptsname(master);
  CModsimProcess onTty;
  ASSERT_TRUE(onTty.Start(MODSIM_PATH, {"--tty", slave}));
  EXPECT_EQ(onTty.Path(), slave);
  uint8_t probe[] = {0x20, 0x30};
  ASSERT_EQ(write(master, probe, 2), 2);
  pollfd fd = {master, POLLIN, 0};
  ASSERT_EQ(poll(&fd, 1, 2000), 1);
  uint8_t answer = 0;
  EXPECT_EQ(read(master, &answer, 1), 1);
  EXPECT_EQ(answer, 0x06);
  // The far end goes away: modsim waits for it in the OS instead of spinning on the hang-up.
  close(master);
  usleep(100 * 1000);
  long before = CpuTicks(onTty.Pid());
  usleep(500 * 1000);
  EXPECT_LE(CpuTicks(onTty.Pid()) - before, 2);
  EXPECT_TRUE(onTty.Stop());

  std::string link = m_strDir + "/link";
  ASSERT_TRUE(Start({"--link", link}));
  char target[128] = {};
  ASSERT_GT(readlink(link.c_str(), target, sizeof target - 1), 0);
  EXPECT_EQ(std::string(target), m_modsim.Path());
  EXPECT_TRUE(m_modsim.Stop());
  EXPECT_NE(access(link.c_str(), F_OK), 0);
}

TEST_F(ModsimPty, EmptyJigThenAnInsertedModuleAndInsertsThatAreRefused) {
  ASSERT_TRUE(Start({"--absent", "--name", "Command line"}));
  CHostLine host(m_modsim.Path());
  host.Send({0x20, 0x30});
  EXPECT_TRUE(host.Receive(1, 300).empty());
  auto state = State();
  EXPECT_EQ(state["present"], "0");
  EXPECT_EQ(state["inserted"], "0");

  std::string answer;
  EXPECT_TRUE(m_modsim.Command("insert --address 11:22:33:44:55:66 --name \"Unit 2\"", &answer));
  EXPECT_EQ(answer, "OK insert --address 11:22:33:44:55:66 --name \"Unit 2\"");
  host.Send({0x20, 0x30});
  EXPECT_EQ(host.Receive(1), Bytes({0x06}));
  host.Send({0xE4, 0x4C, 0xA1, 0x0D});
  EXPECT_EQ(host.Receive(9), Bytes({0xF4, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x0D, 0x0A}));

  // Refused lines change nothing: the module on the jig keeps answering as itself.
  for (const char* bad : {"insert --role boss", "insert --address 11:22", "insert --name",
                          "insert --colour red", "link", "unlink", "remove now", "frob", ""}) {
    EXPECT_FALSE(m_modsim.Command(bad, &answer)) << bad;
    EXPECT_EQ(answer.rfind("ERR ", 0), 0u) << bad << ": " << answer;
  }
  EXPECT_FALSE(m_modsim.Command("frob", &answer));
  EXPECT_EQ(answer, "ERR unknown command");
  host.Send({0xE4, 0x41, 0xA1, 0x0D});
  Bytes name = host.Receive(9);
  EXPECT_EQ(std::string(name.begin(), name.end()), "\xF1Unit 2\r\n");

  state = State();
  EXPECT_EQ(state["present"], "1");
  EXPECT_EQ(state["inserted"], "1");
  EXPECT_EQ(state["address"], "11:22:33:44:55:66");
  EXPECT_EQ(state["pin"], "1234");
  EXPECT_EQ(state["commands"], "2");
  std::string transcript = Transcript();
  size_t unanswered = transcript.find(" RX 20 30\n");
  size_t inserted = transcript.find(" EV inserted 11:22:33:44:55:66\n");
  EXPECT_LT(unanswered, inserted) << transcript;
  EXPECT_NE(inserted, std::string::npos);
}

TEST_F(ModsimPty, RemovedModuleTakesItsPendingRepliesAndCounterAlong) {
  ASSERT_TRUE(Start({"--delay", "500", "--only", "L"}));
  CHostLine host(m_modsim.Path());
  host.Send({0xE4, 0x4F, 0xA1, 0x0D});
  EXPECT_EQ(host.Receive(1), Bytes({0x06}));
  host.Send({0xE4, 0x4C, 0xA1, 0x0D});
  // Long enough for modsim to have heard the frame; the transcript below checks it did.
  usleep(100 * 1000);
  EXPECT_TRUE(m_modsim.Command("remove"));
  EXPECT_TRUE(host.Receive(1, 800).empty());
  host.Send({0x20, 0x30});
  EXPECT_TRUE(host.Receive(1, 300).empty());
  auto state = State();
  EXPECT_EQ(state["present"], "0");
  EXPECT_EQ(state["commands"], "2");
  std::string transcript = Transcript();
  size_t heard = transcript.find(" EV command 2 L CMD_GET_DEVICE_ADDR [fault]\n");
  EXPECT_LT(heard, transcript.find(" EV removed\n")) << transcript;
  EXPECT_EQ(transcript.find(" TX f4"), std::string::npos) << transcript;

  ASSERT_TRUE(m_modsim.Command("insert --role master"));
  host.Send({0xE4, 0x54, 0xA1, 0x0D});
  EXPECT_EQ(host.Receive(4), Bytes({0xF5, 0x4D, 0x0D, 0x0A}));
  state = State();
  EXPECT_EQ(state["commands"], "1");
  EXPECT_EQ(state["inserted"], "2");
}

TEST_F(ModsimPty, RemoveAfterLeavesThePtyOpenAndSilentForEachModule) {
  ASSERT_TRUE(Start({"--remove-after", "2"}));
  CHostLine host(m_modsim.Path());
  for (int module = 1; module <= 2; ++module) {
    host.Send({0xE4, 0x4F, 0xA1, 0x0D});
    EXPECT_EQ(host.Receive(1), Bytes({0x06})) << module;
    host.Send({0xE4, 0x54, 0xA1, 0x0D});
    EXPECT_EQ(host.Receive(4), Bytes({0xF5, 0x53, 0x0D, 0x0A})) << module;
    bool hungUp = false;
    EXPECT_TRUE(host.Receive(1, 300, &hungUp).empty());
    host.Send({0x20, 0x30});
    EXPECT_TRUE(host.Receive(1, 300, &hungUp).empty());
    EXPECT_FALSE(hungUp);
    auto state = State();
    EXPECT_EQ(state["present"], "0");
    EXPECT_EQ(state["inserted"], std::to_string(module));
    ASSERT_TRUE(m_modsim.Command("insert"));
  }
  EXPECT_TRUE(m_modsim.Running());
}

TEST_F(ModsimPty, PortLeavesAndReturnsToItsFolder) {
  std::string link = m_strDir + "/link";
  ASSERT_TRUE(Start({"--link", link}));
  EXPECT_TRUE(m_modsim.Command("unlink"));
  EXPECT_NE(access(link.c_str(), F_OK), 0);
  {
    // The pty itself stays: a host that had opened it still talks to the module.
    CHostLine host(m_modsim.Path());
    host.Send({0x20, 0x30});
    EXPECT_EQ(host.Receive(1), Bytes({0x06}));
  }
  EXPECT_TRUE(m_modsim.Command("link"));
  char target[128] = {};
  ASSERT_GT(readlink(link.c_str(), target, sizeof target - 1), 0);
  EXPECT_EQ(std::string(target), m_modsim.Path());
}

TEST_F(ModsimPty, GoesOnWhenItsStdinEnds) {
  CModsimProcess modsim;
  ASSERT_TRUE(modsim.Start("/bin/sh", {"-c", std::string("exec ") + MODSIM_PATH + " </dev/null"}));
  usleep(100 * 1000);
  long before = CpuTicks(modsim.Pid());
  usleep(500 * 1000);
  EXPECT_LE(CpuTicks(modsim.Pid()) - before, 2);
  CHostLine host(modsim.Path());
  host.Send({0x20, 0x30});
  EXPECT_EQ(host.Receive(1), Bytes({0x06}));
  EXPECT_TRUE(modsim.Stop());
}

// Installed as corvane-modsim, it says that name, and the version of the corvane beside it.
TEST_F(ModsimPty, HelpAndVersionUnderTheNameItWasStartedBy) {
  const std::string link = m_strDir + "/corvane-modsim";
  ASSERT_EQ(symlink(MODSIM_PATH, link.c_str()), 0);
  const auto output = [](const std::string& command) {
    std::string text;
    FILE* pipe = popen(command.c_str(), "r");
    char buffer[256];
    while (pipe != nullptr && std::fgets(buffer, sizeof buffer, pipe) != nullptr) text += buffer;
    EXPECT_TRUE(pipe != nullptr && pclose(pipe) == 0) << command;
    return text;
  };
  const std::string version = std::string(kCorvaneVersion).substr(sizeof "corvane");
  EXPECT_EQ(output(link + " --version"), "corvane-modsim " + version + "\n");
  EXPECT_EQ(output(link + " --help").rfind("usage: corvane-modsim [options]\n", 0), 0u);
  unlink(link.c_str());
}

TEST_F(ModsimPty, RefusesBadOptions) {
  CModsimProcess bad;
  EXPECT_FALSE(bad.Start(MODSIM_PATH, {"--peer", "01:02"}));
  EXPECT_FALSE(bad.Start(MODSIM_PATH, {"--wrong-ack", "1FF"}));
  EXPECT_FALSE(bad.Start(MODSIM_PATH, {"--role", "boss"}));
  EXPECT_FALSE(bad.Start(MODSIM_PATH, {"--tty", "/nonexistent/tty"}));
}

}  // namespace
