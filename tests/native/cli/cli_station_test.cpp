// corvane station against jigs played by modsims: modules put on and taken off while the
// station runs, a module pulled in the middle of programming, a port that goes and comes back,
// Ctrl-C with slots busy, and the refusals that come before any port is opened.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <termios.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <random>
#include <regex>
#include <set>
#include <sstream>
#include <thread>

#include "cli/CliRig.h"
#include "cli/EventRecorder.h"
#include "engine/station/StationRun.h"
#include "cli/station/StationBoard.h"
#include "cli/station/StationCommand.h"

namespace {

using nlohmann::json;

std::vector<json> JsonLines(const std::string& text) {
  std::vector<json> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty()) lines.push_back(json::parse(line));
  }
  return lines;
}

std::vector<json> Events(const std::string& path) {
  std::ifstream file(path);
  std::stringstream text;
  text << file.rdbuf();
  return JsonLines(text.str());
}

// Waits (at most seconds) until the event file holds the nth event of this kind on port; false
// if it did not come.
bool AwaitEvent(const std::string& path, const std::string& kind, const std::string& port,
                size_t nth = 1, int seconds = 30) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (std::chrono::steady_clock::now() < end) {
    size_t seen = 0;
    for (const json& event : Events(path)) {
      if (event["event"] == kind && event["port"] == port && ++seen >= nth) return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

std::string Address(int n) {
  char text[32];
  std::snprintf(text, sizeof text, "00:1A:7D:00:%02X:%02X", n / 256, n % 256);
  return text;
}

// The ledger's rows, one per attempt.
std::vector<json> Attempts(CCliRig& rig, const std::string& ledger) {
  EXPECT_EQ(rig.Run({"ledger", "export", "--format", "jsonl", "--ledger", ledger}), 0)
      << rig.m_strErr;
  return JsonLines(rig.m_strOut);
}

// Waits (at most 20 s) until module 0 has been sent its PIN: the moment to pull it.
void AwaitSetPin(CCliRig& rig) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  static const std::regex kSetPin("EV command [0-9]+ I");
  while (!std::regex_search(rig.Transcript(0), kSetPin) && std::chrono::steady_clock::now() < end) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

class CStationRun {
 public:
  // The real program, so that Ctrl-C is a real signal.
  explicit CStationRun(const std::vector<std::string>& args) { m_nChild = CCliRig::Spawn(args); }
  ~CStationRun() {
    if (m_nChild > 0) CCliRig::WaitExit(m_nChild, 1, &m_nStatus);
  }
  // Waits for the exit; the exit code, or -1 when it did not end in time.
  int Exit(int seconds = 60) {
    const bool ended = CCliRig::WaitExit(m_nChild, seconds, &m_nStatus);
    m_nChild = -1;
    return ended && WIFEXITED(m_nStatus) ? WEXITSTATUS(m_nStatus) : -1;
  }
  void Signal(int signal) { kill(m_nChild, signal); }

 private:
  pid_t m_nChild = -1;
  int m_nStatus = 0;
};

TEST(StationTest, FourSlotsTakeTwelveModulesComingAndGoing) {
  CCliRig rig;
  ASSERT_TRUE(rig.Start({{"--absent"}, {"--absent"}, {"--absent"}, {"--absent"}}));
  const std::string ledger = rig.File("ledger.db");
  rig.File("ledger.db-wal");
  rig.File("ledger.db-shm");
  const std::string events = rig.File("events.jsonl");
  CStationRun station({"station", "--ports", rig.Paths(0, 4), "--ledger", ledger, "--name",
                       "BT-{seq:03}", "--pace", "fast", "--count", "12", "--events", events});

  // Each jig takes three modules, put on and taken off at random moments; jig 0 also gets its
  // first module back, which must not be programmed a second time.
  std::vector<std::thread> operators;
  std::vector<std::string> failures(4);
  for (size_t jig = 0; jig < 4; ++jig) {
    operators.emplace_back([&, jig] {
      std::mt19937 random(static_cast<unsigned>(jig) + 7);
      std::uniform_int_distribution<int> pause(0, 600);
      std::vector<int> modules = {int(jig) * 3 + 1, int(jig) * 3 + 2, int(jig) * 3 + 3};
      if (jig == 0) modules.insert(modules.begin() + 1, 1);
      const std::string port = rig.Path(jig);
      for (size_t k = 0; k < modules.size(); ++k) {
        std::this_thread::sleep_for(std::chrono::milliseconds(pause(random)));
        if (!rig.Module(jig).Command("insert --address " + Address(modules[k]))) {
          failures[jig] = "insert refused";
          return;
        }
        if (!AwaitEvent(events, "ok", port, k + 1)) {
          failures[jig] = "no result for module " + std::to_string(modules[k]);
          return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(pause(random)));
        rig.Module(jig).Command("remove");
        if (k + 1 < modules.size() && !AwaitEvent(events, "removed", port, k + 1)) {
          failures[jig] = "removal not seen";
          return;
        }
      }
    });
  }
  for (std::thread& person : operators) person.join();
  for (const std::string& failure : failures) EXPECT_EQ(failure, "");
  EXPECT_EQ(station.Exit(), 0);

  std::set<std::string> names, addresses;
  size_t ok = 0;
  for (const json& row : Attempts(rig, ledger)) {
    EXPECT_TRUE(addresses.insert(row["address"].get<std::string>()).second)
        << "programmed twice: " << row.dump();
    if (row["result"] == "ok") ++ok;
    names.insert(row["name"].get<std::string>());
  }
  EXPECT_EQ(ok, 12u);
  EXPECT_EQ(names.size(), 12u);
  // The module put back on jig 0 was left as it was.
  size_t again = 0;
  for (const json& event : Events(events)) {
    if (event["event"] == "ok" && event["result"] == "already programmed") {
      ++again;
      EXPECT_EQ(event["address"], Address(1));
    }
  }
  EXPECT_EQ(again, 1u);
}

TEST(StationTest, ModulePulledMidProgramIsRecordedAndTheNextIsFine) {
  CCliRig rig;
  // PIN answers come late, so the module can be pulled while the station waits for one.
  ASSERT_TRUE(rig.Start({{"--absent", "--delay", "600", "--only", "I"}}));
  const std::string ledger = rig.File("ledger.db");
  rig.File("ledger.db-wal");
  rig.File("ledger.db-shm");
  const std::string events = rig.File("events.jsonl");
  const std::string port = rig.Path(0);
  CStationRun station({"station", "--ports", port, "--ledger", ledger, "--name", "BT-{seq:03}",
                       "--pace", "fast", "--count", "1", "--events", events});

  ASSERT_TRUE(rig.Module(0).Command("insert --address " + Address(1)));
  ASSERT_TRUE(AwaitEvent(events, "started", port));
  AwaitSetPin(rig);
  ASSERT_TRUE(rig.Module(0).Command("remove"));
  ASSERT_TRUE(AwaitEvent(events, "failed", port));
  ASSERT_TRUE(AwaitEvent(events, "removed", port));
  ASSERT_TRUE(rig.Module(0).Command("insert --address " + Address(2)));
  EXPECT_EQ(station.Exit(), 2) << "a failed module is no success";

  const std::vector<json> rows = Attempts(rig, ledger);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0]["address"], Address(1));
  EXPECT_NE(rows[0]["result"], "ok");
  EXPECT_EQ(rows[0]["name"], "BT-001") << "the name it acknowledged is recorded";
  EXPECT_EQ(rows[0]["pin"], nullptr) << "the PIN it never acknowledged is not";
  EXPECT_EQ(rows[1]["address"], Address(2));
  EXPECT_EQ(rows[1]["result"], "ok");
  EXPECT_EQ(rig.State(0).at("name"), "BT-002");
}

// A second module put on in place of the first while it is programmed (after its name): the
// check before the next setting sees the swap at once, or finds nobody while the jig is empty.
// Either way the first fails truthfully and the second is read and programmed as an arrival.
TEST(StationTest, AModuleSwappedInDuringProgrammingIsTakenAsANewArrival) {
  for (const char* gap : {"20", "1500"}) {
    SCOPED_TRACE(std::string("jig empty for ") + gap + " ms");
    CCliRig rig;
    ASSERT_TRUE(rig.Start({{"--address", Address(1), "--swap-after", "9", "--swap-to", Address(2),
                            "--swap-gap", gap}}));
    const std::string ledger = rig.File("ledger.db");
    rig.File("ledger.db-wal");
    rig.File("ledger.db-shm");
    const std::string events = rig.File("events.jsonl");
    CStationRun station({"station", "--ports", rig.Path(0), "--ledger", ledger, "--name",
                         "BT-{seq:03}", "--pace", "fast", "--count", "1", "--events", events});
    EXPECT_EQ(station.Exit(), 2) << "the first module failed";
    std::map<std::string, std::string> last;
    for (const json& event : Events(events)) {
      if (event["event"] == "ok" || event["event"] == "failed") {
        last[event["address"].get<std::string>()] = event["event"];
      }
    }
    EXPECT_EQ(last[Address(1)], "failed");
    EXPECT_EQ(last[Address(2)], "ok");
    EXPECT_EQ(rig.State(0).at("name"), "BT-002") << "the module on the jig got its own values";
    for (const json& row : Attempts(rig, ledger)) {
      if (row["result"] == "ok") {
        EXPECT_EQ(row["address"], Address(2)) << row.dump();
      }
    }
  }
}

// The next module put on within a second of the last one's removal, quicker than the probes
// that tell a removal: its address is read, so it is programmed, not taken for the last one.
TEST(StationTest, AQuickSwapIsSeenByTheAddress) {
  for (int gapMs : {200, 1000}) {
    SCOPED_TRACE(gapMs);
    CCliRig rig;
    ASSERT_TRUE(rig.Start({{"--absent"}}));
    const std::string events = rig.File("events.jsonl");
    const std::string port = rig.Path(0);
    const std::string ledger = rig.File("ledger.db");
    rig.File("ledger.db-wal");
    rig.File("ledger.db-shm");
    CStationRun station({"station", "--ports", port, "--ledger", ledger, "--name", "BT-{seq:03}",
                         "--pace", "fast", "--count", "2", "--events", events});
    ASSERT_TRUE(rig.Module(0).Command("insert --address " + Address(1)));
    ASSERT_TRUE(AwaitEvent(events, "ok", port));
    ASSERT_TRUE(rig.Module(0).Command("remove"));
    std::this_thread::sleep_for(std::chrono::milliseconds(gapMs));
    ASSERT_TRUE(rig.Module(0).Command("insert --address " + Address(2)));
    EXPECT_EQ(station.Exit(), 0);
    EXPECT_EQ(rig.State(0).at("name"), "BT-002");
    size_t removed = 0;
    for (const json& event : Events(events)) removed += event["event"] == "removed" ? 1 : 0;
    EXPECT_EQ(removed, 1u) << "the first module's removal is told";
  }
}

// A module that failed, taken off and put back, is programmed again, and the counts and the
// exit code follow its last attempt; a port and a link to it are one slot, never "busy".
TEST(StationTest, AFailedModulePutBackIsProgrammedAndCountsFollowItsLastAttempt) {
  CCliRig rig;
  ASSERT_TRUE(rig.Start({{"--absent", "--delay", "600", "--only", "I"}}));
  const std::string events = rig.File("events.jsonl");
  const std::string link = rig.Dir() + "/link";
  ASSERT_EQ(symlink(rig.Path(0).c_str(), link.c_str()), 0);
  int errPipe[2];
  ASSERT_EQ(pipe(errPipe), 0);
  const std::string ledger = rig.File("ledger.db");
  rig.File("ledger.db-wal");
  rig.File("ledger.db-shm");
  const pid_t child =
      CCliRig::Spawn({"station", "--ports", rig.Path(0) + "," + link, "--ledger", ledger, "--name",
                      "BT-{seq:03}", "--pace", "fast", "--count", "1", "--events", events},
                     -1, errPipe[1]);
  close(errPipe[1]);
  ASSERT_TRUE(rig.Module(0).Command("insert --address " + Address(1)));
  AwaitSetPin(rig);
  ASSERT_TRUE(rig.Module(0).Command("remove"));
  ASSERT_TRUE(AwaitEvent(events, "removed", rig.Path(0)));
  ASSERT_TRUE(rig.Module(0).Command("insert --address " + Address(1)));
  const std::string err = CCliRig::ReadAll(errPipe[0]);
  int status = 0;
  ASSERT_TRUE(CCliRig::WaitExit(child, 60, &status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << err;
  EXPECT_NE(err.find("ok 1  failed 0"), std::string::npos) << err;
  EXPECT_EQ(err.find("busy"), std::string::npos) << err;
  EXPECT_EQ(rig.State(0).at("name"), "BT-001");
}

TEST(StationTest, PortThatVanishesAndComesBackIsTheSameSlot) {
  CCliRig rig;
  const std::string watch = rig.Dir() + "/by-path";
  ASSERT_EQ(mkdir(watch.c_str(), 0755), 0);
  const std::string link = watch + "/pci-0000:00:14.0-usb-0:2:1.0-port0";
  ASSERT_TRUE(rig.Start({{"--link", link, "--address", Address(1)}}));
  const std::string labels = rig.File("labels.csv");
  std::ofstream(labels) << "# the bench's jigs\npci-0000:00:14.0-usb-0:2:1.0-port0, left jig\n";
  const std::string events = rig.File("events.jsonl");
  CStationRun station({"station", "--watch", watch, "--slots", labels, "--name", "BT-{addr4}",
                       "--pace", "fast", "--count", "2", "--events", events});

  ASSERT_TRUE(AwaitEvent(events, "ok", link));
  ASSERT_TRUE(rig.Module(0).Command("unlink"));
  ASSERT_TRUE(AwaitEvent(events, "removed", link));
  ASSERT_TRUE(rig.Module(0).Command("insert --address " + Address(2)));
  ASSERT_TRUE(rig.Module(0).Command("link"));
  EXPECT_EQ(station.Exit(), 0);
  rmdir(watch.c_str());

  std::vector<std::string> seen;
  for (const json& event : Events(events)) {
    EXPECT_EQ(event["slot"], "left jig");
    seen.push_back(event["event"].get<std::string>());
  }
  const std::vector<std::string> expected = {"arrived", "started", "ok", "removed",
                                             "arrived", "started", "ok"};
  EXPECT_EQ(seen, expected);
  EXPECT_EQ(rig.State(0).at("name"), "BT-0002");
}

TEST(StationTest, CtrlCWithTwoSlotsBusyFinishesTheirExchangesAndRecordsThem) {
  CCliRig rig;
  ASSERT_TRUE(rig.Start({{"--address", Address(1), "--delay", "300", "--only", "NI"},
                         {"--address", Address(2), "--delay", "300", "--only", "NI"}}));
  const std::string ledger = rig.File("ledger.db");
  rig.File("ledger.db-wal");
  rig.File("ledger.db-shm");
  const std::string events = rig.File("events.jsonl");
  CStationRun station({"station", "--ports", rig.Paths(0, 2), "--ledger", ledger, "--name",
                       "BT-{seq:03}", "--pace", "fast", "--events", events});
  ASSERT_TRUE(AwaitEvent(events, "started", rig.Path(0)));
  ASSERT_TRUE(AwaitEvent(events, "started", rig.Path(1)));
  station.Signal(SIGINT);
  EXPECT_EQ(station.Exit(), 130);

  // Every exchange under way was finished: whatever a module received was answered, and the
  // station let go of both ports.
  for (size_t k = 0; k < 2; ++k) {
    const auto state = rig.State(k);
    EXPECT_EQ(state.at("malformed"), "0");
    const int fd = open(rig.Path(k).c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    EXPECT_GE(fd, 0);
    if (fd >= 0) close(fd);
  }
  const std::vector<json> rows = Attempts(rig, ledger);
  ASSERT_EQ(rows.size(), 2u);
  // Cut short, not a fault of the module: no "Communication Error" blames it.
  for (const json& row : rows) {
    EXPECT_EQ(row["result"], "interrupted") << row.dump();
    EXPECT_EQ(row["message"], "") << row.dump();
  }
  size_t failed = 0;
  for (const json& event : Events(events)) {
    if (event["event"] != "failed") continue;
    ++failed;
    EXPECT_EQ(event["result"], "interrupted") << event.dump();
    EXPECT_FALSE(event.contains("message")) << event.dump();
  }
  EXPECT_EQ(failed, 2u);
}

TEST(StationTest, EventsWithNoReaderStopTheStation) {
  CCliRig rig;
  ASSERT_TRUE(rig.Start({{"--address", Address(1)}}));
  int pipeFds[2];
  ASSERT_EQ(pipe(pipeFds), 0);
  close(pipeFds[0]);  // the line controller has gone
  int errFds[2];
  ASSERT_EQ(pipe(errFds), 0);
  const pid_t child = CCliRig::Spawn({"station", "--ports", rig.Path(0), "--name", "BT-{addr4}",
                                      "--pace", "fast", "--events", "-"},
                                     pipeFds[1], errFds[1]);
  close(pipeFds[1]);
  close(errFds[1]);
  std::string err;
  char buffer[512];
  for (ssize_t n; (n = read(errFds[0], buffer, sizeof buffer)) > 0;) err.append(buffer, n);
  close(errFds[0]);
  int status = 0;
  ASSERT_TRUE(CCliRig::WaitExit(child, 30, &status));
  EXPECT_EQ(WEXITSTATUS(status), 74) << err;
  EXPECT_NE(err.find("the events could not be written"), std::string::npos) << err;
}

// --idle-exit takes a fraction of a second; the ends are worded for one module, one second.
TEST(StationTest, EndsAfterAFractionOfIdleTimeOrAfterOneModule) {
  CCliRig rig;
  ASSERT_TRUE(rig.Start({{"--absent"}}));
  EXPECT_EQ(rig.Run({"station", "--ports", rig.Path(0), "--idle-exit", "1.5", "--quiet"}), 0);
  EXPECT_NE(rig.m_strErr.find("nothing arrived for 1.5 seconds;"), std::string::npos)
      << rig.m_strErr;
  ASSERT_TRUE(rig.Module(0).Command("insert"));
  EXPECT_EQ(rig.Run({"station", "--ports", rig.Path(0), "--pin", "4321", "--pace", "fast",
                     "--count", "1", "--quiet"}),
            0);
  EXPECT_NE(rig.m_strErr.find("corvane: 1 module ok;"), std::string::npos) << rig.m_strErr;
  // The message made for a message box is one line of the operator's view.
  ASSERT_TRUE(rig.Restart(0, {"--stop-after", "2"}));
  EXPECT_EQ(rig.Run({"station", "--ports", rig.Path(0), "--pin", "4321", "--pace", "fast",
                     "--idle-exit", "1"}),
            2);
  EXPECT_NE(rig.m_strErr.find("Error  ! Please disconnect"), std::string::npos) << rig.m_strErr;
  EXPECT_NE(rig.m_strErr.find("nothing arrived for 1 second;"), std::string::npos) << rig.m_strErr;
}

TEST(StationTest, RefusesBadOptionsBeforeAnyPortIsOpened) {
  CCliRig rig;
  ASSERT_TRUE(rig.Start({{}}));
  const std::string port = rig.Path(0);
  const std::string badLabels = rig.File("labels.csv");
  std::ofstream(badLabels) << "COM3 without a label\n";
  const std::string notLedger = rig.File("not-a-ledger.db");
  std::ofstream(notLedger) << "this is no database\n";
  const struct {
    std::vector<std::string> args;
    int code;
    const char* says;
  } cases[] = {
      {{"--name", "BT-{seq}"}, 64, "{seq} needs a --ledger"},
      {{"--name", "BT-FIXED"}, 64, "every module would get the name"},
      {{"--watch", rig.Dir() + "/nowhere"}, 64, "is not a folder"},
      {{"--events", rig.Dir()}, 64, "is a folder, not a file"},
      {{"--slots", badLabels}, 64, "line 1"},
      {{"--count", "0"}, 64, "--count"},
      {{"--idle-exit", "1e3"}, 64, "--idle-exit"},
      {{"--idle-exit", "0.0"}, 64, "--idle-exit"},
      {{"--ledger", notLedger, "--name", "BT-{seq}"}, 4, "not-a-ledger.db"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = {"station", "--ports", port};
    args.insert(args.end(), c.args.begin(), c.args.end());
    EXPECT_EQ(rig.Run(args), c.code) << c.says;
    EXPECT_NE(rig.m_strErr.find(c.says), std::string::npos) << rig.m_strErr;
    EXPECT_EQ(std::count(rig.m_strErr.begin(), rig.m_strErr.end(), '\n'), 1) << rig.m_strErr;
  }
  EXPECT_TRUE(rig.Untouched(0));
}

// Events on a disk that fills up in the middle of a line: no half line is left, and the next
// run's events start on lines of their own, also after a fragment a killed run left behind.
TEST(StationTest, EventsOnAFullDiskAreWholeLinesAndTheNextRunMendsTheFile) {
  char disk[] = "/tmp/small_disk.XXXXXX";
  if (getuid() != 0 || mkdtemp(disk) == nullptr) GTEST_SKIP() << "needs root to mount a disk";
  // A disk of its own, 64 KiB, that the events can fill.
  const std::shared_ptr<char> mounted(
      mount("tmpfs", disk, "tmpfs", 0, "size=64k") == 0 ? disk : nullptr, [&disk](char* dir) {
        if (dir != nullptr) umount2(dir, MNT_DETACH);
        rmdir(disk);
      });
  if (!mounted) GTEST_SKIP() << "no tmpfs could be mounted here";
  CCliRig rig;
  ASSERT_TRUE(rig.Start({{}}));
  const std::string events = std::string(disk) + "/events.jsonl";
  const std::string filler = std::string(disk) + "/filler";
  // The first page of the file all but full, and no page left on the disk.
  std::ofstream(events) << json{{"pad", std::string(4000, 'x')}}.dump() << "\n";
  {
    std::ofstream fill(filler, std::ios::binary);
    const std::string block(4096, 'f');
    while (fill.write(block.data(), block.size())) fill.flush();
  }
  const std::vector<std::string> args = {"station", "--ports",  rig.Path(0), "--pin",
                                         "1234",    "--pace",   "fast",      "--count",
                                         "1",       "--events", events};
  EXPECT_EQ(CStationRun(args).Exit(), 74);
  const auto lines = [&] {
    std::ifstream file(events);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
  };
  ASSERT_EQ(lines().back(), '\n') << lines();
  EXPECT_NO_THROW(Events(events)) << "every line is whole";

  std::remove(filler.c_str());
  const std::string fragment = "{\"time\":\"2026-12-";
  std::ofstream(events, std::ios::app) << fragment;
  EXPECT_EQ(CStationRun(args).Exit(), 0);
  const std::string text = lines();
  const size_t cut = text.find(fragment);
  ASSERT_NE(cut, std::string::npos);
  EXPECT_EQ(text[cut + fragment.size()], '\n') << "the fragment ends its own line";
  const std::vector<json> after = JsonLines(text.substr(cut + fragment.size()));
  ASSERT_FALSE(after.empty());
  EXPECT_EQ(after.back()["event"], "ok") << text;
}

}  // namespace

namespace {

// A pseudo-terminal of the test's own: its far end, and the end in *master; -1 without one.
int OpenTerminal(int* master) {
  *master = posix_openpt(O_RDWR | O_NOCTTY);
  if (*master < 0 || grantpt(*master) != 0 || unlockpt(*master) != 0) return -1;
  return open(ptsname(*master), O_RDWR | O_NOCTTY);
}

}  // namespace

// The station's engine without a terminal or a parser run: what its presenters are told.
TEST(StationTest, FourSlotsToldToARecordingPresenter) {
  CCliRig rig;
  ASSERT_TRUE(rig.Start({{"--address", Address(1)},
                         {"--address", Address(2)},
                         {"--address", Address(3)},
                         {"--address", Address(4)}}));
  CStationSetup setup;
  setup.m_strPorts = rig.Paths(0, 4);
  setup.m_bPortsGiven = true;
  setup.m_settings.m_strPin = "4321";
  setup.m_settings.m_bPinGiven = true;
  setup.m_pace = EPace::Fast;
  setup.m_nCount = 4;
  std::ostringstream out, err;
  CRunEnv env = rig.Env(out, err);
  CEventRecorder recorder;
  CStation station(setup, env);
  station.Subscribe(recorder);
  EXPECT_EQ(station.Run(), 0) << err.str();
  EXPECT_EQ(out.str(), "");  // no events asked for, and no board: the engine shows nothing

  std::lock_guard<std::mutex> lock(recorder.m_mutex);
  EXPECT_EQ(recorder.m_slots[99], std::vector<std::string>({"end by count, ok 4, failed 0"}));
  // Slots are numbered as their ports are found, not as --ports lists them.
  std::map<std::string, std::vector<std::string>> byArrival;
  for (const auto& slot : recorder.m_slots) {
    if (slot.first != 99 && !slot.second.empty()) byArrival[slot.second.front()] = slot.second;
  }
  for (size_t k = 0; k < 4; ++k) {
    // Every setting goes to the module read, the ones left as they were among them.
    const std::vector<std::string> told = {"arrived at " + rig.Path(k),
                                           "started 4321",
                                           "name",
                                           "pin",
                                           "role",
                                           "peer",
                                           "ok " + Address(static_cast<int>(k) + 1)};
    EXPECT_EQ(byArrival[told.front()], told) << "port " << k;
  }
}

// The board on terminals of several sizes: every line within the width, once; the block
// within the height, the rest counted.
TEST(StationTest, TheBoardFitsTheTerminal) {
  const std::string failed = "COM3  FAILED communication error: " + std::string(200, 'x');
  const struct {
    size_t rows, columns, slots;
    size_t lines;
    const char* last;  // the last slot line shown
  } cases[] = {
      {24, 80, 2, 3, "COM3  FAILED"},
      {24, 120, 2, 3, "COM3  FAILED"},
      {10, 40, 8, 9, "COM3  FAILED"},
      {6, 40, 8, 5, "... and 5 more slots"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> slots(c.slots, "COM4  waiting");
    slots.back() = failed;
    if (c.slots > 2) slots[1] = failed;
    const std::string frame = BoardFrame(slots, "ok 1  failed 1", c.rows, c.columns);
    std::vector<std::string> lines;
    std::istringstream in(frame);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    ASSERT_EQ(lines.size(), c.lines) << frame;
    for (const std::string& line : lines) {
      // Each line clears what an earlier frame left there, and stays within the width.
      EXPECT_EQ(line.compare(0, 4, "\x1b[2K"), 0) << line;
      EXPECT_LT(line.size() - 4, c.columns) << line;
    }
    EXPECT_EQ(lines[lines.size() - 2].find(c.last), 4u) << frame;
    EXPECT_EQ(lines.back(), "\x1b[2Kok 1  failed 1");
  }
}

// --events - with the board on the same terminal would be wiped out by its redraws.
TEST(StationTest, EventsToTheBoardsTerminalAreRefused) {
  CCliRig rig;
  ASSERT_TRUE(rig.Start({{}}));
  int master = -1;
  const int terminal = OpenTerminal(&master);
  ASSERT_GE(terminal, 0);
  setenv("TERM", "xterm", 1);
  const pid_t child = CCliRig::Spawn(
      {"station", "--ports", rig.Path(0), "--pin", "4321", "--events", "-"}, terminal, terminal);
  close(terminal);
  int status = 0;
  ASSERT_TRUE(CCliRig::WaitExit(child, 30, &status));
  EXPECT_EQ(WEXITSTATUS(status), 64);
  char buffer[512];
  const ssize_t n = read(master, buffer, sizeof buffer);
  close(master);
  const std::string said(buffer, n > 0 ? static_cast<size_t>(n) : 0);
  EXPECT_NE(said.find("--events -: the operator's view redraws this terminal"), std::string::npos)
      << said;
  EXPECT_TRUE(rig.Untouched(0));
}

// A reader that pauses its terminal (Ctrl-S) until after the station's end loses nothing: the
// station waits for it rather than giving up after a few seconds.
TEST(StationTest, APausedEventsReaderLosesNothingAtTheEnd) {
  CCliRig rig;
  ASSERT_TRUE(rig.Start({{"--address", Address(1)}, {"--address", Address(2)}}));
  int master = -1;
  const int terminal = OpenTerminal(&master);
  ASSERT_GE(terminal, 0);
  ASSERT_EQ(tcflow(terminal, TCOOFF), 0);
  const pid_t child = CCliRig::Spawn({"station", "--ports", rig.Paths(0, 2), "--pin", "4321",
                                      "--pace", "fast", "--count", "2", "--events", "-", "--quiet"},
                                     terminal);
  std::this_thread::sleep_for(std::chrono::seconds(6));
  ASSERT_EQ(tcflow(terminal, TCOON), 0);
  close(terminal);
  std::string said;
  char buffer[4096];
  for (ssize_t n; (n = read(master, buffer, sizeof buffer)) > 0;) said.append(buffer, n);
  close(master);
  int status = 0;
  ASSERT_TRUE(CCliRig::WaitExit(child, 30, &status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  size_t ok = 0;
  for (const json& event : JsonLines(said)) ok += event["event"] == "ok" ? 1 : 0;
  EXPECT_EQ(ok, 2u) << said;
}
