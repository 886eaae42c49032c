#include "ledger/SqlLedger.h"

#include "ledger/SqlRows.h"

using namespace ledger_sql;

bool CLedgerModule::LastOk() const {
  return !m_attempts.empty() && m_attempts.back().m_strResult == kLedgerResultOk;
}

CSqlLedger::CSqlLedger(std::unique_ptr<CSqlConnection> connection, std::string location,
                       std::string station)
    : m_pConnection(std::move(connection)),
      m_strLocation(std::move(location)),
      m_strStation(std::move(station)) {}

bool CSqlLedger::Run(const std::string& sql, const std::vector<CSqlParam>& params,
                     std::vector<CSqlRow>* rows, CLedgerError* error) {
  if (m_pConnection->Run(sql, params, rows)) return true;
  return Unavailable(error);
}

bool CSqlLedger::Unavailable(CLedgerError* error) {
  error->m_bUnavailable = true;
  if (m_pConnection->LastFailure() == ESqlFailure::Busy) {
    error->m_strText = "ledger " + m_strLocation + ": held too long by another process or " +
                       "station (" + m_pConnection->LastError() + ")";
  } else {
    error->m_strText = "ledger " + m_strLocation + ": " + m_pConnection->LastError();
  }
  return false;
}

bool CSqlLedger::Abort(CLedgerError* error, bool unavailable, const std::string& text) {
  if (unavailable) Unavailable(error);
  if (!m_pConnection->Run("ROLLBACK", {}, nullptr) && !unavailable) return Unavailable(error);
  if (!unavailable) {
    error->m_bUnavailable = false;
    error->m_strText = "ledger " + m_strLocation + ": " + text;
  }
  return false;
}

bool CSqlLedger::SetStart(long long first, CLedgerError* error) {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (first < 0) {
    error->m_bUnavailable = false;
    error->m_strText = "ledger " + m_strLocation + ": the first number cannot be negative";
    return false;
  }
  std::vector<CSqlRow> counter, highest;
  if (!m_pConnection->BeginWrite()) return Unavailable(error);
  if (!m_pConnection->Run(std::string("SELECT next_number FROM ledger_counter WHERE id = 1") +
                              m_pConnection->ForUpdate(),
                          {}, &counter) ||
      !m_pConnection->Run("SELECT MAX(number) FROM ledger_modules", {}, &highest))
    return Abort(error, true, "");
  if (highest[0][0] && Number(highest[0][0]) >= first) {
    return Abort(error, false,
                 "numbers up to " + *highest[0][0] + " are already given, so the counter cannot " +
                     "start at " + std::to_string(first) + " (the next number is " +
                     Text(counter[0][0]) + ")");
  }
  if (!m_pConnection->Run("UPDATE ledger_counter SET next_number = $1 WHERE id = 1", {first},
                          nullptr) ||
      !m_pConnection->Run("COMMIT", {}, nullptr))
    return Abort(error, true, "");
  return true;
}

bool CSqlLedger::NextNumber(long long* next, CLedgerError* error) {
  std::lock_guard<std::mutex> lock(m_mutex);
  std::vector<CSqlRow> rows;
  if (!Run("SELECT next_number FROM ledger_counter WHERE id = 1", {}, &rows, error)) return false;
  *next = Number(rows[0][0]);
  return true;
}

bool CSqlLedger::Bind(const std::string& address, const CLedgerValuesFor& valuesFor,
                      CLedgerModule* module, bool* bound, CLedgerError* error) {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (address.empty()) {
    error->m_bUnavailable = false;
    error->m_strText = "ledger " + m_strLocation + ": a module without an address cannot be bound";
    return false;
  }
  // A module run again is found without the write lock, so re-runs never queue behind the
  // binders of other processes and stations.
  bool found = false;
  if (!FindWhere("address", address, &found, module, error)) return false;
  if (found) {
    *bound = false;
    return true;
  }
  // A unique constraint that fires although the checks inside the transaction passed means a
  // writer that does not take the counter's lock bound the address meanwhile: look again once.
  for (int pass = 0; pass < 2; ++pass) {
    switch (BindOnce(address, valuesFor, module, bound, error)) {
      case EBind::Done:
        return LoadAttempts(address, &module->m_attempts, error);
      case EBind::Refused:
      case EBind::Failed:
        return false;
      case EBind::Retry:
        break;
    }
  }
  error->m_bUnavailable = false;
  error->m_strText = "ledger " + m_strLocation + ": the number or name for " + address +
                     " is already taken by another module";
  return false;
}

bool CSqlLedger::BeginBinding(long long* next) {
  // The counter's row is taken first: binders on every station queue there, so each sees the
  // bindings of those before it.
  std::vector<CSqlRow> counter;
  if (!m_pConnection->BeginWrite()) return false;
  if (!m_pConnection->Run(std::string("SELECT next_number FROM ledger_counter WHERE id = 1") +
                              m_pConnection->ForUpdate(),
                          {}, &counter))
    return false;
  *next = Number(counter[0][0]);
  return true;
}

bool CSqlLedger::EndBinding(long long next, long long first) {
  if (next != first &&
      !m_pConnection->Run("UPDATE ledger_counter SET next_number = $1 WHERE id = 1", {next},
                          nullptr))
    return false;
  return m_pConnection->Run("COMMIT", {}, nullptr);
}

CSqlLedger::EBind CSqlLedger::BindIn(const std::string& address, const CValuesNow& valuesFor,
                                     long long* next, CLedgerModule* module,
                                     ELedgerBinding* outcome, std::string* refusal) {
  std::vector<CSqlRow> existing, holder;
  if (!m_pConnection->Run(
          std::string("SELECT ") + kModuleColumns + " FROM ledger_modules WHERE address = $1",
          {address}, &existing))
    return EBind::Failed;
  if (!existing.empty()) {
    ModuleFrom(existing[0], module);
    *outcome = ELedgerBinding::Found;
    return EBind::Done;
  }
  const long long number = *next;
  CLedgerValues values;
  switch (valuesFor(number, &values, refusal)) {
    case ELedgerValues::Ok:
      break;
    case ELedgerValues::Skip:
      *outcome = ELedgerBinding::Skipped;
      return EBind::Done;
    case ELedgerValues::Refuse:
      return EBind::Refused;
  }
  if (values.m_name) {
    if (!m_pConnection->Run("SELECT address, number FROM ledger_modules WHERE name = $1",
                            {values.m_name}, &holder))
      return EBind::Failed;
    if (!holder.empty()) {
      *refusal = "the name \"" + *values.m_name + "\" is already held by " + Text(holder[0][0]) +
                 " (number " + Text(holder[0][1]) + ")";
      return EBind::Refused;
    }
  }
  const std::string now = LedgerTimeNow();
  if (!m_pConnection->Run(std::string("INSERT INTO ledger_modules (") + kModuleColumns +
                              ") VALUES ($1, $2, $3, $4, $5, $6, $7, $8)",
                          {number, address, values.m_name, values.m_pin, values.m_role,
                           values.m_peer, now, m_strStation},
                          nullptr)) {
    return m_pConnection->LastFailure() == ESqlFailure::Unique ? EBind::Retry : EBind::Failed;
  }
  *next = number + 1;
  module->m_nNumber = number;
  module->m_strAddress = address;
  module->m_values = values;
  module->m_strBoundAt = now;
  module->m_strBoundBy = m_strStation;
  module->m_attempts.clear();
  *outcome = ELedgerBinding::Bound;
  return EBind::Done;
}

CSqlLedger::EBind CSqlLedger::BindOnce(const std::string& address,
                                       const CLedgerValuesFor& valuesFor, CLedgerModule* module,
                                       bool* bound, CLedgerError* error) {
  const CLedgerValuesForEach values = [&valuesFor](size_t, long long number, CLedgerValues* v,
                                                   std::string* why) {
    return valuesFor(number, v, why) ? ELedgerValues::Ok : ELedgerValues::Refuse;
  };
  std::vector<CLedgerModule> modules;
  std::vector<ELedgerBinding> outcomes;
  const EBind result = BindAllOnce({address}, values, &modules, &outcomes, error);
  if (result == EBind::Done) {
    *module = modules[0];
    *bound = outcomes[0] == ELedgerBinding::Bound;
  }
  return result;
}

bool CSqlLedger::BindAll(const std::vector<std::string>& addresses,
                         const CLedgerValuesForEach& valuesFor, std::vector<CLedgerModule>* modules,
                         std::vector<ELedgerBinding>* outcomes, CLedgerError* error) {
  std::lock_guard<std::mutex> lock(m_mutex);
  for (const std::string& address : addresses) {
    if (!address.empty()) continue;
    error->m_bUnavailable = false;
    error->m_strText = "ledger " + m_strLocation + ": a module without an address cannot be bound";
    return false;
  }
  for (int pass = 0; pass < 2; ++pass) {
    switch (BindAllOnce(addresses, valuesFor, modules, outcomes, error)) {
      case EBind::Done:
        return true;
      case EBind::Refused:
      case EBind::Failed:
        return false;
      case EBind::Retry:
        break;
    }
  }
  error->m_bUnavailable = false;
  error->m_strText =
      "ledger " + m_strLocation + ": a number or name was taken by another module meanwhile";
  return false;
}

CSqlLedger::EBind CSqlLedger::BindAllOnce(const std::vector<std::string>& addresses,
                                          const CLedgerValuesForEach& valuesFor,
                                          std::vector<CLedgerModule>* modules,
                                          std::vector<ELedgerBinding>* outcomes,
                                          CLedgerError* error) {
  modules->assign(addresses.size(), CLedgerModule());
  outcomes->assign(addresses.size(), ELedgerBinding::Skipped);
  long long next = 0;
  if (!BeginBinding(&next)) return Abort(error, true, ""), EBind::Failed;
  const long long first = next;
  for (size_t k = 0; k < addresses.size(); ++k) {
    const CValuesNow values = [&valuesFor, k](long long number, CLedgerValues* v,
                                              std::string* why) {
      return valuesFor(k, number, v, why);
    };
    std::string refusal;
    // A name given twice in this call meets the first one's row here, like any other holder.
    const EBind result =
        BindIn(addresses[k], values, &next, &(*modules)[k], &(*outcomes)[k], &refusal);
    if (result == EBind::Refused) return Abort(error, false, refusal), EBind::Refused;
    if (result == EBind::Failed) return Abort(error, true, ""), EBind::Failed;
    if (result == EBind::Retry) {
      if (!m_pConnection->Run("ROLLBACK", {}, nullptr)) return Unavailable(error), EBind::Failed;
      return EBind::Retry;
    }
  }
  if (!EndBinding(next, first)) return Abort(error, true, ""), EBind::Failed;
  return EBind::Done;
}

bool CSqlLedger::BindName(const std::string& address, const std::string& name,
                          CLedgerError* error) {
  std::lock_guard<std::mutex> lock(m_mutex);
  // The counter's row is taken as a binding takes it, so names are given one at a time across
  // processes and stations.
  long long next = 0;
  if (!BeginBinding(&next)) return Abort(error, true, "");
  std::vector<CSqlRow> holder, own;
  if (!m_pConnection->Run("SELECT address FROM ledger_modules WHERE name = $1", {name}, &holder) ||
      !m_pConnection->Run("SELECT name FROM ledger_modules WHERE address = $1", {address}, &own)) {
    return Abort(error, true, "");
  }
  if (!holder.empty() && Text(holder[0][0]) != address) {
    return Abort(error, false,
                 "the name \"" + name + "\" is already held by " + Text(holder[0][0]));
  }
  if (own.empty() || (own[0][0] && Text(own[0][0]) != name)) {
    return Abort(error, false, address + " is not bound, or holds another name");
  }
  if (holder.empty() &&
      !m_pConnection->Run("UPDATE ledger_modules SET name = $1 WHERE address = $2", {name, address},
                          nullptr)) {
    return Abort(error, true, "");
  }
  if (!m_pConnection->Run("COMMIT", {}, nullptr)) return Unavailable(error);
  return true;
}

bool CSqlLedger::NameHolder(const std::string& name, bool* found, std::string* address,
                            long long* number, CLedgerError* error) {
  std::lock_guard<std::mutex> lock(m_mutex);
  std::vector<CSqlRow> rows;
  if (!Run("SELECT address, number FROM ledger_modules WHERE name = $1", {name}, &rows, error))
    return false;
  *found = !rows.empty();
  if (*found) {
    *address = Text(rows[0][0]);
    *number = Number(rows[0][1]);
  }
  return true;
}

bool CSqlLedger::FindByAddress(const std::string& address, bool* found, CLedgerModule* module,
                               CLedgerError* error) {
  std::lock_guard<std::mutex> lock(m_mutex);
  return FindWhere("address", address, found, module, error);
}

bool CSqlLedger::FindByName(const std::string& name, bool* found, CLedgerModule* module,
                            CLedgerError* error) {
  std::lock_guard<std::mutex> lock(m_mutex);
  return FindWhere("name", name, found, module, error);
}

bool CSqlLedger::FindWhere(const char* column, const std::string& key, bool* found,
                           CLedgerModule* module, CLedgerError* error) {
  std::vector<CSqlRow> rows;
  if (!Run(std::string("SELECT ") + kModuleColumns + " FROM ledger_modules WHERE " + column +
               " = $1",
           {key}, &rows, error))
    return false;
  *found = !rows.empty();
  if (!*found) return true;
  ModuleFrom(rows[0], module);
  return LoadAttempts(module->m_strAddress, &module->m_attempts, error);
}

bool CSqlLedger::LoadAttempts(const std::string& address, std::vector<CLedgerAttempt>* attempts,
                              CLedgerError* error) {
  std::vector<CSqlRow> rows;
  if (!Run("SELECT " + AttemptColumnsOf(m_pConnection->SchemaVersion()) +
               " FROM ledger_attempts WHERE address = $1 ORDER BY id",
           {address}, &rows, error))
    return false;
  attempts->clear();
  for (const CSqlRow& row : rows) attempts->push_back(AttemptFrom(row));
  return true;
}

bool CSqlLedger::RecordAttempt(const CLedgerAttempt& a, CLedgerError* error) {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (a.m_strAddress.empty()) {
    error->m_bUnavailable = false;
    error->m_strText = "ledger " + m_strLocation + ": an attempt without a module address";
    return false;
  }
  std::optional<std::string> verified;
  if (a.m_verified) verified = *a.m_verified ? "1" : "0";
  return Run(std::string("INSERT INTO ledger_attempts (") + kAttemptColumns +
                 ") VALUES ($1, $2, $3, $4, $5, "
                 "(SELECT number FROM ledger_modules WHERE address = $5), "
                 "$6, $7, $8, $9, $10, $11, $12, $13, $14, $15, $16, $17, $18, $19, $20)",
             {a.m_strTime.empty() ? LedgerTimeNow() : a.m_strTime,
              a.m_strStation.empty() ? m_strStation : a.m_strStation,
              a.m_strVersion,
              a.m_strPort,
              a.m_strAddress,
              a.m_before.m_name,
              a.m_before.m_pin,
              a.m_before.m_role,
              a.m_before.m_peer,
              a.m_written.m_name,
              a.m_written.m_pin,
              a.m_written.m_role,
              a.m_written.m_peer,
              verified ? CSqlParam(Number(verified)) : CSqlParam(std::nullopt),
              a.m_nDurationMs,
              a.m_strResult,
              a.m_strMessage,
              a.m_strNotes,
              a.m_strPace,
              a.m_bFellBack ? 1LL : 0LL},
             nullptr, error);
}
