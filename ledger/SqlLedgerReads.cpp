// The ledger's reads of the whole record: the export, each module's latest attempt, the counts
// and the check of its own rules. Every read streams or counts in the database, so none holds
// more than a row at a time.
#include "ledger/SqlLedger.h"
#include "ledger/SqlRows.h"

using namespace ledger_sql;

bool CSqlLedger::Export(const CLedgerFilter& filter, const CLedgerAttemptSink& sink,
                        CLedgerError* error) {
  std::lock_guard<std::mutex> lock(m_mutex);
  std::string sql =
      "SELECT " + AttemptColumnsOf(m_pConnection->SchemaVersion()) + " FROM ledger_attempts";
  std::vector<CSqlParam> params;
  if (!filter.m_strSince.empty()) {
    long long since = 0;
    if (!LedgerTimeMs(filter.m_strSince, &since)) {
      error->m_bUnavailable = false;
      error->m_strText = "ledger " + m_strLocation + ": \"" + filter.m_strSince +
                         "\" is not a UTC time such as 2025-05-20T10:00:00Z";
      return false;
    }
    // The ledger writes every time in one form of one width, so the instant's text in that
    // form orders as the instant does: "10:00:00Z" becomes "10:00:00.000Z" and takes in
    // "10:00:00.123Z", which the text as given would not.
    params.push_back(LedgerTimeText(since));
    sql += " WHERE time >= $1";
  }
  if (!filter.m_strStation.empty()) {
    params.push_back(filter.m_strStation);
    sql += (params.size() == 1 ? " WHERE" : " AND") + std::string(" station = $") +
           std::to_string(params.size());
  }
  if (!filter.m_strAddress.empty()) {
    params.push_back(filter.m_strAddress);
    sql += (params.size() == 1 ? " WHERE" : " AND") + std::string(" address = $") +
           std::to_string(params.size());
  }
  sql += " ORDER BY id";
  if (m_pConnection->Each(sql, params, [&sink](const CSqlRow& row) { sink(AttemptFrom(row)); }))
    return true;
  return Unavailable(error);
}

bool CSqlLedger::Latest(const CLedgerLatestSink& sink, CLedgerError* error) {
  std::lock_guard<std::mutex> lock(m_mutex);
  const std::string sql =
      "SELECT " + AttemptColumnsOf(m_pConnection->SchemaVersion()) +
      ", c.attempts FROM (SELECT MAX(id) AS last, COUNT(*) AS attempts FROM ledger_attempts "
      "GROUP BY address) c JOIN ledger_attempts a ON a.id = c.last "
      "ORDER BY COALESCE(a.number, -1), a.address";
  constexpr size_t kCount = 21;  // after the attempt's columns
  if (m_pConnection->Each(
          sql, {}, [&sink](const CSqlRow& row) { sink(AttemptFrom(row), Number(row[kCount])); }))
    return true;
  return Unavailable(error);
}

bool CSqlLedger::Stats(CLedgerStats* stats, CLedgerError* error) {
  std::lock_guard<std::mutex> lock(m_mutex);
  std::vector<CSqlRow> rows;
  // Each module's last attempt, by the order attempts were written.
  if (!Run("SELECT COUNT(*), "
           "SUM(CASE WHEN a.result = 'ok' THEN 1 ELSE 0 END), "
           "SUM(CASE WHEN a.result <> 'ok' THEN 1 ELSE 0 END), "
           "SUM(CASE WHEN a.id IS NULL THEN 1 ELSE 0 END), "
           "(SELECT next_number FROM ledger_counter WHERE id = 1) "
           "FROM ledger_modules m LEFT JOIN ledger_attempts a ON a.id = "
           "(SELECT MAX(id) FROM ledger_attempts l WHERE l.address = m.address)",
           {}, &rows, error))
    return false;
  stats->m_nModules = Number(rows[0][0]);
  stats->m_nLastOk = Number(rows[0][1]);
  stats->m_nLastFailed = Number(rows[0][2]);
  stats->m_nNeverTried = Number(rows[0][3]);
  stats->m_nNextNumber = Number(rows[0][4]);
  return StationStats(stats, error);
}

bool CSqlLedger::StationStats(CLedgerStats* stats, CLedgerError* error) {
  std::vector<CSqlRow> rows;
  if (!Run("SELECT station, COUNT(*), SUM(CASE WHEN result = 'ok' THEN 1 ELSE 0 END), "
           "COUNT(DISTINCT CASE WHEN result = 'ok' THEN address END), COUNT(DISTINCT address), "
           "MIN(time), MAX(time) FROM ledger_attempts GROUP BY station ORDER BY station",
           {}, &rows, error))
    return false;
  stats->m_stations.clear();
  for (const CSqlRow& row : rows) {
    CLedgerStationStats station;
    station.m_strStation = Text(row[0]);
    station.m_nAttempts = Number(row[1]);
    station.m_nAttemptsOk = Number(row[2]);
    station.m_nModulesOk = Number(row[3]);
    station.m_nModulesFailed = Number(row[4]) - station.m_nModulesOk;
    station.m_strFirst = Text(row[5]);
    station.m_strLast = Text(row[6]);
    double first = 0, last = 0;
    if (LedgerTimeSeconds(station.m_strFirst, &first) &&
        LedgerTimeSeconds(station.m_strLast, &last) && last - first >= 60)
      station.m_modulesPerHour = station.m_nModulesOk * 3600.0 / (last - first);
    stats->m_stations.push_back(station);
  }
  return true;
}

bool CSqlLedger::CheckIntegrity(CLedgerError* error) {
  std::lock_guard<std::mutex> lock(m_mutex);
  std::string fault;
  if (!m_pConnection->CheckStorage(&fault)) {
    error->m_bUnavailable = true;
    error->m_strText = "ledger " + m_strLocation + ": " + fault;
    return false;
  }
  std::vector<CSqlRow> rows;
  if (!Run("SELECT (SELECT COUNT(*) FROM ledger_counter), "
           "(SELECT next_number FROM ledger_counter WHERE id = 1), "
           "(SELECT MAX(number) FROM ledger_modules), "
           "(SELECT COUNT(*) - COUNT(DISTINCT address) FROM ledger_modules), "
           "(SELECT COUNT(name) - COUNT(DISTINCT name) FROM ledger_modules)",
           {}, &rows, error))
    return false;
  const CSqlRow& r = rows[0];
  std::string problem;
  if (Number(r[0]) != 1) {
    problem = "the counter is missing";
  } else if (r[2] && Number(r[1]) <= Number(r[2])) {
    problem =
        "the counter (" + Text(r[1]) + ") is not above the highest number (" + Text(r[2]) + ")";
  } else if (Number(r[3]) != 0 || Number(r[4]) != 0) {
    problem = "an address or a name is bound twice";
  }
  if (problem.empty()) return true;
  error->m_bUnavailable = true;
  error->m_strText = "ledger " + m_strLocation + ": " + problem;
  return false;
}
