// The PostgreSQL engine in a build without libpq (the Windows build): every PostgreSQL
// location is refused at open, so such a build still has the SQLite ledger.
#include "ledger/Ledger.h"
#include "ledger/PostgresConnection.h"

bool LedgerHasPostgres() {
  return false;
}

CPostgresConnection::~CPostgresConnection() = default;

bool CPostgresConnection::Open(const std::string&, std::string* error) {
  *error =
      "this build of corvane has no PostgreSQL ledger (the Windows build keeps an SQLite ledger "
      "only): give a file path";
  return false;
}

bool CPostgresConnection::Run(const std::string&, const std::vector<CSqlParam>&,
                              std::vector<CSqlRow>*) {
  return false;
}

bool CPostgresConnection::Each(const std::string&, const std::vector<CSqlParam>&,
                               const CSqlRowSink&) {
  return false;
}

bool CPostgresConnection::BeginWrite() {
  return false;
}

bool CPostgresConnection::CheckStorage(std::string* fault) {
  *fault = "no PostgreSQL in this build";
  return false;
}
