// CPostgresConnection: the ledger in a PostgreSQL database through libpq, one ledger for
// several stations on several PCs.
//
// Contract: Open blocks at most kLedgerConnectSeconds to connect (unless the URL sets its own
// connect_timeout) and then as long as another station's set-up of the schema takes. A lock
// held by another station is waited for at most kLedgerBusyMs. The database is ours when it
// holds our ledger_meta table naming this program; one without it gets our tables. libpq's
// notices never reach the terminal.
#pragma once

#include <string>

#include "ledger/SqlConnection.h"

struct pg_conn;

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
  ESqlFailure LastFailure() const override { return m_eLastFailure; }
  std::string LastError() const override { return m_strLastError; }

 private:
  bool Migrate(std::string* error);
  bool MigrateLocked(std::string* error);
  bool ReadMeta(bool* exists, std::string* application, int* version);
  bool CheckReadable(bool exists, const std::string& application, int version, std::string* error);

  pg_conn* m_pConn = nullptr;
  bool m_bReadOnly = false;
  ESqlFailure m_eLastFailure = ESqlFailure::None;
  std::string m_strLastError;
};
