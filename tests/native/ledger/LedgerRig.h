// What the ledger's tests share: a private PostgreSQL server for the whole test program (a
// gtest environment: started before the first test, stopped and removed after the last), one
// backend type per engine that hands each test a fresh ledger location and can tamper with
// it behind the ledger's back, and processes forked to use one ledger at once.
#pragma once

#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ledger/Ledger.h"
#include "tools/pgserver/PrivatePostgres.h"

class CPostgresEnvironment : public testing::Environment {
 public:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(m_server.Start(false, &error)) << error;
  }
  void TearDown() override { m_server.Stop(); }
  CPrivatePostgres m_server;
};

inline CPostgresEnvironment* const g_pPostgres =
    static_cast<CPostgresEnvironment*>(testing::AddGlobalTestEnvironment(new CPostgresEnvironment));

// A folder of the test's own, removed with everything in it. It lies in the server's folder,
// whose guard removes it even when the test program is killed.
class CTempFolder {
 public:
  CTempFolder() {
    const std::string parent =
        g_pPostgres->m_server.Folder().empty() ? "/tmp" : g_pPostgres->m_server.Folder();
    std::string pattern = parent + "/ledger_test.XXXXXX";
    if (mkdtemp(pattern.data())) m_strPath = pattern;
  }
  ~CTempFolder() {
    if (!m_strPath.empty()) std::system(("rm -rf '" + m_strPath + "'").c_str());
  }
  const std::string& Path() const { return m_strPath; }

 private:
  std::string m_strPath;
};

struct CSqliteBackend {
  static constexpr const char* kName = "SQLite";

  std::string NewLocation() {
    return m_folder.Path() + "/ledger" + std::to_string(++m_nNext) + ".db";
  }
  // Runs SQL on the file directly, as another program would.
  static bool Exec(const std::string& location, const std::string& sql) {
    sqlite3* db = nullptr;
    bool ok = sqlite3_open(location.c_str(), &db) == SQLITE_OK &&
              sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_close(db);
    return ok;
  }
  static bool MakeNewer(const std::string& location) {
    return Exec(location, "PRAGMA user_version = 3");
  }
  static bool SetVersion(const std::string& location, int version) {
    return Exec(location, "PRAGMA user_version = " + std::to_string(version));
  }
  // Fills a fresh location with another program's database.
  static bool MakeForeign(const std::string& location) {
    return Exec(location,
                "CREATE TABLE ledger_meta (key TEXT, value TEXT);"
                "INSERT INTO ledger_meta VALUES ('application', 'other')");
  }

  CTempFolder m_folder;
  int m_nNext = 0;
};

struct CPostgresBackend {
  static constexpr const char* kName = "PostgreSQL";

  // A new database on the private server for each location.
  std::string NewLocation() {
    static int next = 0;
    const std::string name = "ledger_" + std::to_string(getpid()) + "_" + std::to_string(++next);
    std::string error;
    EXPECT_TRUE(g_pPostgres->m_server.CreateDatabase(name, &error)) << error;
    return g_pPostgres->m_server.Url(name);
  }
  static std::string Database(const std::string& location) {
    const size_t start = location.find("@/") + 2;
    return location.substr(start, location.find('?') - start);
  }
  static bool Exec(const std::string& location, const std::string& sql) {
    std::string error;
    return g_pPostgres->m_server.Exec(Database(location), sql, &error);
  }
  static bool MakeNewer(const std::string& location) {
    return Exec(location, "UPDATE ledger_meta SET value = '3' WHERE key = 'schema_version'");
  }
  static bool SetVersion(const std::string& location, int version) {
    return Exec(location, "UPDATE ledger_meta SET value = '" + std::to_string(version) +
                              "' WHERE key = 'schema_version'");
  }
  static bool MakeForeign(const std::string& location) {
    return Exec(location,
                "CREATE TABLE ledger_meta (key TEXT, value TEXT);"
                "INSERT INTO ledger_meta VALUES ('application', 'other')");
  }
};

using LedgerBackends = testing::Types<CSqliteBackend, CPostgresBackend>;

class CBackendNames {
 public:
  template <typename T>
  static std::string GetName(int) {
    return T::kName;
  }
};

// Runs body in count forked processes that start together; each one's exit status (0 when
// body returned true, -1 when it did not exit by itself). body runs in the child only and
// must open its own ledger.
inline std::vector<int> RunProcesses(int count, const std::function<bool(int index)>& body) {
  int go[2];
  if (pipe(go) != 0) return {};
  std::vector<pid_t> pids;
  for (int i = 0; i < count; ++i) {
    const pid_t pid = fork();
    if (pid == 0) {
      close(go[1]);
      char byte;
      // Blocks until the parent closes its end: every child then starts at once.
      while (read(go[0], &byte, 1) < 0) {
      }
      _exit(body(i) ? 0 : 1);
    }
    pids.push_back(pid);
  }
  close(go[0]);
  close(go[1]);
  std::vector<int> codes;
  for (pid_t pid : pids) {
    int status = 0;
    waitpid(pid, &status, 0);
    codes.push_back(WIFEXITED(status) ? WEXITSTATUS(status) : -1);
  }
  return codes;
}

// "0000000000" followed by two hex digits of n, and so on: distinct 12-digit addresses.
inline std::string Address(int n) {
  char text[16];
  snprintf(text, sizeof text, "%012X", n);
  return text;
}

// Values that carry the number in the name, as a {seq} template would.
inline CLedgerValuesFor NamedByNumber(const std::string& prefix = "MOD-") {
  return [prefix](long long number, CLedgerValues* values, std::string*) {
    values->m_name = prefix + std::to_string(number);
    values->m_pin = "1234";
    values->m_role = "slave";
    return true;
  };
}
