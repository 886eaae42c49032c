// A module swapped for another at the wrong moment, with program and gang reading it first (a
// ledger): whatever writes checks the address read first, a different one is "module changed"
// with both modules recorded, never a success; a read that fails after the address still
// leaves its row; a module that no longer holds what the ledger recorded is a failure.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <sstream>

#include "cli/CliRig.h"

namespace {

using nlohmann::json;

const char kFirst[] = "00:1A:7D:00:00:01";
const char kSecond[] = "00:1A:7D:00:00:02";

std::vector<json> Rows(CCliRig& rig, const std::string& ledger) {
  EXPECT_EQ(rig.Run({"ledger", "export", "--format", "jsonl", "--ledger", ledger}), 0)
      << rig.m_strErr;
  std::vector<json> rows;
  std::istringstream lines(rig.m_strOut);
  for (std::string line; std::getline(lines, line);) {
    if (!line.empty()) rows.push_back(json::parse(line));
  }
  return rows;
}

std::string LedgerFile(CCliRig& rig) {
  rig.File("ledger.db-wal");
  rig.File("ledger.db-shm");
  return rig.File("ledger.db");
}

// modsim counts framed commands over a module's life: a read is 1-6 (open, peer, address,
// name, PIN, role); program then opens (7), checks the address (8), writes the name (9), PIN
// (10), role (11), peer (12) and checks again (13); a verifying read opens at 14.
struct CSwapCase {
  const char* m_pszWhat;
  std::vector<std::string> m_command;
  const char* m_pszSwapAfter;
  // What the first module's row says was written, and what the swapped-in module heard.
  const char* m_pszFirstName;
  const char* m_pszWrites;
};

TEST(CliIdentity, ASwapAtAnyMomentIsModuleChangedAndBothModulesAreRecorded) {
  const std::vector<std::string> program = {"program", "--port", "COM3",    "--pace",
                                            "fast",    "--name", "X-{seq}", "--quiet"};
  const std::vector<std::string> gang = {"gang", "--ports", "COM3",    "--pace",
                                         "fast", "--name",  "X-{seq}", "--quiet"};
  std::vector<std::string> verify = program;
  verify.push_back("--verify");
  std::vector<std::string> gangVerify = gang;
  gangVerify.push_back("--verify");
  const CSwapCase cases[] = {
      // Caught before any write: nothing reaches either module.
      {"program, between the read and the first write", program, "6", nullptr, ""},
      {"gang --verify, between the read and the first write", gangVerify, "6", nullptr, ""},
      // Only the edges are checked: what came after the first check may be either module's.
      {"program, after the name", program, "9", nullptr, "NISE"},
      // Every setting confirmed by the check after the last; the verifying read finds the other.
      {"program --verify, during the verifying read", verify, "13", "X-1", "NISE"},
  };
  for (const CSwapCase& c : cases) {
    SCOPED_TRACE(c.m_pszWhat);
    CCliRig rig;
    ASSERT_TRUE(
        rig.Start({{"--address", kFirst, "--swap-after", c.m_pszSwapAfter, "--swap-to", kSecond}}));
    const std::string ledger = LedgerFile(rig);
    std::vector<std::string> args = c.m_command;
    args.insert(args.end(), {"--ledger", ledger, "--format", "json"});
    EXPECT_EQ(rig.Run(args), 2) << rig.m_strOut << rig.m_strErr;
    EXPECT_NE(rig.m_strOut.find("\"result\":\"module changed\""), std::string::npos)
        << rig.m_strOut;
    EXPECT_EQ(rig.m_strOut.find("\"verified\":true"), std::string::npos) << rig.m_strOut;
    EXPECT_EQ(rig.Writes(0), c.m_pszWrites);

    const std::vector<json> rows = Rows(rig, ledger);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0]["address"], kFirst);
    EXPECT_EQ(rows[0]["result"], "module changed");
    EXPECT_EQ(rows[0]["name"], c.m_pszFirstName ? json(c.m_pszFirstName) : json());
    EXPECT_EQ(rows[1]["address"], kSecond);
    EXPECT_EQ(rows[1]["result"], "module changed");
    EXPECT_EQ(rows[1]["number"], nullptr) << "the module put on was never bound";
  }
}

// The module stops answering after its address: the attempt is still recorded, without a
// number, and the failure counts.
TEST(CliIdentity, AReadThatFailsAfterTheAddressLeavesARow) {
  CCliRig rig;
  ASSERT_TRUE(rig.Start({{"--address", kFirst, "--stop-after", "3"}}));
  const std::string ledger = LedgerFile(rig);
  EXPECT_EQ(rig.Run({"program", "--port", "COM3", "--pace", "fast", "--name", "X-{seq}", "--quiet",
                     "--ledger", ledger}),
            2);
  const std::vector<json> rows = Rows(rig, ledger);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0]["address"], kFirst);
  EXPECT_EQ(rows[0]["result"], "communication error");
  EXPECT_EQ(rows[0]["number"], nullptr);

  // Mended, it is one of the failed ones, and gets its number when first programmed.
  ASSERT_TRUE(rig.Restart(0, {"--address", kFirst}));
  ASSERT_EQ(rig.Run({"gang", "--ports", "COM3", "--pace", "fast", "--name", "X-{seq}", "--quiet",
                     "--ledger", ledger, "--only-failed"}),
            0)
      << rig.m_strErr;
  EXPECT_EQ(rig.State(0).at("name"), "X-1");
}

// Programmed and recorded ok, then changed by other hands: not "already programmed" but a
// failure that says what the module holds and how to program it again.
TEST(CliIdentity, AModuleThatDiffersFromTheLedgerIsAFailureUntilProgrammedAgain) {
  CCliRig rig;
  ASSERT_TRUE(rig.Start({{"--address", kFirst}}));
  const std::string ledger = LedgerFile(rig);
  const std::vector<std::string> run = {"program", "--port",  "COM3",    "--pace",   "fast",
                                        "--name",  "X-{seq}", "--quiet", "--ledger", ledger};
  ASSERT_EQ(rig.Run(run), 0) << rig.m_strErr;
  ASSERT_TRUE(rig.Restart(0, {"--address", kFirst, "--name", "HANDMADE"}));
  EXPECT_EQ(rig.Run(run), 2);
  EXPECT_NE(rig.m_strErr.find("holds name \"HANDMADE\" (recorded \"X-1\")"), std::string::npos)
      << rig.m_strErr;
  EXPECT_NE(rig.m_strErr.find("--again"), std::string::npos) << rig.m_strErr;
  EXPECT_EQ(rig.Writes(0), "") << "nothing sent";
  std::vector<std::string> again = run;
  again.push_back("--again");
  EXPECT_EQ(rig.Run(again), 0) << rig.m_strErr;
  EXPECT_EQ(rig.State(0).at("name"), "X-1");
}

// A module bound without a name, then given one with --again: the name is bound before it is
// written, so another module cannot take it too; and gang --again is recorded as deliberate.
TEST(CliIdentity, ANameGivenOnARerunIsBoundBeforeItIsWritten) {
  CCliRig rig;
  ASSERT_TRUE(rig.Start({{"--address", kFirst}, {"--address", kSecond}}));
  const std::string ledger = LedgerFile(rig);
  const std::vector<std::string> first = {"program", "--port",   "COM3", "--pace", "fast",
                                          "--quiet", "--ledger", ledger, "--pin",  "4321"};
  ASSERT_EQ(rig.Run(first), 0) << rig.m_strErr;
  std::vector<std::string> named = first;
  named.insert(named.end(), {"--again", "--name", "DUP"});
  ASSERT_EQ(rig.Run(named), 0) << rig.m_strErr;
  EXPECT_EQ(rig.Run({"program", "--port", "COM4", "--pace", "fast", "--quiet", "--ledger", ledger,
                     "--name", "DUP"}),
            64);
  EXPECT_NE(rig.m_strErr.find("already held by " + std::string(kFirst)), std::string::npos)
      << rig.m_strErr;
  EXPECT_EQ(rig.Writes(1), "") << "refused before anything was written";

  ASSERT_EQ(rig.Run({"gang", "--ports", "COM3", "--pace", "fast", "--quiet", "--ledger", ledger,
                     "--again"}),
            0)
      << rig.m_strErr;
  const std::vector<json> rows = Rows(rig, ledger);
  ASSERT_FALSE(rows.empty());
  EXPECT_NE(rows.back()["notes"].get<std::string>().find("again"), std::string::npos)
      << rows.back().dump();
}

}  // namespace
