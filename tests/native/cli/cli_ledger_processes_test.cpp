// Real corvane processes on one SQLite ledger: two gangs at once share out numbers and names
// without a gap or a double, and a gang killed outright leaves a ledger that opens cleanly,
// keeps its bindings and lets the next run carry on.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <thread>

#include "cli/CliRig.h"
#include "ledger/Ledger.h"

namespace {

std::vector<std::string> Module(int n) {
  char address[32];
  std::snprintf(address, sizeof address, "00:1A:7D:00:00:%02X", n);
  return {"--address", address};
}

std::string Address(int n) {
  return Module(n)[1];
}

std::string LedgerFile(CCliRig& rig) {
  rig.File("ledger.db-wal");
  rig.File("ledger.db-shm");
  return rig.File("ledger.db");
}

std::unique_ptr<CLedger> Look(const std::string& location) {
  CLedgerError error;
  std::unique_ptr<CLedger> ledger = OpenLedger(location, "test", &error);
  EXPECT_TRUE(ledger) << error.m_strText;
  return ledger;
}

TEST(CliLedgerProcesses, TwoGangsAtOnceOnOneLedgerGiveEveryModuleItsOwnNumberAndName) {
  CCliRig rig;
  std::vector<std::vector<std::string>> modules;
  for (int n = 1; n <= 8; ++n) modules.push_back(Module(n));
  ASSERT_TRUE(rig.Start(modules));
  const std::string ledger = LedgerFile(rig);
  std::vector<pid_t> gangs;
  for (int g = 0; g < 2; ++g) {
    gangs.push_back(
        CCliRig::Spawn({"gang", "--ports", rig.Paths(4 * g, 4), "--ledger", ledger, "--station",
                        g == 0 ? "bench-a" : "bench-b", "--name", "N-{seq:02}", "--quiet"}));
  }
  for (pid_t gang : gangs) {
    int status = 0;
    ASSERT_TRUE(CCliRig::WaitExit(gang, 120, &status));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  }

  auto look = Look(ledger);
  std::set<long long> numbers;
  std::set<std::string> names;
  for (int n = 1; n <= 8; ++n) {
    CLedgerModule module;
    bool found = false;
    CLedgerError error;
    ASSERT_TRUE(look->FindByAddress(Address(n), &found, &module, &error)) << error.m_strText;
    ASSERT_TRUE(found) << Address(n);
    numbers.insert(module.m_nNumber);
    names.insert(module.m_values.m_name.value_or(""));
    EXPECT_EQ(rig.State(n - 1).at("name"), module.m_values.m_name.value_or(""));
    ASSERT_EQ(module.m_attempts.size(), 1u);
    EXPECT_EQ(module.m_attempts[0].m_strStation, n <= 4 ? "bench-a" : "bench-b");
  }
  EXPECT_EQ(numbers, (std::set<long long>{1, 2, 3, 4, 5, 6, 7, 8}));
  EXPECT_EQ(names.size(), 8u);
  CLedgerError error;
  EXPECT_TRUE(look->CheckIntegrity(&error)) << error.m_strText;
}

TEST(CliLedgerProcesses, AGangKilledOutrightLeavesALedgerTheNextRunCarriesOn) {
  CCliRig rig;
  ASSERT_TRUE(rig.Start({Module(1), Module(2), Module(3), Module(4)}));
  const std::string ledger = LedgerFile(rig);
  const std::vector<std::string> gang = {"gang",   "--ledger", ledger,
                                         "--name", "K-{seq}",  "--quiet"};
  std::vector<std::string> spawned = gang;
  spawned.insert(spawned.end(), {"--ports", rig.Paths(0, 4)});
  const pid_t child = CCliRig::Spawn(spawned);
  // Killed while it programs: every module bound, none recorded.
  auto look = Look(ledger);
  CLedgerStats stats;
  CLedgerError error;
  for (int k = 0; k < 600 && stats.m_nModules < 4; ++k) {
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
    ASSERT_TRUE(look->Stats(&stats, &error)) << error.m_strText;
  }
  ASSERT_EQ(stats.m_nModules, 4);
  kill(child, SIGKILL);
  int status = 0;
  waitpid(child, &status, 0);

  look = Look(ledger);
  ASSERT_TRUE(look->CheckIntegrity(&error)) << error.m_strText;
  ASSERT_TRUE(look->Stats(&stats, &error));
  EXPECT_EQ(stats.m_nNeverTried, 4);
  std::map<std::string, long long> bound;
  for (int n = 1; n <= 4; ++n) {
    CLedgerModule module;
    bool found = false;
    ASSERT_TRUE(look->FindByAddress(Address(n), &found, &module, &error));
    bound[Address(n)] = module.m_nNumber;
  }

  // The modules, cut off in the middle of a frame, are switched off and on again.
  for (size_t k = 0; k < 4; ++k) ASSERT_TRUE(rig.Restart(k, Module(static_cast<int>(k) + 1)));
  ASSERT_EQ(rig.Run(gang), 0) << rig.m_strErr;
  ASSERT_TRUE(look->Stats(&stats, &error));
  EXPECT_EQ(stats.m_nModules, 4);
  EXPECT_EQ(stats.m_nLastOk, 4);
  EXPECT_EQ(stats.m_nNextNumber, 5);
  for (int n = 1; n <= 4; ++n) {
    EXPECT_EQ(rig.State(n - 1).at("name"), "K-" + std::to_string(bound[Address(n)]));
  }
}

}  // namespace
