// CPrivatePostgres: a PostgreSQL server of its own for tests and benchmarks, from the
// machine's PostgreSQL binaries (Debian's postgresql package): initdb and pg_ctl in a new
// temporary folder, listening on a Unix socket in that folder and on a free TCP port of
// 127.0.0.1, run as the postgres user when the caller is root (the server refuses to run as
// root).
//
// Contract: Start blocks until the server accepts connections (initdb and start-up take a few
// seconds). Stop blocks until the server has stopped and its folder is gone; the destructor
// does the same. A guard process started with the server does that too when this process
// ends without stopping it (a crash, a kill): it waits on a pipe that only this process holds
// open, so nothing of a test run is left behind.
//
// Roles: "postgres" (superuser) connects without a password; kPasswordRole and kSecretRole,
// once a test has created them, only with their password (over the socket and over TCP), so
// wrong credentials can be tried.
#pragma once

#include <sys/types.h>

#include <string>

class CPrivatePostgres {
 public:
  static constexpr const char* kPasswordRole = "corvane_password";
  static constexpr const char* kSecretRole = "corvane_secret";

  CPrivatePostgres() = default;
  ~CPrivatePostgres();
  CPrivatePostgres(const CPrivatePostgres&) = delete;
  CPrivatePostgres& operator=(const CPrivatePostgres&) = delete;

  // fsync off makes a faster server for tests that measure nothing; a benchmark keeps it on.
  bool Start(bool fsync, std::string* error);
  void Stop();

  // A postgresql:// URL for database over the server's socket.
  std::string Url(const std::string& database) const;
  std::string Url(const std::string& database, const std::string& user,
                  const std::string& password) const;
  // The same over TCP to 127.0.0.1; password empty for none.
  std::string TcpUrl(const std::string& database, const std::string& user,
                     const std::string& password) const;
  const std::string& Folder() const { return m_strDir; }
  // Sends sig to the server and every process it started (SIGSTOP freezes it whole).
  bool Signal(int sig) const;

  // Runs SQL (one or more statements) as postgres in database.
  bool Exec(const std::string& database, const std::string& sql, std::string* error) const;
  bool CreateDatabase(const std::string& name, std::string* error) const;

 private:
  bool StartGuard(std::string* error);

  std::string m_strDir;
  std::string m_strBin;
  pid_t m_nGuard = -1;
  int m_hGuard = -1;
  int m_nPort = 0;
};
