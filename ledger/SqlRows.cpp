#include "ledger/SqlRows.h"

#include <cstdlib>

namespace ledger_sql {

const char* const kModuleColumns = "number, address, name, pin, role, peer, bound_at, station";
const char* const kAttemptColumns =
    "time, station, version, port, address, number, before_name, before_pin, before_role, "
    "before_peer, name, pin, role, peer, verified, duration_ms, result, message, notes, pace, "
    "fell_back";

std::string AttemptColumnsOf(int schema) {
  if (schema >= 2) return kAttemptColumns;
  return "time, station, version, port, address, number, before_name, before_pin, before_role, "
         "before_peer, name, pin, role, peer, verified, duration_ms, result, message, notes, "
         "CASE WHEN notes LIKE '%pace fast%' THEN 'fast' ELSE 'standard' END, "
         "CASE WHEN notes LIKE '%pace fast\xE2\x86\x92standard%' THEN 1 ELSE 0 END";
}

long long Number(const std::optional<std::string>& text) {
  return text ? std::strtoll(text->c_str(), nullptr, 10) : 0;
}

std::string Text(const std::optional<std::string>& text) {
  return text.value_or(std::string());
}

CLedgerValues ValuesAt(const CSqlRow& row, size_t first) {
  CLedgerValues values;
  values.m_name = row[first];
  values.m_pin = row[first + 1];
  values.m_role = row[first + 2];
  values.m_peer = row[first + 3];
  return values;
}

void ModuleFrom(const CSqlRow& row, CLedgerModule* module) {
  module->m_nNumber = Number(row[0]);
  module->m_strAddress = Text(row[1]);
  module->m_values = ValuesAt(row, 2);
  module->m_strBoundAt = Text(row[6]);
  module->m_strBoundBy = Text(row[7]);
  module->m_attempts.clear();
}

CLedgerAttempt AttemptFrom(const CSqlRow& row) {
  CLedgerAttempt attempt;
  attempt.m_strTime = Text(row[0]);
  attempt.m_strStation = Text(row[1]);
  attempt.m_strVersion = Text(row[2]);
  attempt.m_strPort = Text(row[3]);
  attempt.m_strAddress = Text(row[4]);
  if (row[5]) attempt.m_number = Number(row[5]);
  attempt.m_before = ValuesAt(row, 6);
  attempt.m_written = ValuesAt(row, 10);
  if (row[14]) attempt.m_verified = Number(row[14]) != 0;
  attempt.m_nDurationMs = Number(row[15]);
  attempt.m_strResult = Text(row[16]);
  attempt.m_strMessage = Text(row[17]);
  attempt.m_strNotes = Text(row[18]);
  attempt.m_strPace = Text(row[19]);
  attempt.m_bFellBack = Number(row[20]) != 0;
  return attempt;
}

}  // namespace ledger_sql
