// CPostgresConnection: the ledger in a PostgreSQL database through libpq, one ledger for
// several stations on several PCs.
//
// Contract: Open blocks at most kLedgerConnectSeconds to connect (unless the URL sets its own
// connect_timeout) and then as long as another station's set-up of the schema takes. A lock
// held by another station is waited for at most kLedgerBusyMs. Every wait on the server has a
// deadline kept here, not by the server (a stopped server keeps none): a server silent for
// kPostgresAnswerSeconds while an answer is due counts as lost, and every later call fails at
// once. The database is ours when it holds our ledger_meta table naming this program; one
// without it gets our tables. libpq's notices never reach the terminal; its messages reach
// *error and LastError with every password of the URL (and PGPASSWORD's) hidden.
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "ledger/SqlConnection.h"

struct pg_conn;
struct pg_result;

// Longer than the server's own lock time-out (kLedgerBusyMs), after which it answers itself.
constexpr int kPostgresAnswerSeconds = 12;

class CPostgresConnection final : public CSqlConnection {
 public:
  CPostgresConnection() = default;
  ~CPostgresConnection() override;
  CPostgresConnection(const CPostgresConnection&) = delete;
  CPostgresConnection& operator=(const CPostgresConnection&) = delete;

  // Connects to url and brings the schema to the current version. False with what is wrong
  // in *error (one line, without the URL).
  bool Open(const std::string& url, std::string* error);
  // Before Open: the session only reads, and a database without a ledger of the current
  // version is refused rather than set up.
  void SetReadOnly() { m_bReadOnly = true; }

  bool Run(const std::string& sql, const std::vector<CSqlParam>& params,
           std::vector<CSqlRow>* rows) override;
  // libpq's single-row mode: the rows come from the server one at a time, never all at once.
  bool Each(const std::string& sql, const std::vector<CSqlParam>& params,
            const CSqlRowSink& sink) override;
  bool BeginWrite() override;
  const char* ForUpdate() const override { return " FOR UPDATE"; }
  bool CheckStorage(std::string* fault) override;
  int SchemaVersion() const override { return m_nSchema; }
  ESqlFailure LastFailure() const override { return m_eLastFailure; }
  std::string LastError() const override { return m_strLastError; }

 private:
  bool Migrate(std::string* error);
  bool MigrateLocked(std::string* error);
  bool ReadMeta(bool* exists, std::string* application, int* version);
  bool Connect(const std::string& url, std::string* error);
  // Sends one statement (several without parameters when values is null) and waits for all
  // its results: the last one, or the first that failed; null when nothing came back.
  pg_result* Exec(const std::string& sql, const std::vector<const char*>* values);
  pg_result* Collect();
  // The next result of the statement sent, waiting at most the answer time for it; null when
  // there is none or the server has fallen silent.
  pg_result* NextResult();
  bool Flush();
  // Waits until the socket is ready for events, at most until deadline; the ready events, or
  // 0 when the time is up or the socket is gone.
  short Wait(short events, std::chrono::steady_clock::time_point deadline);
  // One line of libpq's text with the secrets hidden.
  std::string Say(const char* text) const;

  pg_conn* m_pConn = nullptr;
  std::vector<std::string> m_secrets;
  bool m_bSilent = false;
  bool CheckReadable(bool exists, const std::string& application, int version, std::string* error);
  bool m_bReadOnly = false;
  int m_nSchema = 0;
  ESqlFailure m_eLastFailure = ESqlFailure::None;
  std::string m_strLastError;
};
