// CSqlConnection: what the ledger's logic needs from a database engine, so that one logic
// (CSqlLedger) runs on SQLite and on PostgreSQL alike. Each engine opens, checks and migrates
// its own schema; the tables and the statements the logic runs are the same on both.
//
// Contract: not thread-safe (CSqlLedger holds the lock). Statements take $1, $2, ... in order;
// every result value comes back as text or absent (NULL). A failed call leaves LastFailure and
// LastError set until the next call.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

struct CSqlParam {
  CSqlParam(std::nullopt_t) {}
  CSqlParam(const char* text) : m_text(text) {}
  CSqlParam(std::string text) : m_text(std::move(text)) {}
  CSqlParam(const std::optional<std::string>& text) : m_text(text) {}
  CSqlParam(long long number) : m_text(std::to_string(number)), m_bNumber(true) {}

  std::optional<std::string> m_text;
  bool m_bNumber = false;
};

using CSqlRow = std::vector<std::optional<std::string>>;
// Takes one row of a result; the row is gone once it returns.
using CSqlRowSink = std::function<void(const CSqlRow& row)>;

// What kind of failure the last call was: a unique constraint refused a row, another process
// or station held a lock too long, or anything else (the server went away, a disk error).
enum class ESqlFailure { None, Unique, Busy, Other };

class CSqlConnection {
 public:
  virtual ~CSqlConnection() = default;

  // One statement; rows (may be null) gets every row of its result.
  virtual bool Run(const std::string& sql, const std::vector<CSqlParam>& params,
                   std::vector<CSqlRow>* rows) = 0;
  // One query whose rows go to sink one at a time as they come, so that a result of any size
  // takes the memory of one row.
  virtual bool Each(const std::string& sql, const std::vector<CSqlParam>& params,
                    const CSqlRowSink& sink) = 0;
  // Begins a transaction that will write: from here on no other writer gets in before the
  // commit or rollback.
  virtual bool BeginWrite() = 0;
  // What follows the counter's SELECT inside a write transaction to hold its row.
  virtual const char* ForUpdate() const = 0;
  // The engine's own check of its storage; *fault gets the first problem found.
  virtual bool CheckStorage(std::string* fault) = 0;

  // The schema's version as the ledger was opened: the current one once it was brought forward,
  // an older one for a ledger opened only to read.
  virtual int SchemaVersion() const = 0;

  virtual ESqlFailure LastFailure() const = 0;
  virtual std::string LastError() const = 0;
};
