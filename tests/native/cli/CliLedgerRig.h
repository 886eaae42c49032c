// What the command line's ledger tests share: modsims with their own addresses, a ledger
// file in the rig's folder, and the ledger as another program sees it.
#pragma once

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "cli/CliRig.h"
#include "ledger/Ledger.h"

namespace cli_ledger {

inline std::vector<std::string> Module(const std::string& address,
                                       std::vector<std::string> more = {}) {
  std::vector<std::string> args = {"--address", address};
  args.insert(args.end(), more.begin(), more.end());
  return args;
}

inline std::vector<std::string> With(std::vector<std::string> args,
                                     const std::vector<std::string>& more) {
  args.insert(args.end(), more.begin(), more.end());
  return args;
}

inline std::string ReadText(const std::string& path) {
  std::ifstream file(path);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

// A ledger file in the rig's folder, removed with it (and SQLite's files beside it).
inline std::string LedgerFile(CCliRig& rig, const std::string& name = "ledger.db") {
  rig.File(name + "-wal");
  rig.File(name + "-shm");
  return rig.File(name);
}

// The ledger as another program sees it.
inline std::unique_ptr<CLedger> Look(const std::string& location) {
  CLedgerError error;
  std::unique_ptr<CLedger> ledger = OpenLedger(location, "test", &error);
  EXPECT_TRUE(ledger) << error.m_strText;
  return ledger;
}

inline CLedgerModule Find(CLedger& ledger, const std::string& address) {
  CLedgerModule module;
  bool found = false;
  CLedgerError error;
  EXPECT_TRUE(ledger.FindByAddress(address, &found, &module, &error)) << error.m_strText;
  if (!found) module.m_nNumber = -1;
  return module;
}

inline bool Sql(const std::string& location, const std::string& sql) {
  sqlite3* db = nullptr;
  const bool ok = sqlite3_open(location.c_str(), &db) == SQLITE_OK &&
                  sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
  sqlite3_close(db);
  return ok;
}

inline const std::vector<std::string> kNamed = {"--name", "N-{seq:02}", "--quiet"};
inline const char kA1[] = "00:1A:7D:00:00:01";
inline const char kA2[] = "00:1A:7D:00:00:02";
inline const char kA3[] = "00:1A:7D:00:00:03";

}  // namespace cli_ledger
