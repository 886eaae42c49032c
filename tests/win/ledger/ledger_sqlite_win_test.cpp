// The SQLite ledger of the Windows build: Windows paths, the file checks made through Win32,
// write-ahead logging on Windows file locking, and PostgreSQL locations refused.
#include <windows.h>

#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "ledger/Ledger.h"

namespace {

class LedgerWindows : public testing::Test {
 protected:
  void SetUp() override {
    char temp[MAX_PATH];
    ASSERT_GT(GetTempPathA(MAX_PATH, temp), 0u);
    m_strFolder = std::string(temp) + "ledger_test_" + std::to_string(GetCurrentProcessId());
    ASSERT_TRUE(CreateDirectoryA(m_strFolder.c_str(), nullptr));
  }
  void TearDown() override {
    for (const char* name : {"\\ledger.db", "\\ledger.db-wal", "\\ledger.db-shm", "\\plan.csv"}) {
      const std::string path = m_strFolder + name;
      SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
      DeleteFileA(path.c_str());
    }
    RemoveDirectoryA(m_strFolder.c_str());
  }
  std::string Path(const char* name) const { return m_strFolder + "\\" + name; }
  static void ExpectRefused(const std::string& location, const std::string& what) {
    CLedgerError error;
    EXPECT_FALSE(OpenLedger(location, "bench-1", &error));
    EXPECT_TRUE(error.m_bUnavailable);
    EXPECT_EQ(error.m_strText.rfind("ledger " + location + ": ", 0), 0u) << error.m_strText;
    EXPECT_NE(error.m_strText.find(what), std::string::npos) << error.m_strText;
  }

  std::string m_strFolder;
};

CLedgerValuesFor Named() {
  return [](long long number, CLedgerValues* values, std::string*) {
    values->m_name = "WIN-" + std::to_string(number);
    return true;
  };
}

}  // namespace

TEST_F(LedgerWindows, NumbersAreKeptAcrossReopeningAndWorkerThreadsGetDistinctOnes) {
  CLedgerError error;
  {
    auto ledger = OpenLedger(Path("ledger.db"), "bench-1", &error);
    ASSERT_TRUE(ledger) << error.m_strText;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
      threads.emplace_back([&, t] {
        for (int i = 0; i < 5; ++i) {
          CLedgerModule module;
          CLedgerError failure;
          bool bound = false;
          EXPECT_TRUE(ledger->Bind(std::to_string(t * 100 + i), Named(), &module, &bound, &failure))
              << failure.m_strText;
        }
      });
    }
    for (auto& thread : threads) thread.join();
  }
  auto ledger = OpenLedger(Path("ledger.db"), "bench-2", &error);
  ASSERT_TRUE(ledger) << error.m_strText;
  EXPECT_TRUE(ledger->CheckIntegrity(&error)) << error.m_strText;
  CLedgerStats stats;
  ASSERT_TRUE(ledger->Stats(&stats, &error));
  EXPECT_EQ(stats.m_nModules, 20);
  EXPECT_EQ(stats.m_nNextNumber, 21);
  CLedgerModule module;
  bool found = false;
  ASSERT_TRUE(ledger->FindByAddress("302", &found, &module, &error));
  ASSERT_TRUE(found);
  EXPECT_EQ(module.m_values.m_name, "WIN-" + std::to_string(module.m_nNumber));
}

TEST_F(LedgerWindows, BadLocationsAreRefused) {
  ExpectRefused(Path("no-such-folder\\ledger.db"),
                "the folder " + Path("no-such-folder") + " does not exist");
  ExpectRefused(m_strFolder, "is a folder");
  std::ofstream(Path("plan.csv")) << "address,name\n";
  ExpectRefused(Path("plan.csv"), "not an SQLite database");
  ExpectRefused("postgresql://station@db.line/ledger", "no PostgreSQL ledger");

  CLedgerError error;
  ASSERT_TRUE(OpenLedger(Path("ledger.db"), "bench-1", &error)) << error.m_strText;
  ASSERT_TRUE(SetFileAttributesA(Path("ledger.db").c_str(), FILE_ATTRIBUTE_READONLY));
  ExpectRefused(Path("ledger.db"), "read-only");
}
