#include "ledger/SqliteConnection.h"

#include <sqlite3.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "ledger/Ledger.h"
#include "ledger/LedgerPath.h"
#include "ledger/SqlLedger.h"

namespace {

// kSteps[v] takes a ledger from schema version v to v + 1.
const char* const kSteps[] = {
    "CREATE TABLE ledger_counter ("
    "  id INTEGER PRIMARY KEY CHECK (id = 1),"
    "  next_number INTEGER NOT NULL CHECK (next_number >= 0));"
    "INSERT INTO ledger_counter (id, next_number) VALUES (1, 1);"
    "CREATE TABLE ledger_modules ("
    "  number INTEGER PRIMARY KEY CHECK (number >= 0),"
    "  address TEXT NOT NULL UNIQUE,"
    "  name TEXT UNIQUE, pin TEXT, role TEXT, peer TEXT,"
    "  bound_at TEXT NOT NULL, station TEXT NOT NULL);"
    "CREATE TABLE ledger_attempts ("
    "  id INTEGER PRIMARY KEY AUTOINCREMENT,"
    "  time TEXT NOT NULL, station TEXT NOT NULL, version TEXT NOT NULL, port TEXT NOT NULL,"
    "  address TEXT NOT NULL, number INTEGER,"
    "  before_name TEXT, before_pin TEXT, before_role TEXT, before_peer TEXT,"
    "  name TEXT, pin TEXT, role TEXT, peer TEXT, verified INTEGER,"
    "  duration_ms INTEGER NOT NULL, result TEXT NOT NULL, message TEXT NOT NULL,"
    "  notes TEXT NOT NULL);"
    "CREATE INDEX ledger_attempts_by_address ON ledger_attempts (address, id);"
    "CREATE INDEX ledger_attempts_by_time ON ledger_attempts (time);",
    // The pace and its fall-back, columns of their own; earlier attempts kept them in the notes
    // ("pace fast", "pace fast\xE2\x86\x92standard").
    "ALTER TABLE ledger_attempts ADD COLUMN pace TEXT NOT NULL DEFAULT 'standard';"
    "ALTER TABLE ledger_attempts ADD COLUMN fell_back INTEGER NOT NULL DEFAULT 0;"
    "UPDATE ledger_attempts SET pace = 'fast', fell_back = CASE WHEN notes LIKE "
    "  '%pace fast\xE2\x86\x92standard%' THEN 1 ELSE 0 END WHERE notes LIKE '%pace fast%';",
};
static_assert(sizeof kSteps / sizeof kSteps[0] == kLedgerSchemaVersion,
              "one migration step per schema version");

// A schema this program cannot read or bring forward; empty for one it can.
std::string VersionProblem(int version) {
  if (version > kLedgerSchemaVersion) {
    return "its schema version " + std::to_string(version) + " is newer than this program knows (" +
           std::to_string(kLedgerSchemaVersion) + "); use a newer corvane";
  }
  if (version < 0) return "its schema version " + std::to_string(version) + " is not a ledger's";
  return std::string();
}

}  // namespace

bool LedgerHasSqlite() {
  return true;
}

CSqliteConnection::~CSqliteConnection() {
  if (m_pDb) sqlite3_close_v2(m_pDb);
}

bool CSqliteConnection::Fail(std::string* error, const std::string& text) {
  *error = text;
  sqlite3_close_v2(m_pDb);
  m_pDb = nullptr;
  return false;
}

bool CSqliteConnection::Open(const std::string& path, ELedgerAccess access, std::string* error) {
  CLedgerPath place(path, access);
  if (!place.Prepare(error)) return false;
  if (OpenAt(path, access, place, error)) return true;
  place.Discard();
  return false;
}

bool CSqliteConnection::OpenAt(const std::string& path, ELedgerAccess access,
                               const CLedgerPath& place, std::string* error) {
  const bool reading = access == ELedgerAccess::Read;
  // Never SQLITE_OPEN_CREATE: a new file was made by CLedgerPath, with its own mode.
  const int flags = (reading ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE) |
                    SQLITE_OPEN_NOFOLLOW | SQLITE_OPEN_NOMUTEX;
  if (sqlite3_open_v2(path.c_str(), &m_pDb, flags, nullptr) != SQLITE_OK) {
    const int err = m_pDb ? sqlite3_system_errno(m_pDb) : 0;
    const std::string why = err     ? SystemErrorText(err)
                            : m_pDb ? sqlite3_errmsg(m_pDb)
                                    : "no memory";
    return Fail(error, "cannot open the file (" + why + ")");
  }
  sqlite3_extended_result_codes(m_pDb, 1);
  sqlite3_busy_timeout(m_pDb, kLedgerBusyMs);
  if (!reading && sqlite3_db_readonly(m_pDb, "main") == 1) {
    return Fail(error, "the file is read-only");
  }
  int version = 0;
  const EContents contents = ReadHeader(&version);
  if (!place.Verify(error)) return Fail(error, *error);
  switch (contents) {
    case EContents::Unreadable:
      if ((m_nLastCode & 0xff) == SQLITE_NOTADB) return Fail(error, "not an SQLite database");
      if (!place.SharedMemoryProblem().empty()) return Fail(error, place.SharedMemoryProblem());
      return Fail(error, "cannot be read: " + m_strLastError);
    case EContents::Foreign:
      return Fail(error, "an SQLite database of another program");
    case EContents::Empty:
      // Reading never sets up a ledger, so an empty file stays what it is.
      if (reading) return Fail(error, "not a ledger (an empty file)");
      break;
    case EContents::Ours:
      break;
  }
  if (!VersionProblem(version).empty()) return Fail(error, VersionProblem(version));
  // An older ledger is read as it stands (its attempts' columns as they were then); only a
  // write brings it forward.
  m_nSchema = version;
  if (reading) return true;
  if (!SwitchToWal()) return Fail(error, "cannot switch to write-ahead logging: " + m_strLastError);
  if (!Run("PRAGMA synchronous = FULL", {}, nullptr)) return Fail(error, m_strLastError);
  if (version < kLedgerSchemaVersion && !Migrate(version, error)) return Fail(error, *error);
  m_nSchema = kLedgerSchemaVersion;
  return true;
}

bool CSqliteConnection::SwitchToWal() {
  // The first switch of a new file needs it alone. SQLite gives up at once, without its busy
  // handler, when another process opening the same new file holds a read lock at that moment
  // (waiting could deadlock both): try again after a pause, up to the busy time-out.
  constexpr int kPauseMs = 20;
  for (int waited = 0;; waited += kPauseMs) {
    std::vector<CSqlRow> mode;
    if (Run("PRAGMA journal_mode = WAL", {}, &mode)) {
      return !mode.empty() && mode[0][0] && *mode[0][0] == "wal";
    }
    if ((m_nLastCode & 0xff) != SQLITE_BUSY || waited >= kLedgerBusyMs) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(kPauseMs));
  }
}

CSqliteConnection::EContents CSqliteConnection::ReadHeader(int* version) {
  // One statement, so one snapshot: read apart, another process's set-up could commit
  // between the reads and show its tables without its application id.
  std::vector<CSqlRow> rows;
  if (!Run("SELECT a.application_id, u.user_version, (SELECT COUNT(*) FROM sqlite_master) "
           "FROM pragma_application_id() a, pragma_user_version() u",
           {}, &rows))
    return EContents::Unreadable;
  const CSqlRow& row = rows[0];
  const long long application = std::strtoll(row[0].value_or("0").c_str(), nullptr, 10);
  *version = static_cast<int>(std::strtol(row[1].value_or("0").c_str(), nullptr, 10));
  if (application == kLedgerSqliteApplicationId) return EContents::Ours;
  if (application == 0 && row[2].value_or("0") == "0") {
    *version = 0;
    return EContents::Empty;
  }
  return EContents::Foreign;
}

// In one write transaction, so that a crash leaves the old version whole and two processes
// opening a new ledger at once create it once.
bool CSqliteConnection::Migrate(int version, std::string* error) {
  if (!BeginWrite()) {
    *error = "cannot lock the file to set it up: " + m_strLastError;
    return false;
  }
  const EContents contents = ReadHeader(&version);
  bool ok = contents == EContents::Empty || contents == EContents::Ours;
  if (!ok) *error = "an SQLite database of another program";
  // Another process may have changed the version since the first look.
  if (ok && !VersionProblem(version).empty()) {
    *error = VersionProblem(version);
    ok = false;
  }
  for (int step = version; ok && step < kLedgerSchemaVersion; ++step) {
    char* message = nullptr;
    if (sqlite3_exec(m_pDb, kSteps[step], nullptr, nullptr, &message) != SQLITE_OK) {
      *error = "cannot bring the schema to version " + std::to_string(step + 1) + ": " +
               (message ? message : "");
      sqlite3_free(message);
      ok = false;
    }
  }
  ok = ok &&
       Run("PRAGMA application_id = " + std::to_string(kLedgerSqliteApplicationId), {}, nullptr) &&
       Run("PRAGMA user_version = " + std::to_string(kLedgerSchemaVersion), {}, nullptr) &&
       Run("COMMIT", {}, nullptr);
  if (ok) return true;
  if (error->empty()) *error = "cannot set up the ledger: " + m_strLastError;
  sqlite3_exec(m_pDb, "ROLLBACK", nullptr, nullptr, nullptr);
  return false;
}

int CSqliteConnection::BindParams(sqlite3_stmt* stmt, const std::vector<CSqlParam>& params) {
  int rc = SQLITE_OK;
  for (size_t i = 0; rc == SQLITE_OK && i < params.size(); ++i) {
    const int index = sqlite3_bind_parameter_index(stmt, ("$" + std::to_string(i + 1)).c_str());
    if (index == 0) continue;
    const CSqlParam& p = params[i];
    if (!p.m_text) {
      rc = sqlite3_bind_null(stmt, index);
    } else if (p.m_bNumber) {
      rc = sqlite3_bind_int64(stmt, index, std::strtoll(p.m_text->c_str(), nullptr, 10));
    } else {
      rc = sqlite3_bind_text(stmt, index, p.m_text->c_str(), static_cast<int>(p.m_text->size()),
                             SQLITE_TRANSIENT);
    }
  }
  return rc;
}

bool CSqliteConnection::Each(const std::string& sql, const std::vector<CSqlParam>& params,
                             const CSqlRowSink& sink) {
  sqlite3_stmt* stmt = nullptr;
  int rc = sqlite3_prepare_v2(m_pDb, sql.c_str(), -1, &stmt, nullptr);
  if (rc == SQLITE_OK) rc = BindParams(stmt, params);
  CSqlRow row;
  while (rc == SQLITE_OK || rc == SQLITE_ROW) {
    rc = sqlite3_step(stmt);
    if (rc != SQLITE_ROW) continue;
    row.clear();
    for (int c = 0; c < sqlite3_column_count(stmt); ++c) {
      const unsigned char* text = sqlite3_column_text(stmt, c);
      if (text) {
        row.emplace_back(std::string(reinterpret_cast<const char*>(text),
                                     static_cast<size_t>(sqlite3_column_bytes(stmt, c))));
      } else {
        row.emplace_back(std::nullopt);
      }
    }
    sink(row);
  }
  m_nLastCode = rc == SQLITE_DONE ? SQLITE_OK : sqlite3_extended_errcode(m_pDb);
  m_strLastError = rc == SQLITE_DONE ? "" : sqlite3_errmsg(m_pDb);
  sqlite3_finalize(stmt);
  return rc == SQLITE_DONE;
}

bool CSqliteConnection::Run(const std::string& sql, const std::vector<CSqlParam>& params,
                            std::vector<CSqlRow>* rows) {
  if (rows) rows->clear();
  return Each(sql, params, [rows](const CSqlRow& row) {
    if (rows) rows->push_back(row);
  });
}

bool CSqliteConnection::BeginWrite() {
  // IMMEDIATE takes the write lock at once: a deferred transaction that later wants to write
  // can fail at once with SQLITE_BUSY, without waiting for the busy time-out.
  return Run("BEGIN IMMEDIATE", {}, nullptr);
}

bool CSqliteConnection::CheckStorage(std::string* fault) {
  std::vector<CSqlRow> rows;
  if (!Run("PRAGMA integrity_check", {}, &rows)) {
    *fault = m_strLastError;
    return false;
  }
  if (!rows.empty() && rows[0][0] && *rows[0][0] == "ok") return true;
  *fault = "damaged: " + (rows.empty() ? std::string("no answer") : rows[0][0].value_or(""));
  return false;
}

ESqlFailure CSqliteConnection::LastFailure() const {
  if (m_nLastCode == SQLITE_OK) return ESqlFailure::None;
  if (m_nLastCode == SQLITE_CONSTRAINT_UNIQUE || m_nLastCode == SQLITE_CONSTRAINT_PRIMARYKEY)
    return ESqlFailure::Unique;
  if ((m_nLastCode & 0xff) == SQLITE_BUSY || (m_nLastCode & 0xff) == SQLITE_LOCKED)
    return ESqlFailure::Busy;
  return ESqlFailure::Other;
}
