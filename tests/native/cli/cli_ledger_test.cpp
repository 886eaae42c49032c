// program and gang with a ledger, against modsims with their own addresses: numbers that carry
// on across runs, modules left alone once programmed, a failed module run again with its
// number, names the ledger holds refused before any write, bad ledgers refused before any
// port is opened, and a ledger lost in the middle of a run.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>
#include <thread>

#include "cli/CliRig.h"
#include "ledger/Ledger.h"

namespace {

std::vector<std::string> Module(const std::string& address, std::vector<std::string> more = {}) {
  std::vector<std::string> args = {"--address", address};
  args.insert(args.end(), more.begin(), more.end());
  return args;
}

std::vector<std::string> With(std::vector<std::string> args, const std::vector<std::string>& more) {
  args.insert(args.end(), more.begin(), more.end());
  return args;
}

std::string ReadText(const std::string& path) {
  std::ifstream file(path);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

// A ledger file in the rig's folder, removed with it (and SQLite's files beside it).
std::string LedgerFile(CCliRig& rig, const std::string& name = "ledger.db") {
  rig.File(name + "-wal");
  rig.File(name + "-shm");
  return rig.File(name);
}

// The ledger as another program sees it.
std::unique_ptr<CLedger> Look(const std::string& location) {
  CLedgerError error;
  std::unique_ptr<CLedger> ledger = OpenLedger(location, "test", &error);
  EXPECT_TRUE(ledger) << error.m_strText;
  return ledger;
}

CLedgerModule Find(CLedger& ledger, const std::string& address) {
  CLedgerModule module;
  bool found = false;
  CLedgerError error;
  EXPECT_TRUE(ledger.FindByAddress(address, &found, &module, &error)) << error.m_strText;
  if (!found) module.m_nNumber = -1;
  return module;
}

bool Sql(const std::string& location, const std::string& sql) {
  sqlite3* db = nullptr;
  const bool ok = sqlite3_open(location.c_str(), &db) == SQLITE_OK &&
                  sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
  sqlite3_close(db);
  return ok;
}

const std::vector<std::string> kNamed = {"--name", "N-{seq:02}", "--quiet"};
const char kA1[] = "00:1A:7D:00:00:01";
const char kA2[] = "00:1A:7D:00:00:02";
const char kA3[] = "00:1A:7D:00:00:03";

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

TEST(CliLedger, NamesAndNumbersTheLedgerHoldsAreRefusedBeforeAnythingIsWritten) {
  CCliRig rig;
  ASSERT_TRUE(rig.Start({Module(kA1), Module(kA2)}));
  const std::string ledger = LedgerFile(rig);
  ASSERT_EQ(rig.Run(With({"gang", "--ports", "COM3", "--ledger", ledger}, kNamed)), 0)
      << rig.m_strErr;

  // A start that would give number 1 again: refused before any port is opened.
  EXPECT_EQ(rig.Run(With({"gang", "--ledger", ledger, "--start", "1"}, kNamed)), 64);
  EXPECT_NE(rig.m_strErr.find("cannot start at 1"), std::string::npos) << rig.m_strErr;
  EXPECT_TRUE(rig.Untouched(1));

  const std::string plan = rig.File("plan.csv");
  std::ofstream(plan) << "address,name\n" << kA2 << ",N-01\n";
  EXPECT_EQ(rig.Run({"gang", "--ledger", ledger, "--plan", plan, "--quiet"}), 64);
  EXPECT_NE(rig.m_strErr.find("holds the name \"N-01\" for 00:1A:7D:00:00:01 (number 1)"),
            std::string::npos)
      << rig.m_strErr;
  EXPECT_EQ(rig.Run({"program", "--port", "COM4", "--ledger", ledger, "--name", "N-01"}), 64);
  EXPECT_NE(rig.m_strErr.find("N-01"), std::string::npos) << rig.m_strErr;
  EXPECT_EQ(rig.Writes(1), "");
  auto look = Look(ledger);
  long long next = 0;
  CLedgerError error;
  ASSERT_TRUE(look->NextNumber(&next, &error));
  EXPECT_EQ(next, 2) << "no number was used by the refused runs";
  EXPECT_EQ(Find(*look, kA2).m_nNumber, -1);
}

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
  // Nor when that empty ledger has no temporary folder to go in: the dry run is refused.
  const char* const tmpdir = getenv("TMPDIR");
  const std::string kept = tmpdir != nullptr ? tmpdir : "";
  setenv("TMPDIR", rig.File("no-such-folder").c_str(), 1);
  EXPECT_EQ(rig.Run(With({"gang", "--ledger", fresh, "--dry-run"}, kNamed)), 4);
  tmpdir != nullptr ? setenv("TMPDIR", kept.c_str(), 1) : unsetenv("TMPDIR");
  EXPECT_NE(rig.m_strErr.find("(check TMPDIR); nothing was created"), std::string::npos)
      << rig.m_strErr;
  EXPECT_NE(stat(fresh.c_str(), &info), 0) << "no ledger file made by a dry run";

  EXPECT_EQ(rig.Writes(1) + rig.Writes(2), "");
  auto look = Look(ledger);
  long long next = 0;
  CLedgerError error;
  ASSERT_TRUE(look->NextNumber(&next, &error));
  EXPECT_EQ(next, 2) << "no number bound, the counter where it was";
  EXPECT_EQ(Find(*look, kA2).m_nNumber, -1);
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

TEST(CliLedger, BadLedgersAreRefusedBeforeAnyPortIsOpened) {
  CCliRig rig;
  ASSERT_TRUE(rig.Start({Module(kA1), Module(kA2)}));
  const std::string text = rig.File("plan.csv");
  std::ofstream(text) << "address,name\n001A7D000001,A\n";
  const std::string foreign = rig.File("photos.db");
  ASSERT_TRUE(Sql(foreign, "CREATE TABLE photos (id INTEGER, path TEXT)"));
  const std::string newer = LedgerFile(rig, "newer.db");
  ASSERT_TRUE(Look(newer));
  ASSERT_TRUE(Sql(newer, "PRAGMA user_version = 99"));
  const std::string readOnly = LedgerFile(rig, "read-only.db");
  ASSERT_TRUE(Look(readOnly));
  ASSERT_EQ(chmod(readOnly.c_str(), 0444), 0);

  const std::vector<std::pair<std::string, std::string>> ledgers = {
      {rig.Dir() + "/line-3/ledger.db", "does not exist"},
      {rig.Dir(), "folder"},
      {text, "not an SQLite database"},
      {foreign, "another program"},
      {newer, "newer"},
      {readOnly, "read-only"},
      {"postgresql://station@/ledger?host=" + rig.Dir() + "/no-server", "ledger postgresql://"},
  };
  for (const auto& [location, what] : ledgers) {
    for (const std::vector<std::string>& run :
         {With({"gang", "--ledger", location}, kNamed),
          std::vector<std::string>{"program", "--ledger", location, "--name", "A"}}) {
      EXPECT_EQ(rig.Run(run), 4) << location;
      EXPECT_EQ(rig.m_strErr.rfind("corvane: ledger ", 0), 0u) << rig.m_strErr;
      EXPECT_NE(rig.m_strErr.find(what), std::string::npos) << rig.m_strErr;
      EXPECT_EQ(rig.m_strErr.find('\n'), rig.m_strErr.size() - 1) << rig.m_strErr;
    }
  }
  // The environment names the ledger when --ledger does not.
  setenv("CORVANE_LEDGER", (rig.Dir() + "/line-3/ledger.db").c_str(), 1);
  EXPECT_EQ(rig.Run(With({"gang"}, kNamed)), 4);
  unsetenv("CORVANE_LEDGER");
  EXPECT_EQ(rig.Run({"gang", "--station", "bench-1"}), 64) << "a station without a ledger";
  EXPECT_EQ(rig.Run({"gang", "--ledger", newer, "--again", "--only-failed"}), 64);
  EXPECT_TRUE(rig.Untouched(0) && rig.Untouched(1));
  chmod(readOnly.c_str(), 0644);
}

TEST(CliLedger, ALedgerLostInTheMiddleOfARunIsNamedAndItsRowsStayInTheReport) {
  CCliRig rig;
  ASSERT_TRUE(rig.Start({Module(kA1), Module(kA2)}));
  const std::string ledger = LedgerFile(rig);
  const std::string report = rig.File("report.csv");
  sqlite3* holder = nullptr;
  std::thread blocker([&] {
    // Once both modules are being programmed, another process takes the ledger and keeps it
    // past the busy time-out.
    for (int k = 0; k < 400; ++k) {
      if (rig.State(0).at("name") == "N-01" && rig.State(1).at("name") == "N-02") break;
      std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    sqlite3_open(ledger.c_str(), &holder);
    sqlite3_exec(holder, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr);
  });
  const int code = rig.Run(With({"gang", "--ledger", ledger, "--report", report}, kNamed));
  blocker.join();
  sqlite3_exec(holder, "ROLLBACK", nullptr, nullptr, nullptr);
  sqlite3_close(holder);

  EXPECT_EQ(code, 4);
  EXPECT_NE(rig.m_strErr.find("held too long"), std::string::npos) << rig.m_strErr;
  EXPECT_NE(rig.m_strErr.find("COM3 (00:1A:7D:00:00:01, ok)"), std::string::npos) << rig.m_strErr;
  EXPECT_NE(rig.m_strErr.find("COM4 (00:1A:7D:00:00:02, ok)"), std::string::npos) << rig.m_strErr;
  EXPECT_NE(rig.m_strErr.find(report), std::string::npos) << rig.m_strErr;
  const std::string csv = ReadText(report);
  EXPECT_NE(csv.find("COM3,00:1A:7D:00:00:01,CORVANE-BT"), std::string::npos) << csv;
  EXPECT_NE(csv.find("COM4,00:1A:7D:00:00:02,CORVANE-BT"), std::string::npos) << csv;
  // The report keeps the numbers the ledger gave, for rows the ledger did not get.
  EXPECT_NE(csv.find(",seconds,number\r\n"), std::string::npos) << csv;
  EXPECT_TRUE(
      std::regex_search(csv, std::regex("COM4,00:1A:7D:00:00:02,.*,ok,standard,[0-9.]+,2\r")))
      << csv;
  auto look = Look(ledger);
  EXPECT_EQ(Find(*look, kA1).m_nNumber, 1) << "the bindings were made before";
  EXPECT_TRUE(Find(*look, kA1).m_attempts.empty());
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
  EXPECT_EQ(module.m_attempts[0].m_strNotes, "pace fast");

  // What the record shows through the ledger command.
  EXPECT_EQ(rig.Run({"ledger", "export", "--format", "csv", "--ledger", ledger}), 0);
  EXPECT_EQ(rig.m_strOut.substr(0, rig.m_strOut.find('\r')),
            "time,station,version,port,address,number,before_name,before_pin,before_role,"
            "before_peer,name,pin,role,peer,verified,duration_ms,result,message,notes");
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
