// CSqliteConnection: the ledger in one SQLite file, shared by any number of processes on one
// PC: write-ahead logging, synchronous=FULL (a committed binding survives a power cut), and a
// busy time-out of kLedgerBusyMs for another process's write transaction.
//
// Contract: Open blocks at most the busy time-out. The file is ours when its header carries
// our application id; an empty or new file becomes ours. Anything else is refused before a
// byte of it is changed.
#pragma once

#include <string>

#include "ledger/LedgerPath.h"
#include "ledger/SqlConnection.h"

struct sqlite3;
struct sqlite3_stmt;

class CSqliteConnection final : public CSqlConnection {
 public:
  CSqliteConnection() = default;
  ~CSqliteConnection() override;
  CSqliteConnection(const CSqliteConnection&) = delete;
  CSqliteConnection& operator=(const CSqliteConnection&) = delete;

  // For Write, opens or creates the ledger file and brings its schema to the current
  // version; for Read, opens an existing ledger of the current version read-only and changes
  // nothing (a read-only file and folder do). False with what is wrong in *error (one line,
  // without the path); a file made for a refused open is removed again.
  bool Open(const std::string& path, ELedgerAccess access, std::string* error);
  // Each row of one query to sink, none kept.
  bool Each(const std::string& sql, const std::vector<CSqlParam>& params,
            const CSqlRowSink& sink) override;

  bool Run(const std::string& sql, const std::vector<CSqlParam>& params,
           std::vector<CSqlRow>* rows) override;
  bool BeginWrite() override;
  const char* ForUpdate() const override { return ""; }
  bool CheckStorage(std::string* fault) override;
  int SchemaVersion() const override { return m_nSchema; }
  ESqlFailure LastFailure() const override;
  std::string LastError() const override { return m_strLastError; }

 private:
  enum class EContents { Empty, Ours, Foreign, Unreadable };

  bool OpenAt(const std::string& path, ELedgerAccess access, const CLedgerPath& place,
              std::string* error);
  EContents ReadHeader(int* version);
  int BindParams(sqlite3_stmt* stmt, const std::vector<CSqlParam>& params);
  // journal_mode WAL, retried while another opener holds the new file.
  bool SwitchToWal();
  bool Migrate(int version, std::string* error);
  bool Fail(std::string* error, const std::string& text);

  sqlite3* m_pDb = nullptr;
  int m_nLastCode = 0;
  int m_nSchema = 0;
  std::string m_strLastError;
};

// Our application id in the file header: "CRVL".
constexpr int kLedgerSqliteApplicationId = 0x4352564C;
