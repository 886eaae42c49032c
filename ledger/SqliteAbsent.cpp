// The SQLite engine in a build without SQLite (a Windows build made without
// scripts/build-sqlite-mingw.sh): every ledger file is refused at open, so the command line
// still builds and says plainly that this build keeps no ledger.
#include "ledger/Ledger.h"
#include "ledger/SqliteConnection.h"

bool LedgerHasSqlite() {
  return false;
}

CSqliteConnection::~CSqliteConnection() = default;

bool CSqliteConnection::Open(const std::string&, ELedgerAccess, std::string* error) {
  *error = "this build of corvane has no SQLite ledger";
  return false;
}

bool CSqliteConnection::Run(const std::string&, const std::vector<CSqlParam>&,
                            std::vector<CSqlRow>*) {
  return false;
}

bool CSqliteConnection::Each(const std::string&, const std::vector<CSqlParam>&,
                             const CSqlRowSink&) {
  return false;
}

bool CSqliteConnection::BeginWrite() {
  return false;
}

bool CSqliteConnection::CheckStorage(std::string* fault) {
  *fault = "no SQLite in this build";
  return false;
}

ESqlFailure CSqliteConnection::LastFailure() const {
  return ESqlFailure::Other;
}
