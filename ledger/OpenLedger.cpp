#include <cctype>
#include <cstring>

#include "ledger/Ledger.h"
#include "ledger/PostgresConnection.h"
#include "ledger/SqlLedger.h"
#include "ledger/SqliteConnection.h"

namespace {

bool StartsWithNoCase(const std::string& text, const char* prefix) {
  size_t i = 0;
  for (; prefix[i]; ++i) {
    if (i >= text.size() ||
        std::tolower(static_cast<unsigned char>(text[i])) != static_cast<unsigned char>(prefix[i]))
      return false;
  }
  return true;
}

}  // namespace

std::string RedactLocation(const std::string& location) {
  const size_t scheme = location.find("://");
  if (scheme == std::string::npos) return location;
  std::string shown = location;
  const size_t start = scheme + 3;
  const size_t end = shown.find_first_of("/?", start);
  const std::string authority = shown.substr(start, end - start);
  const size_t at = authority.rfind('@');
  const size_t colon = authority.find(':');
  if (at != std::string::npos && colon != std::string::npos && colon < at)
    shown = shown.substr(0, start + colon + 1) + "***" + shown.substr(start + at);
  // The password may come as a parameter too: "?user=station&password=...".
  for (size_t key = shown.find("password=", start); key != std::string::npos;
       key = shown.find("password=", key + 1)) {
    if (shown[key - 1] != '?' && shown[key - 1] != '&') continue;
    const size_t value = key + strlen("password=");
    const size_t stop = shown.find('&', value);
    shown = shown.substr(0, value) + "***" + (stop == std::string::npos ? "" : shown.substr(stop));
  }
  return shown;
}

bool IsSqliteSpecialName(const std::string& location) {
  return StartsWithNoCase(location, "file:") || location == ":memory:";
}

bool IsPostgresLocation(const std::string& location) {
  return StartsWithNoCase(location, "postgresql://") || StartsWithNoCase(location, "postgres://");
}

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
