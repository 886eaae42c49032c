// The command line under abuse: planted links, files that cannot be written, plans that are
// no files, a port another program holds, signals from a closed terminal, kill -9, and outputs
// that are full or gone. The modules must never be touched for a run that is refused, and no
// finished row may be lost.
#include <gtest/gtest.h>
#include <dirent.h>
#include <grp.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

#include "cli/CliRig.h"
#include "engine/values/Csv.h"
#include "engine/gang/PhaseGate.h"
#include "cli/PortDiagnosis.h"
#include "cli/posix/PortPermission.h"
#include "engine/values/Plan.h"
#include "cli/Progress.h"

namespace {

const std::vector<std::string> kAllFour = {"--name", "N{seq}", "--pin",  "1234",
                                           "--role", "master", "--peer", "00:12:6F:34:56:78"};

std::vector<std::string> Gang(const std::string& ports, std::vector<std::string> more) {
  std::vector<std::string> args = {"gang", "--ports", ports, "--quiet"};
  args.insert(args.end(), kAllFour.begin(), kAllFour.end());
  args.insert(args.end(), more.begin(), more.end());
  return args;
}

std::string ReadText(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

void WriteText(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

// Names in a folder that begin with prefix.
std::vector<std::string> Starting(const std::string& dir, const std::string& prefix) {
  std::vector<std::string> names;
  DIR* folder = opendir(dir.c_str());
  if (folder == nullptr) return names;
  while (const dirent* entry = readdir(folder)) {
    if (std::string(entry->d_name).rfind(prefix, 0) == 0) names.push_back(entry->d_name);
  }
  closedir(folder);
  return names;
}

// Waits up to seconds for a condition seen by polling.
template <typename Condition>
bool Eventually(int seconds, Condition condition) {
  for (int k = 0; k < seconds * 20; ++k) {
    if (condition()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return condition();
}

TEST(CliReportFile, APlantedLinkIsNeverFollowedAndAReplacedReportKeepsItsMode) {
  CCliRig rig;
  ASSERT_TRUE(rig.Start({{}}));
  const std::string report = rig.File("r.csv");
  const std::string victim = rig.File("victim");
  const std::string planted = rig.File("r.csv.part");
  WriteText(victim, "precious\n");
  ASSERT_EQ(symlink(victim.c_str(), planted.c_str()), 0);
  WriteText(report, "old report\n");
  ASSERT_EQ(chmod(report.c_str(), 0640), 0);
  const bool root = getuid() == 0 && chown(report.c_str(), 4321, 4321) == 0;

  ASSERT_EQ(rig.Run(Gang(rig.Path(0), {"--report", report})), 0) << rig.m_strErr;
  EXPECT_EQ(ReadText(victim), "precious\n");
  struct stat info {};
  ASSERT_EQ(lstat(report.c_str(), &info), 0);
  EXPECT_TRUE(S_ISREG(info.st_mode)) << "the report is a file, not a link";
  EXPECT_EQ(info.st_mode & 0777, 0640u);
  EXPECT_EQ(info.st_uid + info.st_gid, root ? 2 * 4321u : getuid() + getgid()) << "and its owner";
  EXPECT_EQ(ReadText(report).rfind("port,address,", 0), 0u) << ReadText(report);
  EXPECT_NE(ReadText(report).find(",ok,"), std::string::npos);
  EXPECT_TRUE(Starting(rig.Dir(), ".r.csv").empty()) << "no temporary file is left";
}

TEST(CliReportFile, AReportThatCannotBeWrittenRefusesTheRunWithNothingSent) {
  CCliRig rig;
  ASSERT_TRUE(rig.Start({{}}));
  const std::string folder = rig.File("folder.csv");
  ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
  const std::string plan = rig.File("plan.csv");
  const std::string link = rig.File("link.csv");
  WriteText(plan, "address,name\n00:1A:7D:DA:71:13,P\n");
  ASSERT_EQ(symlink(plan.c_str(), link.c_str()), 0);

  const std::vector<std::vector<std::string>> refused = {
      Gang(rig.Path(0), {"--report", "/no/such/dir/r.csv"}),
      Gang(rig.Path(0), {"--report", folder}),
      {"gang", "--ports", rig.Path(0), "--plan", plan, "--report", link},
      Gang(rig.Path(0), {"--report", ""}),
      Gang("", {}),
      Gang(rig.Path(0), {"--start", "abc"}),
  };
  for (const auto& args : refused) {
    EXPECT_EQ(rig.Run(args), 64) << args.back() << ": " << rig.m_strErr;
    EXPECT_EQ(std::count(rig.m_strErr.begin(), rig.m_strErr.end(), '\n'), 1) << rig.m_strErr;
  }
  EXPECT_NE(rig.m_strErr.find("not a number"), std::string::npos) << rig.m_strErr;
  rmdir(folder.c_str());
  EXPECT_EQ(ReadText(plan), "address,name\n00:1A:7D:DA:71:13,P\n") << "the plan is intact";
  EXPECT_TRUE(rig.Untouched(0));
}

mode_t ModeAt(const std::string& path) {
  struct stat info {};
  return lstat(path.c_str(), &info) == 0 ? info.st_mode : 0;
}

// Each kind of thing at a name corvane is asked to write, against each option that writes one.
// Only a regular file is written; a link is replaced itself (a new file, that lends no mode)
// where the file is replaced whole and refused where it is appended to; anything else is
// refused before any port is opened.
TEST(CliFilePolicy, EachTargetKindAgainstEachWritingOption) {
  CCliRig rig;
  ASSERT_TRUE(rig.Start({{}}));
  const std::string victim = rig.File("victim");
  WriteText(victim, "precious\n");
  ASSERT_EQ(chmod(victim.c_str(), 04777), 0);
  const std::string device = rig.File("device");
  // The null device's numbers: a fault that wrote to it would still write nowhere.
  const bool root = mknod(device.c_str(), S_IFCHR | 0600, makedev(1, 3)) == 0;
  const auto socketAt = [](const std::string& p) {
    sockaddr_un address{AF_UNIX, {}};
    p.copy(address.sun_path, sizeof address.sun_path - 1);
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    return bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 && !close(fd);
  };
  const std::vector<std::pair<std::string, std::function<bool(const std::string&)>>> kinds = {
      {"device", [&](const std::string& p) { return root && !link(device.c_str(), p.c_str()); }},
      {"fifo", [](const std::string& p) { return !mkfifo(p.c_str(), 0600); }},
      {"socket", socketAt},
      {"folder", [](const std::string& p) { return !mkdir(p.c_str(), 0700); }},
      {"filelink", [&](const std::string& p) { return !symlink(victim.c_str(), p.c_str()); }},
      {"devlink",
       [&](const std::string& p) { return root && !symlink(device.c_str(), p.c_str()); }},
  };
  const std::vector<std::pair<std::string, std::vector<std::string>>> uses = {
      {"--save", {"read", "--port", rig.Path(0), "--quiet", "--save"}},
      {"--report", Gang(rig.Path(0), {"--pace", "fast", "--report"})},
      {"--events",
       {"station", "--ports", rig.Path(0), "--pin", "1234", "--count", "1", "--events"}},
  };
  const mode_t mask = umask(002);
  for (const bool replacing : {false, true}) {  // refusals first: none may reach the module
    for (const auto& kind : kinds) {
      for (const auto& use : uses) {
        const bool replaced =
            kind.first.find("link") != std::string::npos && use.first != "--events";
        const std::string path = rig.File(kind.first + use.first.substr(2) + ".csv");
        if (replaced != replacing || !kind.second(path)) continue;  // a device needs root
        const mode_t before = ModeAt(path);
        std::vector<std::string> args = use.second;
        args.push_back(path);
        EXPECT_EQ(rig.Run(args), replaced ? 0 : 64) << kind.first << use.first << rig.m_strErr;
        EXPECT_EQ(ModeAt(path), replaced ? S_IFREG | 0660 : before) << kind.first << use.first;
        EXPECT_EQ(rig.m_strErr.find(path + " is a") != std::string::npos, !replaced);
      }
    }
    EXPECT_TRUE(replacing || rig.Untouched(0));
  }
  umask(mask);
  EXPECT_EQ(ReadText(victim), "precious\n");
  EXPECT_EQ(ModeAt(device), root ? S_IFCHR | 0600 : 0);
}

// No file serves two roles in one run, whether named alike, through a link, or not made yet.
TEST(CliFilePolicy, NoFileServesTwoRoles) {
  CCliRig rig;
  ASSERT_TRUE(rig.Start({{}}));
  const std::string ledger = rig.File("ledger.csv");
  const std::string link = rig.File("link.csv");
  const std::string fresh = rig.File("fresh.csv");
  const std::string plan = rig.File("plan.csv");
  WriteText(ledger, "a ledger of many modules\n");
  WriteText(plan, "address,name\n00:1A:7D:DA:71:13,P\n");
  ASSERT_EQ(symlink(ledger.c_str(), link.c_str()), 0);
  const std::string port = rig.Path(0);
  const std::vector<std::vector<std::string>> cases = {
      Gang(port, {"--ledger", ledger, "--report", ledger}),
      Gang(port, {"--ledger", ledger, "--report", link}),
      Gang(port, {"--ledger", fresh, "--report", fresh}),
      {"station", "--ports", port, "--ledger", link, "--name", "B{seq}", "--events", ledger},
      {"station", "--ports", port, "--plan", plan, "--events", plan},
      {"station", "--ports", port, "--ledger", ledger, "--name", "B{seq}", "--events",
       ledger + "-wal"},
      {"program", "--port", port, "--from", plan, "--ledger", plan},
  };
  for (const auto& args : cases) {
    EXPECT_EQ(rig.Run(args), 64) << args.back() << ": " << rig.m_strErr;
    EXPECT_NE(rig.m_strErr.find("as well"), std::string::npos) << rig.m_strErr;
    EXPECT_EQ(std::count(rig.m_strErr.begin(), rig.m_strErr.end(), '\n'), 1) << rig.m_strErr;
  }
  EXPECT_EQ(ReadText(ledger), "a ledger of many modules\n");
  EXPECT_EQ(access(fresh.c_str(), F_OK), -1);
  EXPECT_TRUE(rig.Untouched(0));
}

TEST(CliPlanFile, OnlyARegularFileOfSaneSizeIsReadAndNeverBlocks) {
  CCliRig rig;
  ASSERT_TRUE(rig.Start({{}}));
  const std::string fifo = rig.File("plan.fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const std::string big = rig.File("big.csv");
  WriteText(big, "address,name\n" + std::string(kPlanMaxBytes, '\n'));
  const std::vector<std::pair<std::string, std::string>> plans = {
      {"/dev/zero", "not a regular file"},
      {fifo, "not a regular file"},
      {rig.Dir(), "is a folder"},
      {big, "larger than 4 MB"},
  };
  for (const auto& plan : plans) {
    EXPECT_EQ(rig.Run({"gang", "--ports", rig.Path(0), "--plan", plan.first}), 64);
    EXPECT_NE(rig.m_strErr.find(plan.second), std::string::npos) << rig.m_strErr;
  }
  EXPECT_TRUE(rig.Untouched(0));

  CPlan parsed;
  std::string error;
  EXPECT_TRUE(
      ParsePlan("\xEF\xBB\xBF"
                "address,name\r\n00:00:00:00:00:01,A\r\n",
                &parsed, &error))
      << error;
  EXPECT_EQ(parsed.at("000000000001").m_name, "A");
  EXPECT_FALSE(
      ParsePlan("address,name\n000000000001,A\n000000000002,B\n000000000003,A\n", &parsed, &error));
  EXPECT_EQ(error, "line 4: the name \"A\" is already planned on line 2");
}

TEST(CliPorts, ThePortIsNeverTheTerminalCorvaneRunsIn) {
  CCliRig rig;
  ASSERT_TRUE(rig.Start({{}}));
  EXPECT_EQ(rig.Run({"read", "--port", "/dev/tty"}), 64);
  EXPECT_NE(rig.m_strErr.find("terminal"), std::string::npos) << rig.m_strErr;
}

TEST(CliBusy, APortAnotherProgramHoldsIsBusyNotMissing) {
  CCliRig rig;
  ASSERT_TRUE(rig.Start({{}, {"--address", "00:00:00:00:00:02"}}));
  // Another program has the first module's port open and locked.
  const int holder = open(rig.Path(0).c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(holder, 0);
  ASSERT_EQ(flock(holder, LOCK_EX | LOCK_NB), 0);

  EXPECT_EQ(rig.Run({"read", "--port", rig.Path(0), "--format", "json"}), 1);
  EXPECT_EQ(nlohmann::json::parse(rig.m_strOut)["result"], "busy");
  EXPECT_NE(rig.m_strErr.find("busy"), std::string::npos) << rig.m_strErr;

  const std::string report = rig.File("busy.jsonl");
  EXPECT_EQ(rig.Run(Gang(rig.Path(0) + "," + rig.Path(1), {"--report", report})), 1)
      << rig.m_strErr;
  EXPECT_NE(ReadText(report).find("\"result\":\"busy\""), std::string::npos) << ReadText(report);
  EXPECT_NE(rig.m_strErr.find("is busy: another program holds it; run `corvane doctor --port"),
            std::string::npos)
      << rig.m_strErr;
  EXPECT_EQ(rig.State(1).at("name"), "N1") << "the free port's module is programmed";

  EXPECT_EQ(rig.Run({"pair", "--master", rig.Path(0), "--slave", rig.Path(1)}), 1);
  EXPECT_NE(rig.m_strErr.find("the master on " + rig.Path(0) +
                              ": busy; run `corvane doctor --port " + rig.Path(0) + "`"),
            std::string::npos)
      << rig.m_strErr;
  close(holder);
}

TEST(CliSignals, AHangupEndsAGangLikeCtrlCAndTheReportIsWritten) {
  CCliRig rig;
  ASSERT_TRUE(rig.Start({{}}));
  const std::string report = rig.File("hup.jsonl");
  std::vector<std::string> args = Gang(rig.Path(0), {"--report", report});
  args.erase(args.begin() + 3);  // progress lines too, into the void
  const pid_t child = CCliRig::Spawn(args);
  ASSERT_TRUE(Eventually(30, [&] { return rig.State(0).at("name") == "N1"; }));
  kill(child, SIGHUP);
  int status = 0;
  ASSERT_TRUE(CCliRig::WaitExit(child, 30, &status));
  ASSERT_TRUE(WIFEXITED(status)) << "not killed by the signal";
  EXPECT_EQ(WEXITSTATUS(status), 130);
  EXPECT_NE(ReadText(report).find("\"result\":\"interrupted\""), std::string::npos);
}

TEST(CliSignals, AGangKilledOutrightLeavesItsFinishedRowsBesideTheReport) {
  CCliRig rig;
  ASSERT_TRUE(rig.Start({{"--silent"}, {}}));
  const std::string report = rig.File("kill.jsonl");
  const pid_t child = CCliRig::Spawn(Gang(rig.Path(0) + "," + rig.Path(1), {"--report", report}));
  std::string journal;
  // The silent port's row is final after the probe, long before the other module is done.
  ASSERT_TRUE(Eventually(30, [&] {
    for (const std::string& name : Starting(rig.Dir(), ".kill.jsonl.")) {
      journal = rig.Dir() + "/" + name;
      if (ReadText(journal).find("no module") != std::string::npos) return true;
    }
    return false;
  }));
  kill(child, SIGKILL);
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_NE(ReadText(journal).find("\"result\":\"no module\""), std::string::npos);
  EXPECT_EQ(access(report.c_str(), F_OK), -1) << "no half report at the name";
  unlink(journal.c_str());
}

TEST(CliOutput, AFullStderrStopsNeitherTheModulesNorTheRun) {
  CCliRig rig;
  ASSERT_TRUE(rig.Start({{}, {"--address", "00:00:00:00:00:02"}}));
  int err[2];
  ASSERT_EQ(pipe2(err, O_NONBLOCK), 0);
  // Nobody reads stderr, and it has no room left: every write to it would block.
  const std::string fill(4096, 'x');
  while (write(err[1], fill.data(), fill.size()) > 0) {
  }
  fcntl(err[1], F_SETFL, 0);
  const std::string report = rig.File("full.jsonl");
  std::vector<std::string> args = Gang(rig.Path(0) + "," + rig.Path(1), {"--report", report});
  args.erase(args.begin() + 3);  // with progress lines
  const pid_t child = CCliRig::Spawn(args, -1, err[1]);
  close(err[1]);
  int status = 0;
  const bool ended = CCliRig::WaitExit(child, 90, &status);
  close(err[0]);
  ASSERT_TRUE(ended) << "the gang hung on its stderr";
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(rig.State(0).at("name"), "N1");
  EXPECT_EQ(rig.State(1).at("name"), "N2");
}

TEST(CliOutput, AClosedStdoutFailsTheRunButTheReportIsWritten) {
  CCliRig rig;
  ASSERT_TRUE(rig.Start({{}}));
  int out[2];
  ASSERT_EQ(pipe(out), 0);
  close(out[0]);  // the reader has gone
  const std::string report = rig.File("closed.csv");
  const pid_t child = CCliRig::Spawn(Gang(rig.Path(0), {"--report", report}), out[1]);
  close(out[1]);
  int status = 0;
  ASSERT_TRUE(CCliRig::WaitExit(child, 60, &status));
  ASSERT_TRUE(WIFEXITED(status)) << "not killed by SIGPIPE";
  EXPECT_EQ(WEXITSTATUS(status), 74);
  EXPECT_NE(ReadText(report).find(",ok,"), std::string::npos) << ReadText(report);
}

TEST(CliCsv, WhatTheReportWritesThePlanReaderReadsBackAndNoCellIsAFormula) {
  const std::vector<std::string> cells = {"a,b", "say \"hi\"", "line\rend", "", "plain", ""};
  std::vector<std::string> back;
  ASSERT_TRUE(SplitCsvLine(CsvLine(cells), &back));
  EXPECT_EQ(back, cells);
  for (const char* formula : {"=1+1", "+1", "-1", "@SUM(A1)"}) {
    ASSERT_TRUE(SplitCsvLine(CsvLine({formula}), &back));
    EXPECT_EQ(back[0], std::string("'") + formula);
  }
}

TEST(CliGangParts, APartyThatLeavesReleasesThoseWaitingAndTheBlockFitsTheScreen) {
  CPhaseGate gate(3);
  std::thread first([&] { gate.Arrive(); });
  std::thread second([&] { gate.Arrive(); });
  gate.Leave();  // the third party ends early: the two are released
  first.join();
  second.join();

  std::ostringstream err;
  std::vector<std::string> ports;
  for (int k = 0; k < 10; ++k) ports.push_back("COM" + std::to_string(k + 3));
  {
    CGangProgress progress([&err](const std::string& text) { err << text; }, true, false, 6, ports);
    for (size_t k = 0; k < ports.size(); ++k) {
      CEventPlace at;
      at.m_nSlot = k;
      progress.OnStep({at, EPhase::Programming, 1, "opening the link"});
    }
    progress.Stop();
  }
  // Each frame: at most the five lines that fit below the screen's top, the last one a sum.
  const std::string text = err.str();
  const size_t last = text.rfind("\x1b[5F");
  const std::string frame = last == std::string::npos ? text : text.substr(last);
  EXPECT_LE(std::count(frame.begin(), frame.end(), '\n'), 5) << frame;
  EXPECT_NE(frame.find("more ports"), std::string::npos) << frame;
  EXPECT_EQ(text.find("\x1b[10F"), std::string::npos) << "never up past the screen";
}

}  // namespace

namespace {

// The doctor names what stands in the way on each port: who holds it, nothing answering, the
// module's address, and for a device the user may not open, the group to join.
TEST(CliDoctor, SaysWhoHoldsAPortWhatIsSilentAndWhatAnswers) {
  CCliRig rig;
  ASSERT_TRUE(rig.Start({{}, {"--silent"}, {"--address", "00:00:00:00:00:03"}}));
  const int holder = open(rig.Path(0).c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(holder, 0);
  ASSERT_EQ(flock(holder, LOCK_EX | LOCK_NB), 0);
  EXPECT_EQ(rig.Run({"doctor"}), 0) << rig.m_strErr;
  std::stringstream lines(rig.m_strOut);
  std::string held, silent, answers;
  std::getline(lines, held);
  std::getline(lines, silent);
  std::getline(lines, answers);
  EXPECT_NE(held.find("held by another program"), std::string::npos) << held;
  EXPECT_NE(held.find("pid " + std::to_string(getpid())), std::string::npos) << held;
  EXPECT_NE(silent.find("nothing answers the probe"), std::string::npos) << silent;
  EXPECT_NE(answers.find("address is 00:00:00:00:00:03"), std::string::npos) << answers;

  // Where the failure happens, the message names the reason and the doctor.
  EXPECT_EQ(rig.Run({"read", "--port", "COM3"}), 1);
  EXPECT_NE(rig.m_strErr.find("busy"), std::string::npos) << rig.m_strErr;
  EXPECT_NE(rig.m_strErr.find("corvane doctor --port COM3"), std::string::npos) << rig.m_strErr;
  close(holder);

  const std::string device = rig.File("device");
  WriteText(device, "");
  EXPECT_NE(DescribeNoPermission(device).find("no permission to open " + device + " (owner "),
            std::string::npos);
}

// The advice rests on the node's owner, group and mode and on the user's groups, in the group
// database (the next login) and in the process (this one).
TEST(CliDoctor, AdviceFollowsTheNodesOwnerGroupAndModeAndTheUsersGroups) {
  struct CGroups : CGroupDatabase {
    std::vector<gid_t> m_configured, m_process;
    std::string GroupName(gid_t gid) const override { return gid == 20 ? "dialout" : "root"; }
    std::string UserName(uid_t uid) const override { return uid == 0 ? "root" : "ann"; }
    std::vector<gid_t> ConfiguredGroups() const override { return m_configured; }
    std::vector<gid_t> ProcessGroups() const override { return m_process; }
  };
  const struct {
    uid_t owner;
    gid_t group;
    mode_t mode;
    std::vector<gid_t> configured, process;
    const char* vendor;
    const char* says;
    const char* never;
  } cases[] = {
      {0, 0, 0600, {100}, {100}, "", "Only root can open it", "usermod -aG root"},
      {0, 0, 0660, {100}, {100}, "0403", "ATTRS{idVendor}==\"0403\", ATTRS{idP", "aG root"},
      {0, 20, 0600, {100}, {100}, "", "KERNEL==\"ttyUSB0\", GROUP=\"dialout\"", "-aG root"},
      {0, 20, 0640, {100, 20}, {100, 20}, "", "denies its group dialout writing", "usermod"},
      {0, 20, 0620, {100}, {100}, "", "Then add yourself: sudo usermod -aG dialout", "getfacl"},
      {0, 20, 0660, {100, 20}, {100}, "", "log out and in again (or run newgrp dialout", "usermod"},
      {0, 20, 0660, {100}, {100}, "", "belongs to the group dialout (on Debian", "udev"},
      {0, 20, 0660, {100, 20}, {20}, "", "something else denies it", "usermod"},
      {1000, 20, 0060, {20}, {20}, "", "denies even you, its owner", "usermod"},
  };
  for (const auto& c : cases) {
    CGroups groups;
    groups.m_configured = c.configured;
    groups.m_process = c.process;
    CNodeAccess node;
    node.m_strDevice = "/dev/ttyUSB0";
    node.m_strKernelName = "ttyUSB0";
    node.m_strVendorId = c.vendor;
    node.m_strProductId = *c.vendor ? "6001" : "";
    node.m_owner = c.owner;
    node.m_group = c.group;
    node.m_mode = S_IFCHR | c.mode;
    node.m_user = 1000;
    const std::string advice = AdvisePermission(node, groups);
    EXPECT_NE(advice.find(c.says), std::string::npos) << advice;
    EXPECT_EQ(advice.find(c.never), std::string::npos) << advice;
  }
}

// Runs setpriv with args (the credentials, then the program and its arguments) and returns
// its exit code, with its output and errors in *out.
int RunSetpriv(std::vector<std::string> args, std::string* out) {
  // Everything the child needs is made before the fork: it only redirects and execs.
  args.insert(args.begin(), "setpriv");
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(&arg[0]);
  argv.push_back(nullptr);
  int pipeFds[2];
  if (pipe(pipeFds) != 0) return -1;
  const pid_t child = fork();
  if (child == 0) {
    dup2(pipeFds[1], STDOUT_FILENO);
    dup2(pipeFds[1], STDERR_FILENO);
    close(pipeFds[0]);
    execvp("setpriv", argv.data());
    _exit(127);
  }
  close(pipeFds[1]);
  char buffer[512];
  for (ssize_t n; (n = read(pipeFds[0], buffer, sizeof buffer)) > 0;) out->append(buffer, n);
  close(pipeFds[0]);
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The real program run as a user who may not open the port (a pty made a serial device of the
// dialout group, as udev makes them): the doctor names the permission, the group and the
// remedy, and read ends with the doctor to run. Only root can set this up.
TEST(CliDoctor, AUserWhoMayNotOpenThePortIsToldTheGroupToJoin) {
  if (getuid() != 0) GTEST_SKIP() << "needs root to hand the port to another user";
  const group* dialout = getgrnam("dialout");
  if (dialout == nullptr || getpwnam("nobody") == nullptr) {
    GTEST_SKIP() << "no dialout group or nobody user here";
  }
  CCliRig rig;
  ASSERT_TRUE(rig.Start({{"--address", "00:00:00:00:00:07"}}));
  ASSERT_EQ(chown(rig.Path(0).c_str(), 0, dialout->gr_gid), 0);
  ASSERT_EQ(chmod(rig.Path(0).c_str(), 0660), 0);
  // A copy of the program that nobody may run, whatever the build folder's mode.
  const std::string bin = rig.File("corvane");
  std::filesystem::copy_file(CORVANE_PATH, bin);
  ASSERT_EQ(chmod(rig.Dir().c_str(), 0755), 0);
  ASSERT_EQ(chmod(bin.c_str(), 0755), 0);

  const auto asNobody = [&](std::vector<std::string> args, std::string* out) {
    args.insert(args.begin(), {"--reuid=nobody", "--regid=nogroup", "--clear-groups", bin});
    return RunSetpriv(args, out);
  };
  std::string doctor, readOut;
  EXPECT_EQ(asNobody({"doctor", "--port", rig.Path(0)}, &doctor), 1) << doctor;
  EXPECT_NE(doctor.find("no permission to open " + rig.Path(0)), std::string::npos) << doctor;
  EXPECT_NE(doctor.find("belongs to the group dialout"), std::string::npos) << doctor;
  EXPECT_NE(doctor.find("sudo usermod -aG dialout"), std::string::npos) << doctor;
  EXPECT_NE(doctor.find("log out and in again"), std::string::npos) << doctor;
  EXPECT_EQ(asNobody({"read", "--port", rig.Path(0), "--quiet"}, &readOut), 1) << readOut;
  EXPECT_NE(readOut.find("no permission to open it; run `corvane doctor --port " + rig.Path(0)),
            std::string::npos)
      << readOut;
  EXPECT_TRUE(rig.Untouched(0));
}

// The real program, run as an unprivileged user, on device nodes of its own made beside the
// rig: a node only root may open gets a udev rule, never `usermod -aG root`; a user who has
// the node's group, whose mode denies the group writing, is told so and not to join it.
TEST(CliDoctor, AnUnprivilegedUserIsToldWhatTheNodesOwnerGroupAndModeAllow) {
  if (getuid() != 0) GTEST_SKIP() << "needs root to make device nodes and change user";
  const group* dialout = getgrnam("dialout");
  if (dialout == nullptr || getpwnam("nobody") == nullptr) {
    GTEST_SKIP() << "no dialout group or nobody user here";
  }
  CCliRig rig;
  ASSERT_TRUE(rig.Start({{}}));
  struct stat pty {};
  ASSERT_EQ(stat(rig.Path(0).c_str(), &pty), 0);
  const std::string bin = rig.File("corvane");
  std::filesystem::copy_file(CORVANE_PATH, bin);
  ASSERT_EQ(chmod(rig.Dir().c_str(), 0755), 0);
  ASSERT_EQ(chmod(bin.c_str(), 0755), 0);
  const std::string dialoutGid = std::to_string(dialout->gr_gid);
  const struct {
    gid_t group;
    mode_t mode;
    std::string groups;
    const char* says;
    const char* never;
  } cases[] = {
      {0, 0600, "--clear-groups", "Only root can open it", "usermod -aG root"},
      {dialout->gr_gid, 0640, "--groups=" + dialoutGid, "denies its group dialout writing",
       "usermod"},
  };
  for (const auto& c : cases) {
    // A node of the rig's own pseudo-terminal: whatever opened it would reach only the rig.
    const std::string node = rig.File("ttyCV" + std::to_string(c.mode));
    if (mknod(node.c_str(), S_IFCHR | 0600, pty.st_rdev) != 0) GTEST_SKIP() << "no mknod here";
    ASSERT_EQ(chown(node.c_str(), 0, c.group), 0);
    ASSERT_EQ(chmod(node.c_str(), c.mode), 0);
    std::string out;
    EXPECT_EQ(
        RunSetpriv({"--reuid=nobody", "--regid=nogroup", c.groups, bin, "doctor", "--port", node},
                   &out),
        1)
        << out;
    EXPECT_NE(out.find("no permission to open " + node), std::string::npos) << out;
    EXPECT_NE(out.find(c.says), std::string::npos) << out;
    EXPECT_EQ(out.find(c.never), std::string::npos) << out;
  }
  EXPECT_TRUE(rig.Untouched(0));
}

}  // namespace
