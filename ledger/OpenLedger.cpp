#include "ledger/Ledger.h"
#include "ledger/PostgresConnection.h"
#include "ledger/SqlLedger.h"
#include "ledger/SqliteConnection.h"

std::unique_ptr<CLedger> OpenLedger(const std::string& location, const std::string& station,
                                    CLedgerError* error, ELedgerAccess access) {
  const std::string shown = RedactLocation(location);
  error->m_bUnavailable = true;
  error->m_strText.clear();
  if (location.empty()) {
    error->m_strText = "ledger: no location given (a file path or a postgresql:// URL)";
    return nullptr;
  }
  if (station.empty()) {
    error->m_strText = "ledger " + shown + ": no station name given";
    return nullptr;
  }
  if (IsSqliteSpecialName(location)) {
    // SQLite would take these as its own syntax, out of reach of every check of a file.
    error->m_strText = "ledger " + shown +
                       ": SQLite's own names (file: URIs, :memory:) are not ledger locations; "
                       "give the path of a file";
    return nullptr;
  }
  std::string what;
  std::unique_ptr<CSqlConnection> connection;
  if (IsPostgresLocation(location)) {
    auto postgres = std::make_unique<CPostgresConnection>();
    if (access == ELedgerAccess::Read) postgres->SetReadOnly();
    if (postgres->Open(location, &what)) connection = std::move(postgres);
  } else {
    auto sqlite = std::make_unique<CSqliteConnection>();
    if (sqlite->Open(location, access, &what)) connection = std::move(sqlite);
  }
  if (!connection) {
    error->m_strText = "ledger " + shown + ": " + what;
    return nullptr;
  }
  error->m_bUnavailable = false;
  return std::make_unique<CSqlLedger>(std::move(connection), shown, station);
}
