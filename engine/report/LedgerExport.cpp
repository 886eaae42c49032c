#include "engine/report/LedgerExport.h"

#include <optional>

#include "engine/values/Csv.h"

const std::vector<std::string>& LedgerExportColumns() {
  static const std::vector<std::string> kColumns = {
      "time",       "station",     "version",     "port",    "address", "number", "before_name",
      "before_pin", "before_role", "before_peer", "name",    "pin",     "role",   "peer",
      "verified",   "duration_ms", "result",      "message", "notes",   "pace",   "fell_back"};
  return kColumns;
}

namespace {

// An attempt's cells in the order of the columns; absent values are null.
std::vector<std::optional<std::string>> Cells(const CLedgerAttempt& a) {
  std::optional<std::string> number, verified;
  if (a.m_number) number = std::to_string(*a.m_number);
  if (a.m_verified) verified = *a.m_verified ? "true" : "false";
  return {a.m_strTime,
          a.m_strStation,
          a.m_strVersion,
          a.m_strPort,
          a.m_strAddress,
          number,
          a.m_before.m_name,
          a.m_before.m_pin,
          a.m_before.m_role,
          a.m_before.m_peer,
          a.m_written.m_name,
          a.m_written.m_pin,
          a.m_written.m_role,
          a.m_written.m_peer,
          verified,
          std::to_string(a.m_nDurationMs),
          a.m_strResult,
          a.m_strMessage,
          a.m_strNotes,
          a.m_strPace,
          std::string(a.m_bFellBack ? "true" : "false")};
}

}  // namespace

CJson LedgerAttemptJson(const CLedgerAttempt& attempt) {
  const std::vector<std::optional<std::string>> cells = Cells(attempt);
  CJson json;
  for (size_t k = 0; k < cells.size(); ++k) {
    const std::string& column = LedgerExportColumns()[k];
    if (!cells[k]) {
      json[column] = nullptr;
    } else if (column == "number" || column == "duration_ms") {
      json[column] = std::stoll(*cells[k]);
    } else if (column == "verified" || column == "fell_back") {
      json[column] = *cells[k] == "true";
    } else {
      json[column] = *cells[k];
    }
  }
  return json;
}

std::string LedgerExportCsvHeader() {
  return CsvLine(LedgerExportColumns()) + "\r\n";
}

std::string LedgerExportCsvLine(const CLedgerAttempt& attempt) {
  std::vector<std::string> fields;
  for (const auto& cell : Cells(attempt)) fields.push_back(cell.value_or(""));
  return CsvLine(fields) + "\r\n";
}

std::string LedgerExportJsonLine(const CLedgerAttempt& attempt) {
  return DumpJson(LedgerAttemptJson(attempt)) + "\n";
}
