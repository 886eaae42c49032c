// program and gang with a ledger, against modsims with their own addresses: numbers that carry
// on across runs, modules left alone once programmed, a failed module run again with its
// number, two modules with one address, numbers past 32 bits.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <nlohmann/json.hpp>
#include <regex>
#include <thread>

#include "cli/CliLedgerRig.h"

namespace {

using namespace cli_ledger;

TEST(CliLedger, NumbersCarryOnAcrossRunsAndProgrammedModulesAreLeftAlone) {
  CCliRig rig;
  ASSERT_TRUE(rig.Start({Module(kA1), Module(kA2), Module(kA3)}));
  const std::string ledger = LedgerFile(rig);
  ASSERT_EQ(rig.Run(With({"gang", "--ports", "COM3,COM4", "--ledger", ledger}, kNamed)), 0)
      << rig.m_strErr;
  EXPECT_EQ(rig.State(0).at("name"), "N-01");
  EXPECT_EQ(rig.State(1).at("name"), "N-02");

  // The next run numbers the new module after them and leaves the two alone.
  ASSERT_EQ(rig.Run(With({"gang", "--ledger", ledger, "--format", "json"}, kNamed)), 0)
      << rig.m_strErr;
  EXPECT_EQ(rig.State(2).at("name"), "N-03");
  EXPECT_EQ(rig.Writes(0),
            "NIS"
            "E")
      << "one Program only, in the first run";
  const auto modules = nlohmann::json::parse(rig.m_strOut)["modules"];
  EXPECT_EQ(modules[0]["result"], "already programmed");
  EXPECT_EQ(modules[1]["result"], "already programmed");
  EXPECT_EQ(modules[2]["result"], "ok");
  EXPECT_EQ(modules[0]["number"], 1) << "the report carries the ledger's numbers";
  EXPECT_EQ(modules[2]["number"], 3);

  auto look = Look(ledger);
  const CLedgerModule first = Find(*look, kA1);
  EXPECT_EQ(first.m_nNumber, 1);
  EXPECT_EQ(first.m_values.m_name, "N-01");
  ASSERT_EQ(first.m_attempts.size(), 1u);
  const CLedgerAttempt& attempt = first.m_attempts[0];
  EXPECT_EQ(attempt.m_strPort, "COM3");
  EXPECT_EQ(attempt.m_strVersion, "corvane 1.2.0");
  EXPECT_EQ(attempt.m_strResult, "ok");
  EXPECT_EQ(attempt.m_before.m_name, "CORVANE-BT");
  EXPECT_EQ(attempt.m_written.m_name, "N-01");
  EXPECT_EQ(attempt.m_written.m_pin, "1234");
  EXPECT_GT(attempt.m_nDurationMs, 1000);
  EXPECT_EQ(Find(*look, kA3).m_nNumber, 3);
  EXPECT_EQ(Find(*look, kA3).m_attempts.size(), 1u);
}

TEST(CliLedger, AFailedModuleGetsItsNumberBackAndOnlyFailedOrAgainChooseWhatIsProgrammed) {
  CCliRig rig;
  // The second module falls silent after its Read (6 commands) and the Program's open, address
  // check and name.
  ASSERT_TRUE(rig.Start({Module(kA1), Module(kA2, {"--stop-after", "9"}), Module(kA3)}));
  const std::string ledger = LedgerFile(rig);
  EXPECT_EQ(rig.Run(With({"gang", "--ports", "COM3,COM4", "--ledger", ledger}, kNamed)), 2);
  {
    auto look = Look(ledger);
    const CLedgerModule failed = Find(*look, kA2);
    EXPECT_EQ(failed.m_nNumber, 2);
    ASSERT_EQ(failed.m_attempts.size(), 1u);
    EXPECT_EQ(failed.m_attempts[0].m_strResult, "communication error");
    EXPECT_EQ(failed.m_attempts[0].m_written.m_name, "N-02") << "acknowledged before the end";
    EXPECT_FALSE(failed.m_attempts[0].m_written.m_pin);
  }

  // Mended, it gets its number again; the programmed one and the unknown one are left alone.
  ASSERT_TRUE(rig.Restart(1, Module(kA2, {"--name", "OLD"})));
  ASSERT_EQ(rig.Run({"gang", "--ledger", ledger, "--only-failed", "--name", "X-{seq}"}), 0)
      << rig.m_strErr;
  EXPECT_EQ(rig.State(1).at("name"), "N-02") << "the recorded values, not the new template";
  EXPECT_EQ(rig.Writes(2), "");
  EXPECT_NE(rig.m_strOut.find("already programmed"), std::string::npos) << rig.m_strOut;
  EXPECT_NE(rig.m_strOut.find("not in ledger"), std::string::npos) << rig.m_strOut;
  {
    auto look = Look(ledger);
    EXPECT_EQ(Find(*look, kA2).m_attempts.size(), 2u);
    EXPECT_TRUE(Find(*look, kA2).LastOk());
    EXPECT_EQ(Find(*look, kA3).m_nNumber, -1) << "--only-failed binds no new module";
  }

  // program leaves a programmed module alone, and --again programs it with its recorded values.
  EXPECT_EQ(rig.Run({"program", "--port", "COM3", "--ledger", ledger, "--name", "Z-{seq}"}), 0);
  EXPECT_NE(rig.m_strErr.find("already programmed"), std::string::npos) << rig.m_strErr;
  ASSERT_TRUE(rig.Restart(0, Module(kA1, {"--name", "WIPED"})));
  ASSERT_EQ(
      rig.Run({"program", "--port", "COM3", "--ledger", ledger, "--again", "--format", "json"}), 0)
      << rig.m_strErr;
  EXPECT_EQ(rig.State(0).at("name"), "N-01");
  const auto json = nlohmann::json::parse(rig.m_strOut);
  EXPECT_EQ(json["number"], 1);
  EXPECT_EQ(json["result"], "ok");
  auto look = Look(ledger);
  const CLedgerModule again = Find(*look, kA1);
  ASSERT_EQ(again.m_attempts.size(), 2u);
  EXPECT_EQ(again.m_attempts[1].m_strNotes, "again");
  EXPECT_EQ(again.m_attempts[1].m_before.m_name, "WIPED");
}

TEST(CliLedger, TwoModulesWithOneAddressAreRefusedBeforeAnythingIsBound) {
  CCliRig rig;
  ASSERT_TRUE(rig.Start({Module(kA1), Module(kA2), Module(kA1)}));
  const std::string ledger = LedgerFile(rig);
  EXPECT_EQ(rig.Run(With({"gang", "--ledger", ledger}, kNamed)), 64);
  EXPECT_NE(
      rig.m_strErr.find("COM3 and COM5 hold modules with the same address " + std::string(kA1)),
      std::string::npos)
      << rig.m_strErr;
  EXPECT_EQ(rig.Writes(0) + rig.Writes(1) + rig.Writes(2), "");
  EXPECT_EQ(Find(*Look(ledger), kA2).m_nNumber, -1);
}

// Numbers past 32 bits reach {seq} whole.
TEST(CliLedger, ANumberPast32BitsNamesTheModuleInFull) {
  CCliRig rig;
  ASSERT_TRUE(rig.Start({Module(kA1)}));
  const std::string ledger = LedgerFile(rig);
  CLedgerError error;
  ASSERT_TRUE(Look(ledger)->SetStart(4294967297LL, &error)) << error.m_strText;
  ASSERT_EQ(
      rig.Run({"program", "--port", "COM3", "--ledger", ledger, "--name", "T-{seq}", "--quiet"}), 0)
      << rig.m_strErr;
  EXPECT_EQ(rig.State(0).at("name"), "T-4294967297");
  EXPECT_EQ(Find(*Look(ledger), kA1).m_nNumber, 4294967297LL);
}

}  // namespace
