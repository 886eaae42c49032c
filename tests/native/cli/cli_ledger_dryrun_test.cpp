// Dry runs with a ledger (the numbers shown, nothing bound or recorded), a profile's values
// for a new module, and what the record keeps and the ledger command shows of it.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <nlohmann/json.hpp>
#include <regex>
#include <thread>

#include "cli/CliLedgerRig.h"

namespace {

using namespace cli_ledger;

// A dry run with a ledger shows the numbers the modules would get, and binds none of them.
TEST(CliLedger, ADryRunShowsTheNumbersAndBindsNothing) {
  CCliRig rig;
  ASSERT_TRUE(rig.Start({Module(kA1), Module(kA2), Module(kA3)}));
  const std::string ledger = LedgerFile(rig);
  ASSERT_EQ(rig.Run(With({"gang", "--ports", "COM3", "--ledger", ledger}, kNamed)), 0)
      << rig.m_strErr;
  ASSERT_EQ(rig.Run(With({"gang", "--ledger", ledger, "--dry-run", "--format", "json"}, kNamed)), 0)
      << rig.m_strErr;
  const auto modules = nlohmann::json::parse(rig.m_strOut)["modules"];
  ASSERT_EQ(modules.size(), 3u);
  EXPECT_EQ(modules[0]["result"], "already programmed");
  EXPECT_EQ(modules[0]["number"], 1);
  EXPECT_EQ(modules[1]["number"], 2);
  EXPECT_EQ(modules[1]["changes"]["name"]["new"], "N-02");
  EXPECT_EQ(modules[2]["number"], 3);
  EXPECT_EQ(modules[2]["changes"]["name"]["new"], "N-03");

  // A start the ledger would take shows the numbers from there; one it may refuse is refused.
  ASSERT_EQ(
      rig.Run(With({"gang", "--ports", "COM4", "--ledger", ledger, "--dry-run", "--start", "40"},
                   kNamed)),
      0)
      << rig.m_strErr;
  EXPECT_NE(rig.m_strOut.find("number 40: dry run\n  name: CORVANE-BT -> N-40"), std::string::npos)
      << rig.m_strOut;
  EXPECT_EQ(rig.Run(With({"gang", "--ledger", ledger, "--dry-run", "--start", "1"}, kNamed)), 64);
  EXPECT_NE(rig.m_strErr.find("next number is 2"), std::string::npos) << rig.m_strErr;

  // A ledger file not made yet stays unmade: the dry run shows what an empty ledger would give.
  const std::string fresh = LedgerFile(rig, "fresh.db");
  ASSERT_EQ(rig.Run(With({"gang", "--ledger", fresh, "--dry-run", "--format", "json"}, kNamed)), 0)
      << rig.m_strErr;
  const auto fromEmpty = nlohmann::json::parse(rig.m_strOut)["modules"];
  EXPECT_EQ(fromEmpty[0]["number"], 1);
  EXPECT_EQ(fromEmpty[2]["changes"]["name"]["new"], "N-03");
  struct stat info {};
  EXPECT_NE(stat(fresh.c_str(), &info), 0) << "no ledger file made by a dry run";

  EXPECT_EQ(rig.Writes(1) + rig.Writes(2), "");
  auto look = Look(ledger);
  long long next = 0;
  CLedgerError error;
  ASSERT_TRUE(look->NextNumber(&next, &error));
  EXPECT_EQ(next, 2) << "no number bound, the counter where it was";
  EXPECT_EQ(Find(*look, kA2).m_nNumber, -1);
}

TEST(CliLedger, ADryRunShowsTheNumberAndChangesNothingAndAProfileGivesANewModuleItsValues) {
  CCliRig rig;
  ASSERT_TRUE(rig.Start({Module(kA1), Module(kA2)}));
  const std::string ledger = LedgerFile(rig);
  const std::string profile = rig.File("desk.json");
  std::ofstream(profile) << R"({"name": "DESK", "pin": "9999", "role": "master"})"
                         << "\n";

  // Before the first run: the number it would get, and no ledger made for the look.
  ASSERT_EQ(rig.Run({"program", "--port", "COM3", "--ledger", ledger, "--dry-run", "--from",
                     profile, "--name", "N-{seq:02}", "--quiet"}),
            0)
      << rig.m_strErr;
  EXPECT_NE(rig.m_strOut.find("number: would get 1"), std::string::npos) << rig.m_strOut;
  EXPECT_NE(rig.m_strOut.find("name: CORVANE-BT -> N-01"), std::string::npos) << rig.m_strOut;
  EXPECT_NE(rig.m_strOut.find("pin: 1234 -> 9999"), std::string::npos) << rig.m_strOut;
  struct stat st;
  EXPECT_NE(stat(ledger.c_str(), &st), 0) << "a dry run makes no ledger";

  // The profile's values under the options' for a new module, bound with it.
  ASSERT_EQ(rig.Run({"program", "--port", "COM3", "--ledger", ledger, "--from", profile, "--name",
                     "N-{seq:02}", "--quiet"}),
            0)
      << rig.m_strErr;
  EXPECT_EQ(rig.State(0).at("name"), "N-01");
  EXPECT_EQ(rig.State(0).at("pin"), "9999");
  EXPECT_EQ(rig.State(0).at("role"), "master");
  EXPECT_EQ(Find(*Look(ledger), kA1).m_values.m_pin, "9999");

  ASSERT_EQ(rig.Run({"ledger", "export", "--format", "jsonl", "--ledger", ledger}), 0);
  const std::string before = rig.m_strOut;
  EXPECT_EQ(rig.Run({"program", "--port", "COM3", "--ledger", ledger, "--dry-run", "--quiet"}), 0);
  EXPECT_NE(rig.m_strOut.find("number: 1 (bound to this module)"), std::string::npos)
      << rig.m_strOut;
  EXPECT_NE(rig.m_strOut.find("already programmed: nothing would be sent"), std::string::npos)
      << rig.m_strOut;
  ASSERT_EQ(rig.Run({"program", "--port", "COM4", "--ledger", ledger, "--dry-run", "--from",
                     profile, "--name", "N-{seq:02}", "--quiet", "--format", "json"}),
            0)
      << rig.m_strErr;
  const auto json = nlohmann::json::parse(rig.m_strOut);
  EXPECT_EQ(json["number"], 2);
  EXPECT_EQ(json["bound"], false);
  EXPECT_EQ(json["changes"]["name"]["new"], "N-02");
  EXPECT_EQ(json["result"], "dry run");
  // A name the ledger holds for another module: the run would be refused, and so is the look.
  EXPECT_EQ(rig.Run({"program", "--port", "COM4", "--ledger", ledger, "--dry-run", "--name", "N-01",
                     "--quiet"}),
            64);
  EXPECT_NE(rig.m_strErr.find("\"N-01\" is already held by 00:1A:7D:00:00:01 (number 1)"),
            std::string::npos)
      << rig.m_strErr;

  ASSERT_EQ(rig.Run({"ledger", "export", "--format", "jsonl", "--ledger", ledger}), 0);
  EXPECT_EQ(rig.m_strOut, before) << "no attempt recorded by a dry run";
  auto look = Look(ledger);
  long long next = 0;
  CLedgerError error;
  ASSERT_TRUE(look->NextNumber(&next, &error));
  EXPECT_EQ(next, 2) << "no number bound by a dry run";
  EXPECT_EQ(Find(*look, kA2).m_nNumber, -1);
  EXPECT_EQ(rig.Writes(1), "") << "read only";

  // A module the ledger knows keeps its recorded values, whatever another profile says.
  const std::string other = rig.File("other.json");
  std::ofstream(other) << R"({"name": "OTHER", "pin": "1111", "role": "slave"})"
                       << "\n";
  ASSERT_TRUE(rig.Restart(0, Module(kA1, {"--name", "WIPED"})));
  ASSERT_EQ(rig.Run({"program", "--port", "COM3", "--ledger", ledger, "--again", "--from", other,
                     "--quiet"}),
            0)
      << rig.m_strErr;
  EXPECT_EQ(rig.State(0).at("name"), "N-01");
  EXPECT_EQ(rig.State(0).at("pin"), "9999");
}

TEST(CliLedger, PinsCanBeKeptOutOfTheRecord) {
  CCliRig rig;
  ASSERT_TRUE(rig.Start({Module(kA1)}));
  const std::string ledger = LedgerFile(rig);
  ASSERT_EQ(rig.Run({"program", "--ledger", ledger, "--ledger-pins", "omit", "--station", "bench-2",
                     "--pin", "4711", "--quiet", "--pace", "fast", "--format", "json"}),
            0)
      << rig.m_strErr;
  EXPECT_EQ(nlohmann::json::parse(rig.m_strOut)["pace"], "fast");
  EXPECT_EQ(rig.State(0).at("pin"), "4711");
  auto look = Look(ledger);
  const CLedgerModule module = Find(*look, kA1);
  EXPECT_FALSE(module.m_values.m_pin);
  EXPECT_FALSE(module.m_values.m_name) << "a name the module kept is not bound";
  ASSERT_EQ(module.m_attempts.size(), 1u);
  EXPECT_FALSE(module.m_attempts[0].m_before.m_pin);
  EXPECT_FALSE(module.m_attempts[0].m_written.m_pin);
  EXPECT_EQ(module.m_attempts[0].m_strStation, "bench-2");
  EXPECT_EQ(module.m_attempts[0].m_strNotes, "");
  EXPECT_EQ(module.m_attempts[0].m_strPace, "fast");

  // What the record shows through the ledger command.
  EXPECT_EQ(rig.Run({"ledger", "export", "--format", "csv", "--ledger", ledger}), 0);
  EXPECT_EQ(
      rig.m_strOut.substr(0, rig.m_strOut.find('\r')),
      "time,station,version,port,address,number,before_name,before_pin,before_role,"
      "before_peer,name,pin,role,peer,verified,duration_ms,result,message,notes,pace,fell_back");
  EXPECT_NE(rig.m_strOut.find(",bench-2,corvane 1.2.0,COM3,00:1A:7D:00:00:01,1,CORVANE-BT,,"),
            std::string::npos)
      << rig.m_strOut;
  EXPECT_EQ(rig.Run({"ledger", "export", "--format", "jsonl", "--ledger", ledger, "--station",
                     "bench-9"}),
            0);
  EXPECT_EQ(rig.m_strOut, "");
  EXPECT_EQ(rig.Run({"ledger", "show", "001a7d000001", "--ledger", ledger, "--format", "json"}), 0);
  const auto shown = nlohmann::json::parse(rig.m_strOut);
  EXPECT_EQ(shown["number"], 1);
  EXPECT_TRUE(shown["pin"].is_null());
  EXPECT_EQ(shown["attempts"][0]["result"], "ok");
  EXPECT_EQ(rig.Run({"ledger", "stats", "--ledger", ledger, "--format", "json"}), 0);
  EXPECT_EQ(nlohmann::json::parse(rig.m_strOut)["stations"][0]["modules_ok"], 1);
  EXPECT_EQ(rig.Run({"ledger", "show", "NOBODY", "--ledger", ledger}), 1);
  EXPECT_EQ(rig.Run({"ledger", "stats", "--ledger", rig.Dir() + "/typo.db"}), 4);
  struct stat st;
  EXPECT_NE(stat((rig.Dir() + "/typo.db").c_str(), &st), 0) << "reading makes no ledger";
}

}  // namespace
