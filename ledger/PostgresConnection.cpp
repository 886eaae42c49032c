#include "ledger/PostgresConnection.h"

#include <libpq-fe.h>
#include <poll.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "ledger/Ledger.h"
#include "ledger/LedgerSecrets.h"
#include "ledger/SqlLedger.h"

namespace {

constexpr const char* kApplication = "corvane-ledger";

// kSteps[v] takes a ledger from schema version v to v + 1.
const char* const kSteps[] = {
    "CREATE TABLE ledger_meta (key TEXT PRIMARY KEY, value TEXT NOT NULL);"
    "INSERT INTO ledger_meta (key, value) VALUES ('application', 'corvane-ledger'),"
    "  ('schema_version', '0');"
    "CREATE TABLE ledger_counter ("
    "  id INTEGER PRIMARY KEY CHECK (id = 1),"
    "  next_number BIGINT NOT NULL CHECK (next_number >= 0));"
    "INSERT INTO ledger_counter (id, next_number) VALUES (1, 1);"
    "CREATE TABLE ledger_modules ("
    "  number BIGINT PRIMARY KEY CHECK (number >= 0),"
    "  address TEXT NOT NULL UNIQUE,"
    "  name TEXT UNIQUE, pin TEXT, role TEXT, peer TEXT,"
    "  bound_at TEXT NOT NULL, station TEXT NOT NULL);"
    "CREATE TABLE ledger_attempts ("
    "  id BIGINT GENERATED ALWAYS AS IDENTITY PRIMARY KEY,"
    "  time TEXT NOT NULL, station TEXT NOT NULL, version TEXT NOT NULL, port TEXT NOT NULL,"
    "  address TEXT NOT NULL, number BIGINT,"
    "  before_name TEXT, before_pin TEXT, before_role TEXT, before_peer TEXT,"
    "  name TEXT, pin TEXT, role TEXT, peer TEXT, verified SMALLINT,"
    "  duration_ms BIGINT NOT NULL, result TEXT NOT NULL, message TEXT NOT NULL,"
    "  notes TEXT NOT NULL);"
    "CREATE INDEX ledger_attempts_by_address ON ledger_attempts (address, id);"
    "CREATE INDEX ledger_attempts_by_time ON ledger_attempts (time);",
    // The pace and its fall-back, columns of their own; earlier attempts kept them in the notes
    // ("pace fast", "pace fast\xE2\x86\x92standard").
    "ALTER TABLE ledger_attempts ADD COLUMN pace TEXT NOT NULL DEFAULT 'standard';"
    "ALTER TABLE ledger_attempts ADD COLUMN fell_back SMALLINT NOT NULL DEFAULT 0;"
    "UPDATE ledger_attempts SET pace = 'fast', fell_back = CASE WHEN notes LIKE "
    "  '%pace fast\xE2\x86\x92standard%' THEN 1 ELSE 0 END WHERE notes LIKE '%pace fast%';",
};
static_assert(sizeof kSteps / sizeof kSteps[0] == kLedgerSchemaVersion,
              "one migration step per schema version");

// Any number of stations opening a new database at once: the first sets it up, the others
// wait here and find it done. The lock is the session's, taken before the transaction begins:
// a backend takes in other sessions' catalog changes when a transaction starts, not when an
// advisory lock is granted, so inside one begun earlier it would still not see the tables
// the first station made while it waited.
constexpr const char* kSetupLock = "SELECT pg_advisory_lock(4352564)";
constexpr const char* kSetupUnlock = "SELECT pg_advisory_unlock(4352564)";

using Clock = std::chrono::steady_clock;

Clock::time_point SecondsFromNow(int seconds) {
  return Clock::now() + std::chrono::seconds(seconds);
}

// libpq's messages run over several lines: what failed, then a general hint ("Is the server
// running...?"). The first line is the one that says what happened.
std::string OneLine(const std::string& text) {
  std::string line;
  for (size_t i = 0; i < text.size() && text[i] != '\n'; ++i) {
    const char c = text[i];
    const bool space = c == '\t' || c == '\r' || c == ' ';
    if (space && (line.empty() || line.back() == ' ')) continue;
    line += space ? ' ' : c;
  }
  while (!line.empty() && line.back() == ' ') line.pop_back();
  return line;
}

void IgnoreNotice(void*, const char*) {}

}  // namespace

bool LedgerHasPostgres() {
  return true;
}

CPostgresConnection::~CPostgresConnection() {
  if (m_pConn) PQfinish(m_pConn);
}

bool CPostgresConnection::Open(const std::string& url, std::string* error) {
  if (!Connect(NormalizeScheme(url), error)) return false;
  PQsetNoticeProcessor(m_pConn, IgnoreNotice, nullptr);
  bool exists = false;
  std::string application;
  int version = 0;
  if (!ReadMeta(&exists, &application, &version)) {
    *error = m_strLastError;
    return false;
  }
  if (exists && application == kApplication && version == kLedgerSchemaVersion) return true;
  return m_bReadOnly ? CheckReadable(exists, application, version, error) : Migrate(error);
}

bool CPostgresConnection::Connect(const std::string& url, std::string* error) {
  m_secrets = LocationSecrets(url);
  const std::string connect = std::to_string(kLedgerConnectSeconds);
  const std::string lockTimeout = "-c lock_timeout=" + std::to_string(kLedgerBusyMs);
  // The defaults come before the URL, whose own settings override them. Keepalives and the
  // TCP user time-out notice a station whose server vanished without closing the connection.
  const char* keys[] = {"connect_timeout",  "application_name",
                        "options",          "keepalives",
                        "keepalives_idle",  "keepalives_interval",
                        "keepalives_count", "tcp_user_timeout",
                        "dbname",           nullptr};
  const char* values[] = {
      connect.c_str(), "corvane", lockTimeout.c_str(), "1", "10", "5", "3", "20000",
      url.c_str(),     nullptr};
  m_pConn = PQconnectStartParams(keys, values, 1);
  if (!m_pConn) {
    *error = "out of memory";
    return false;
  }
  // What libpq took for the password, by its own reading of the URL, or from PGPASSWORD.
  int seconds = 0;
  if (PQconninfoOption* options = PQconninfo(m_pConn)) {
    for (PQconninfoOption* o = options; o->keyword; ++o) {
      if (o->val && strcmp(o->keyword, "password") == 0) m_secrets.push_back(o->val);
      if (o->val && strcmp(o->keyword, "connect_timeout") == 0) seconds = std::atoi(o->val);
    }
    PQconninfoFree(options);
  }
  // libpq keeps connect_timeout only in its own blocking connect; here it is ours to keep.
  const Clock::time_point deadline = SecondsFromNow(seconds > 0 ? seconds : kLedgerConnectSeconds);
  PostgresPollingStatusType state =
      PQstatus(m_pConn) == CONNECTION_BAD ? PGRES_POLLING_FAILED : PGRES_POLLING_WRITING;
  while (state != PGRES_POLLING_OK) {
    if (state == PGRES_POLLING_FAILED) {
      *error = Say(PQerrorMessage(m_pConn));
      return false;
    }
    if (!Wait(state == PGRES_POLLING_WRITING ? POLLOUT : POLLIN, deadline)) {
      *error = "no answer from the server within " +
               std::to_string(seconds > 0 ? seconds : kLedgerConnectSeconds) + " s";
      return false;
    }
    state = PQconnectPoll(m_pConn);
  }
  // From here on nothing libpq sends may block: a stopped server stops reading too.
  PQsetnonblocking(m_pConn, 1);
  return true;
}

bool CPostgresConnection::CheckReadable(bool exists, const std::string& application, int version,
                                        std::string* error) {
  if (!exists || application != kApplication) {
    *error = "not a ledger (the database holds no corvane ledger)";
  } else if (version > kLedgerSchemaVersion || version < 1) {
    *error = "its schema version " + std::to_string(version) + " is not one this program knows";
  } else if (!Run("SET SESSION CHARACTERISTICS AS TRANSACTION READ ONLY", {}, nullptr)) {
    *error = m_strLastError;
  } else {
    // An older ledger is read as it stands; only a write brings it forward.
    m_nSchema = version;
    return true;
  }
  return false;
}

bool CPostgresConnection::ReadMeta(bool* exists, std::string* application, int* version) {
  std::vector<CSqlRow> rows;
  if (!Run("SELECT to_regclass('ledger_meta') IS NOT NULL", {}, &rows)) return false;
  *exists = rows[0][0].value_or("f") == "t";
  if (!*exists) return true;
  if (!Run("SELECT key, value FROM ledger_meta", {}, &rows)) return false;
  application->clear();
  *version = 0;
  for (const CSqlRow& row : rows) {
    if (row[0].value_or("") == "application") *application = row[1].value_or("");
    if (row[0].value_or("") == "schema_version")
      *version = static_cast<int>(std::strtol(row[1].value_or("0").c_str(), nullptr, 10));
  }
  return true;
}

bool CPostgresConnection::Migrate(std::string* error) {
  if (!Run(kSetupLock, {}, nullptr)) {
    *error = m_strLastError;
    return false;
  }
  const bool ok = MigrateLocked(error);
  Run(kSetupUnlock, {}, nullptr);
  return ok;
}

bool CPostgresConnection::MigrateLocked(std::string* error) {
  bool exists = false;
  std::string application;
  int version = 0;
  if (!Run("BEGIN", {}, nullptr) || !ReadMeta(&exists, &application, &version)) {
    *error = m_strLastError;
  } else if (exists && application != kApplication) {
    *error = "the database holds a ledger_meta table of another program";
  } else if (version > kLedgerSchemaVersion) {
    *error = "its schema version " + std::to_string(version) +
             " is newer than this program knows (" + std::to_string(kLedgerSchemaVersion) +
             "); use a newer corvane";
  } else if (version < 0) {
    *error = "its schema version " + std::to_string(version) + " is not a ledger's";
  } else {
    bool ok = true;
    for (int step = version; ok && step < kLedgerSchemaVersion; ++step) {
      PGresult* result = Exec(kSteps[step], nullptr);
      ok = PQresultStatus(result) == PGRES_COMMAND_OK;
      if (!ok) {
        const char* primary =
            result ? PQresultErrorField(result, PG_DIAG_MESSAGE_PRIMARY) : nullptr;
        *error = "cannot bring the schema to version " + std::to_string(step + 1) + ": " +
                 (m_bSilent ? m_strLastError : Say(primary ? primary : PQerrorMessage(m_pConn)));
      }
      PQclear(result);
    }
    if (ok &&
        Run("UPDATE ledger_meta SET value = $1 WHERE key = 'schema_version'",
            {std::to_string(kLedgerSchemaVersion)}, nullptr) &&
        Run("COMMIT", {}, nullptr)) {
      m_nSchema = kLedgerSchemaVersion;
      return true;
    }
    if (ok) *error = m_strLastError;
  }
  Run("ROLLBACK", {}, nullptr);
  return false;
}

bool CPostgresConnection::Run(const std::string& sql, const std::vector<CSqlParam>& params,
                              std::vector<CSqlRow>* rows) {
  std::vector<const char*> values;
  for (const CSqlParam& p : params) values.push_back(p.m_text ? p.m_text->c_str() : nullptr);
  if (rows) rows->clear();
  PGresult* result = Exec(sql, &values);
  const ExecStatusType status = PQresultStatus(result);
  const bool ok = status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK;
  if (ok) {
    m_eLastFailure = ESqlFailure::None;
    m_strLastError.clear();
    for (int r = 0; rows && r < PQntuples(result); ++r) {
      CSqlRow row;
      for (int c = 0; c < PQnfields(result); ++c) {
        if (PQgetisnull(result, r, c)) {
          row.emplace_back(std::nullopt);
        } else {
          row.emplace_back(std::string(PQgetvalue(result, r, c),
                                       static_cast<size_t>(PQgetlength(result, r, c))));
        }
      }
      rows->push_back(std::move(row));
    }
  } else {
    const char* state = result ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
    const std::string code = state ? state : "";
    if (code == "23505") {
      m_eLastFailure = ESqlFailure::Unique;
    } else if (code == "55P03" || code == "40P01" || code == "40001") {
      m_eLastFailure = ESqlFailure::Busy;
    } else {
      m_eLastFailure = ESqlFailure::Other;
    }
    const char* primary = result ? PQresultErrorField(result, PG_DIAG_MESSAGE_PRIMARY) : nullptr;
    if (!m_bSilent) m_strLastError = Say(primary ? primary : PQerrorMessage(m_pConn));
  }
  PQclear(result);
  return ok;
}

bool CPostgresConnection::Each(const std::string& sql, const std::vector<CSqlParam>& params,
                               const CSqlRowSink& sink) {
  std::vector<const char*> values;
  for (const CSqlParam& p : params) values.push_back(p.m_text ? p.m_text->c_str() : nullptr);
  if (m_bSilent) return false;
  m_eLastFailure = ESqlFailure::None;
  m_strLastError.clear();
  if (!PQsendQueryParams(m_pConn, sql.c_str(), static_cast<int>(values.size()), nullptr,
                         values.data(), nullptr, nullptr, 0) ||
      !PQsetSingleRowMode(m_pConn) || !Flush()) {
    m_eLastFailure = ESqlFailure::Other;
    if (m_strLastError.empty()) m_strLastError = Say(PQerrorMessage(m_pConn));
  }
  // Every result is taken, a failed one too: the connection is ready for the next query only
  // once PQgetResult has said there is no more. Each wait for a row has its deadline.
  CSqlRow row;
  while (PGresult* result = NextResult()) {
    const ExecStatusType status = PQresultStatus(result);
    if (status == PGRES_SINGLE_TUPLE && m_eLastFailure == ESqlFailure::None) {
      row.clear();
      for (int c = 0; c < PQnfields(result); ++c) {
        if (PQgetisnull(result, 0, c)) {
          row.emplace_back(std::nullopt);
        } else {
          row.emplace_back(std::string(PQgetvalue(result, 0, c),
                                       static_cast<size_t>(PQgetlength(result, 0, c))));
        }
      }
      sink(row);
    } else if (status != PGRES_SINGLE_TUPLE && status != PGRES_TUPLES_OK &&
               status != PGRES_COMMAND_OK && m_eLastFailure == ESqlFailure::None) {
      const char* primary = PQresultErrorField(result, PG_DIAG_MESSAGE_PRIMARY);
      m_eLastFailure = ESqlFailure::Other;
      m_strLastError = Say(primary ? primary : PQerrorMessage(m_pConn));
    }
    PQclear(result);
  }
  if (m_bSilent && m_eLastFailure == ESqlFailure::None) m_eLastFailure = ESqlFailure::Other;
  return m_eLastFailure == ESqlFailure::None;
}

PGresult* CPostgresConnection::NextResult() {
  const Clock::time_point deadline = SecondsFromNow(kPostgresAnswerSeconds);
  while (!m_bSilent && PQisBusy(m_pConn) && PQstatus(m_pConn) == CONNECTION_OK) {
    if (!Wait(POLLIN, deadline) || !PQconsumeInput(m_pConn)) break;
  }
  return m_bSilent ? nullptr : PQgetResult(m_pConn);
}

bool CPostgresConnection::BeginWrite() {
  return Run("BEGIN", {}, nullptr);
}

bool CPostgresConnection::CheckStorage(std::string* fault) {
  // The server keeps its own storage whole; what is left to see is that it still answers.
  if (Run("SELECT 1", {}, nullptr)) return true;
  *fault = m_strLastError;
  return false;
}

PGresult* CPostgresConnection::Exec(const std::string& sql,
                                    const std::vector<const char*>* values) {
  if (m_bSilent) return nullptr;
  const int sent = values
                       ? PQsendQueryParams(m_pConn, sql.c_str(), static_cast<int>(values->size()),
                                           nullptr, values->data(), nullptr, nullptr, 0)
                       : PQsendQuery(m_pConn, sql.c_str());
  if (!sent || !Flush()) return nullptr;
  return Collect();
}

bool CPostgresConnection::Flush() {
  Clock::time_point deadline = SecondsFromNow(kPostgresAnswerSeconds);
  for (int left = PQflush(m_pConn); left != 0; left = PQflush(m_pConn)) {
    if (left < 0) return false;
    // The server may be sending while it reads: take that in, or both sides wait forever.
    const short ready = Wait(POLLIN | POLLOUT, deadline);
    if (!ready) return false;
    if ((ready & POLLIN) && !PQconsumeInput(m_pConn)) return false;
    deadline = SecondsFromNow(kPostgresAnswerSeconds);
  }
  return true;
}

PGresult* CPostgresConnection::Collect() {
  PGresult* kept = nullptr;
  for (;;) {
    Clock::time_point deadline = SecondsFromNow(kPostgresAnswerSeconds);
    // A broken connection ends the loop too: PQgetResult then says so without waiting.
    while (!m_bSilent && PQisBusy(m_pConn) && PQstatus(m_pConn) == CONNECTION_OK) {
      if (!Wait(POLLIN, deadline)) break;
      if (!PQconsumeInput(m_pConn)) break;
      deadline = SecondsFromNow(kPostgresAnswerSeconds);
    }
    if (m_bSilent) {
      PQclear(kept);
      return nullptr;
    }
    PGresult* next = PQgetResult(m_pConn);
    if (!next) return kept;
    // As PQexec does: a failed result is kept over what follows it.
    if (kept && PQresultStatus(kept) == PGRES_FATAL_ERROR) {
      PQclear(next);
    } else {
      PQclear(kept);
      kept = next;
    }
  }
}

short CPostgresConnection::Wait(short events, Clock::time_point deadline) {
  int failure = 0;
  for (;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    pollfd watch{PQsocket(m_pConn), events, 0};
    if (watch.fd < 0) return 0;
    if (left <= 0) break;
    const int ready = poll(&watch, 1, static_cast<int>(left) + 1);
    if (ready > 0) return watch.revents;
    if (ready < 0 && errno != EINTR) {
      failure = errno;
      break;
    }
  }
  // A connection not made yet has its own message. One made is given up: going on to
  // PQgetResult would wait without any deadline.
  if (PQstatus(m_pConn) == CONNECTION_OK) {
    m_bSilent = true;
    m_eLastFailure = ESqlFailure::Other;
    m_strLastError = failure ? std::string("cannot wait for the server: ") + strerror(failure)
                             : "the server has given no answer for " +
                                   std::to_string(kPostgresAnswerSeconds) +
                                   " s (stopped, or the network to it is gone)";
  }
  return 0;
}

std::string CPostgresConnection::Say(const char* text) const {
  // Hidden before the line is tidied: a password may hold the spaces tidying would change.
  return OneLine(RedactSecrets(text ? text : "", m_secrets));
}
