// The PostgreSQL engine in a build without libpq (the Windows build): every PostgreSQL
// location is refused at open, so such a build still has the SQLite ledger.
#include "ledger/PostgresConnection.h"

CPostgresConnection::~CPostgresConnection() = default;

bool CPostgresConnection::Open(const std::string&, std::string* error) {
  *error = "this build has no PostgreSQL ledger; give a file path for an SQLite ledger";
  return false;
}

bool CPostgresConnection::Run(const std::string&, const std::vector<CSqlParam>&,
                              std::vector<CSqlRow>*) {
  return false;
}

bool CPostgresConnection::BeginWrite() {
  return false;
}

bool CPostgresConnection::CheckStorage(std::string* fault) {
  *fault = "no PostgreSQL in this build";
  return false;
}
