// The dashboard's questions in SQL both engines run alike: times are text of one form and one
// width ("2025-05-20T10:11:12.345Z"), so a span is a range on the time index and an hour is the
// text's first 13 characters.
#include <algorithm>
#include <cctype>

#include "ledger/SqlLedger.h"
#include "ledger/SqlRows.h"

using namespace ledger_sql;

namespace {

// LIKE's own characters in text matched literally (with ESCAPE '!'), inside %...%.
std::string Contains(const std::string& text) {
  std::string pattern = "%";
  for (char c : text) {
    if (c == '%' || c == '_' || c == '!') pattern += '!';
    pattern += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return pattern + "%";
}

bool AllDigits(const std::string& text) {
  return !text.empty() && text.size() <= 18 && std::all_of(text.begin(), text.end(), [](char c) {
    return std::isdigit(static_cast<unsigned char>(c)) != 0;
  });
}

// " WHERE" before the first condition, " AND" before the others.
void Where(std::string* sql, const std::vector<CSqlParam>& params, const std::string& condition) {
  *sql += (params.size() == 1 ? " WHERE " : " AND ") + condition + std::to_string(params.size());
}

}  // namespace

CLedgerQueries& CSqlLedger::Queries() {
  return *this;
}

bool CSqlLedger::TimeParam(const std::string& text, std::vector<CSqlParam>* params,
                           CLedgerError* error) {
  long long ms = 0;
  if (LedgerTimeMs(text, &ms)) {
    params->push_back(LedgerTimeText(ms));
    return true;
  }
  error->m_bUnavailable = false;
  error->m_strText = "ledger " + m_strLocation + ": \"" + text +
                     "\" is not a UTC time such as 2025-05-20T10:00:00Z";
  return false;
}

bool CSqlLedger::SpanWhere(const CLedgerSpan& span, std::string* sql,
                           std::vector<CSqlParam>* params, CLedgerError* error) {
  if (!span.m_strSince.empty()) {
    if (!TimeParam(span.m_strSince, params, error)) return false;
    Where(sql, *params, "time >= $");
  }
  if (!span.m_strUntil.empty()) {
    if (!TimeParam(span.m_strUntil, params, error)) return false;
    Where(sql, *params, "time < $");
  }
  return true;
}

bool CSqlLedger::HourlyOk(const CLedgerSpan& span, std::vector<CLedgerHourCount>* counts,
                          CLedgerError* error) {
  std::lock_guard<std::mutex> lock(m_mutex);
  counts->clear();
  std::string where;
  std::vector<CSqlParam> params;
  if (!SpanWhere(span, &where, &params, error)) return false;
  params.push_back(kLedgerResultOk);
  Where(&where, params, "result = $");
  const std::string sql =
      "SELECT SUBSTR(time, 1, 13) AS hour, station, COUNT(DISTINCT address) "
      "FROM ledger_attempts" +
      where + " GROUP BY SUBSTR(time, 1, 13), station ORDER BY hour, station";
  if (m_pConnection->Each(sql, params, [counts](const CSqlRow& row) {
        counts->push_back({Text(row[1]), Text(row[0]), Number(row[2])});
      }))
    return true;
  return Unavailable(error);
}

bool CSqlLedger::YieldByStation(const CLedgerSpan& span, std::vector<CLedgerYield>* yields,
                                CLedgerError* error) {
  std::lock_guard<std::mutex> lock(m_mutex);
  yields->clear();
  std::string where;
  std::vector<CSqlParam> params;
  if (!SpanWhere(span, &where, &params, error)) return false;
  const std::string sql =
      "SELECT station, COUNT(DISTINCT CASE WHEN result = 'ok' THEN address END), "
      "COUNT(DISTINCT address), COUNT(*) FROM ledger_attempts" +
      where + " GROUP BY station ORDER BY station";
  if (m_pConnection->Each(sql, params, [yields](const CSqlRow& row) {
        const long long ok = Number(row[1]);
        yields->push_back({Text(row[0]), ok, Number(row[2]) - ok, Number(row[3])});
      }))
    return true;
  return Unavailable(error);
}

bool CSqlLedger::LatestAttempts(const CLedgerAttemptQuery& query,
                                std::vector<CLedgerAttemptRow>* rows, CLedgerError* error) {
  std::lock_guard<std::mutex> lock(m_mutex);
  rows->clear();
  std::string sql =
      "SELECT " + AttemptColumnsOf(m_pConnection->SchemaVersion()) + ", id FROM ledger_attempts";
  std::vector<CSqlParam> params;
  if (!query.m_strSince.empty()) {
    if (!TimeParam(query.m_strSince, &params, error)) return false;
    Where(&sql, params, "time >= $");
  }
  if (!query.m_strStation.empty()) {
    params.push_back(query.m_strStation);
    Where(&sql, params, "station = $");
  }
  if (query.m_strResult == "failed") {
    params.push_back(kLedgerResultOk);
    Where(&sql, params, "result <> $");
  } else if (!query.m_strResult.empty()) {
    params.push_back(query.m_strResult);
    Where(&sql, params, "result = $");
  }
  if (query.m_nBefore > 0) {
    params.push_back(query.m_nBefore);
    Where(&sql, params, "id < $");
  }
  const int limit = std::clamp(query.m_nLimit, 1, kLedgerQueryMaxRows);
  params.push_back(static_cast<long long>(limit));
  sql += " ORDER BY id DESC LIMIT $" + std::to_string(params.size());
  if (m_pConnection->Each(sql, params, [rows](const CSqlRow& row) {
        rows->push_back({Number(row[kAttemptColumnCount]), AttemptFrom(row)});
      }))
    return true;
  return Unavailable(error);
}

bool CSqlLedger::Search(const std::string& text, int limit, std::vector<CLedgerFound>* found,
                        CLedgerError* error) {
  std::lock_guard<std::mutex> lock(m_mutex);
  found->clear();
  // A number matches only as a whole; text that is not one binds -1, which no module has.
  const long long number = AllDigits(text) ? std::stoll(text) : -1;
  const std::vector<CSqlParam> params = {
      Contains(text), number, static_cast<long long>(std::clamp(limit, 1, kLedgerQueryMaxRows))};
  // Bound modules, then addresses tried but never bound (their attempts carry no number).
  const std::string sql =
      "SELECT number, address, name, "
      "(SELECT result FROM ledger_attempts a WHERE a.address = f.address ORDER BY id DESC LIMIT "
      "1), "
      "(SELECT time FROM ledger_attempts a WHERE a.address = f.address ORDER BY id DESC LIMIT 1) "
      "FROM (SELECT number, address, name FROM ledger_modules "
      "WHERE LOWER(address) LIKE $1 ESCAPE '!' OR LOWER(name) LIKE $1 ESCAPE '!' OR number = $2 "
      "UNION SELECT DISTINCT number, address, CAST(NULL AS TEXT) FROM ledger_attempts "
      "WHERE number IS NULL AND LOWER(address) LIKE $1 ESCAPE '!' "
      "AND address NOT IN (SELECT address FROM ledger_modules)) f "
      "ORDER BY COALESCE(number, 9223372036854775807), address LIMIT $3";
  if (m_pConnection->Each(sql, params, [found](const CSqlRow& row) {
        found->push_back(
            {row[0] ? Number(row[0]) : -1, Text(row[1]), Text(row[2]), Text(row[3]), Text(row[4])});
      }))
    return true;
  return Unavailable(error);
}
