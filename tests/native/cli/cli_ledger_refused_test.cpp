// Names and numbers the ledger holds and ledgers that cannot be used, refused before any port
// is opened; a ledger lost in the middle of a run; a ledger this user may only read; --since.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <nlohmann/json.hpp>
#include <regex>
#include <thread>

#include "cli/CliLedgerRig.h"

namespace {

using namespace cli_ledger;

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

  const std::string negative = LedgerFile(rig, "negative.db");
  ASSERT_TRUE(Look(negative));
  ASSERT_TRUE(Sql(negative, "PRAGMA user_version = -1"));
  // Places where another user could plant, rewrite or replace the ledger.
  const std::string link = LedgerFile(rig, "link.db"), target = LedgerFile(rig, "target.db");
  ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);
  const std::string writable = LedgerFile(rig, "open.db");
  ASSERT_TRUE(Look(writable));
  ASSERT_EQ(chmod(writable.c_str(), 0666), 0);
  rig.Folder("shared", 0777);
  const std::string shared = LedgerFile(rig, "shared/ledger.db");
  rig.Folder("tmp", 01777);
  const std::string planted = LedgerFile(rig, "tmp/ledger.db");
  ASSERT_TRUE(Look(planted));

  std::vector<std::pair<std::string, std::string>> ledgers = {
      {rig.Dir() + "/line-3/ledger.db", "does not exist"},
      {rig.Dir(), "folder"},
      {text, "not an SQLite database"},
      {foreign, "another program"},
      {newer, "newer"},
      {negative, "schema version -1"},
      {readOnly, "read-only"},
      {"postgresql://station@/ledger?host=" + rig.Dir() + "/no-server", "ledger postgresql://"},
      {link, "is a link"},
      {writable, "anyone may write the file (mode 0666)"},
      {shared, "has no sticky bit"},
      {"file:" + LedgerFile(rig, "uri.db"), "SQLite's own names"},
      {":memory:", "SQLite's own names"},
  };
  // Only root can hand a file to another user; the rest of the table holds for anyone.
  if (geteuid() == 0 && chown(planted.c_str(), 65534, 65534) == 0)
    ledgers.push_back({planted, "belongs to another user (uid 65534)"});
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
  // A refused place gets no file, and nothing is made through the link.
  struct stat st;
  for (const std::string& made :
       {target, shared, shared + "-wal", writable + "-shm", newer + "-wal"})
    EXPECT_NE(lstat(made.c_str(), &st), 0) << made;
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
      std::regex_search(csv, std::regex("COM4,00:1A:7D:00:00:02,.*,ok,standard,false,[0-9.]+,2\r")))
      << csv;
  auto look = Look(ledger);
  EXPECT_EQ(Find(*look, kA1).m_nNumber, 1) << "the bindings were made before";
  EXPECT_TRUE(Find(*look, kA1).m_attempts.empty());
}

// show, export and stats of a ledger that this user may only read, in a folder this user may
// not write: as another user when the tests run as root.
TEST(CliLedger, ALedgerThatMayOnlyBeReadIsReadWhileAStationHasItOpenAndSaysWhyWhenNot) {
  CCliRig rig;
  ASSERT_EQ(chmod(rig.Dir().c_str(), 0755), 0);
  const std::string folder = rig.Folder("line", 0755);
  const std::string ledger = LedgerFile(rig, "line/ledger.db");
  const std::string out = rig.File("out"), err = rig.File("err");
  // A new ledger keeps others out; this one is opened to them, and SQLite gives the -shm file
  // the ledger's mode when the station opens it.
  ASSERT_TRUE(Look(ledger));
  ASSERT_EQ(chmod(ledger.c_str(), 0644), 0);
  std::unique_ptr<CLedger> station = Look(ledger);
  ASSERT_TRUE(station);
  CLedgerAttempt attempt;
  attempt.m_strAddress = "001A7D000001";
  attempt.m_strResult = kLedgerResultOk;
  CLedgerError error;
  ASSERT_TRUE(station->RecordAttempt(attempt, &error)) << error.m_strText;
  ASSERT_EQ(chmod(ledger.c_str(), 0444), 0);
  ASSERT_EQ(chmod(folder.c_str(), 0555), 0);
  const std::vector<std::string> asOther =
      geteuid() == 0 ? std::vector<std::string>{"/usr/bin/setpriv", "--reuid=65534",
                                                "--regid=65534", "--clear-groups", "--"}
                     : std::vector<std::string>{};
  const auto run = [&](std::vector<std::string> args) {
    args.insert(args.end(), {"--ledger", ledger});
    const int outFd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int errFd = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int status = -1;
    EXPECT_TRUE(CCliRig::WaitExit(CCliRig::Spawn(args, outFd, errFd, asOther), 30, &status));
    close(outFd);
    close(errFd);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  };

  EXPECT_EQ(run({"ledger", "export", "--format", "csv"}), 0) << ReadText(err);
  EXPECT_NE(ReadText(out).find(",001A7D000001,,"), std::string::npos) << ReadText(out);
  EXPECT_EQ(run({"ledger", "show"}), 0) << ReadText(err);
  EXPECT_NE(ReadText(out).find("001A7D000001"), std::string::npos) << ReadText(out);
  EXPECT_EQ(run({"ledger", "stats", "--format", "json"}), 0) << ReadText(err);
  EXPECT_EQ(nlohmann::json::parse(ReadText(out))["stations"][0]["attempts"], 1);

  // Once the last station has closed it, SQLite needs a -shm file no one is there to provide.
  station.reset();
  EXPECT_EQ(run({"ledger", "stats"}), 4);
  EXPECT_NE(ReadText(err).find("needs a -shm file"), std::string::npos) << ReadText(err);
  EXPECT_EQ(ReadText(err).find("readonly"), std::string::npos) << ReadText(err);
  EXPECT_EQ(ReadText(err).find('\n'), ReadText(err).size() - 1) << ReadText(err);
  chmod(folder.c_str(), 0755);
}

// --since names an instant: attempts at or after it, whatever their milliseconds.
TEST(CliLedger, ExportSinceIsAnInstantAndNoRealDateIsRefused) {
  CCliRig rig;
  ASSERT_TRUE(rig.Start({}));
  const std::string ledger = LedgerFile(rig);
  {
    auto look = Look(ledger);
    ASSERT_TRUE(look);
    for (const char* time :
         {"2026-12-10T09:59:59.999Z", "2026-12-10T10:00:00.000Z", "2026-12-10T10:00:00.123Z"}) {
      CLedgerAttempt attempt;
      attempt.m_strTime = time;
      attempt.m_strAddress = "001A7D000001";
      attempt.m_strResult = kLedgerResultOk;
      CLedgerError error;
      ASSERT_TRUE(look->RecordAttempt(attempt, &error)) << error.m_strText;
    }
  }
  for (const char* since : {"2026-12-10T10:00:00Z", "2026-12-10T10:00"}) {
    ASSERT_EQ(
        rig.Run({"ledger", "export", "--format", "jsonl", "--ledger", ledger, "--since", since}), 0)
        << rig.m_strErr;
    EXPECT_EQ(rig.m_strOut.find("09:59:59"), std::string::npos) << since;
    EXPECT_NE(rig.m_strOut.find("10:00:00.000Z"), std::string::npos) << since;
    EXPECT_NE(rig.m_strOut.find("10:00:00.123Z"), std::string::npos) << since;
  }
  for (const char* bad : {"2026-13-01", "2026-02-29", "2026-12-10T24:00", "2026-12-10T10:00Zx"}) {
    EXPECT_EQ(rig.Run({"ledger", "export", "--format", "csv", "--ledger", ledger, "--since", bad}),
              64)
        << bad;
    EXPECT_NE(rig.m_strErr.find("not a UTC time"), std::string::npos) << rig.m_strErr;
  }
}

}  // namespace
