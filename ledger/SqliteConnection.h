// CSqliteConnection: the ledger in one SQLite file, shared by any number of processes on one
// PC: write-ahead logging, synchronous=FULL (a committed binding survives a power cut), and a
// busy time-out of kLedgerBusyMs for another process's write transaction.
//
// Contract: Open blocks at most the busy time-out. The file is ours when its header carries
// our application id; an empty or new file becomes ours. Anything else is refused before a
// byte of it is changed.
#pragma once

#include <string>

#include "ledger/SqlConnection.h"

struct sqlite3;

class CSqliteConnection final : public CSqlConnection {
 public:
  CSqliteConnection() = default;
  ~CSqliteConnection() override;
  CSqliteConnection(const CSqliteConnection&) = delete;
  CSqliteConnection& operator=(const CSqliteConnection&) = delete;

  // Opens or creates the ledger file and brings its schema to the current version. False
  // with what is wrong in *error (one line, without the path).
  bool Open(const std::string& path, std::string* error);

  bool Run(const std::string& sql, const std::vector<CSqlParam>& params,
           std::vector<CSqlRow>* rows) override;
  bool BeginWrite() override;
  const char* ForUpdate() const override { return ""; }
  bool CheckStorage(std::string* fault) override;
  ESqlFailure LastFailure() const override;
  std::string LastError() const override { return m_strLastError; }

 private:
  enum class EContents { Empty, Ours, Foreign, Unreadable };

  EContents ReadHeader(int* version);
  // journal_mode WAL, retried while another opener holds the new file.
  bool SwitchToWal();
  bool Migrate(int version, std::string* error);
  bool Fail(std::string* error, const std::string& text);

  sqlite3* m_pDb = nullptr;
  int m_nLastCode = 0;
  std::string m_strLastError;
};

// Our application id in the file header: "CRVL".
constexpr int kLedgerSqliteApplicationId = 0x4352564C;
