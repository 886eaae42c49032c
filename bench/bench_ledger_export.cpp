// bench_ledger_export: the peak memory of `corvane ledger export`, `show` and `stats` on a
// ledger of many attempts, on an SQLite file and on a private PostgreSQL server. The commands
// stream their rows, so their memory must not grow with the ledger. See bench/README.md.
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench/BenchSupport.h"
#include "ledger/Ledger.h"
#include "tools/pgserver/PrivatePostgres.h"

namespace {

constexpr double kTargetMb = 50;

// Half as many modules as attempts: every module bound, two attempts each.
std::string SqliteFill(long long attempts) {
  const std::string modules = std::to_string(attempts / 2);
  return "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < " + modules +
         ") INSERT INTO ledger_modules (number, address, name, pin, role, peer, bound_at, "
         "station) SELECT i, printf('%012X', i), 'BENCH-' || i, '1234', 'slave', "
         "'00:12:6F:34:56:78', '2026-01-01T00:00:00.000Z', 'bench' FROM n;"
         "UPDATE ledger_counter SET next_number = " +
         modules +
         " + 1;"
         "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < " +
         std::to_string(attempts) +
         ") INSERT INTO ledger_attempts (time, station, version, port, address, number, "
         "before_name, before_pin, before_role, before_peer, name, pin, role, peer, verified, "
         "duration_ms, result, message, notes) SELECT strftime('%Y-%m-%dT%H:%M:%S', "
         "1767225600 + i, 'unixepoch') || '.000Z', 'bench', '1.2.0', '/dev/ttyUSB0', "
         "printf('%012X', (i + 1) / 2), (i + 1) / 2, 'HC-05', '0000', 'master', "
         "'11:22:33:44:55:66', 'BENCH-' || ((i + 1) / 2), '1234', 'slave', '00:12:6F:34:56:78', "
         "1, 6440, 'ok', '', 'pace standard' FROM n;";
}

std::string PostgresFill(long long attempts) {
  const std::string modules = std::to_string(attempts / 2);
  return "INSERT INTO ledger_modules (number, address, name, pin, role, peer, bound_at, "
         "station) SELECT i, lpad(upper(to_hex(i)), 12, '0'), 'BENCH-' || i, '1234', 'slave', "
         "'00:12:6F:34:56:78', '2026-01-01T00:00:00.000Z', 'bench' FROM generate_series(1, " +
         modules +
         ") i;"
         "UPDATE ledger_counter SET next_number = " +
         modules +
         " + 1;"
         "INSERT INTO ledger_attempts (time, station, version, port, address, number, "
         "before_name, before_pin, before_role, before_peer, name, pin, role, peer, verified, "
         "duration_ms, result, message, notes) SELECT to_char(timestamp '2026-01-01' + i * "
         "interval '1 second', 'YYYY-MM-DD\"T\"HH24:MI:SS') || '.000Z', 'bench', '1.2.0', "
         "'/dev/ttyUSB0', lpad(upper(to_hex((i + 1) / 2)), 12, '0'), (i + 1) / 2, 'HC-05', "
         "'0000', 'master', '11:22:33:44:55:66', 'BENCH-' || ((i + 1) / 2), '1234', 'slave', "
         "'00:12:6F:34:56:78', 1, 6440, 'ok', '', 'pace standard' FROM generate_series(1, " +
         std::to_string(attempts) + ") i;";
}

bool MakeLedger(const std::string& location) {
  CLedgerError error;
  if (OpenLedger(location, "bench", &error)) return true;
  std::fprintf(stderr, "%s\n", error.m_strText.c_str());
  return false;
}

bool FillSqlite(const std::string& path, long long attempts) {
  sqlite3* db = nullptr;
  char* message = nullptr;
  const bool ok = MakeLedger(path) && sqlite3_open(path.c_str(), &db) == SQLITE_OK &&
                  sqlite3_exec(db, ("BEGIN;" + SqliteFill(attempts) + "COMMIT;").c_str(), nullptr,
                               nullptr, &message) == SQLITE_OK;
  if (message) std::fprintf(stderr, "%s\n", message);
  sqlite3_free(message);
  sqlite3_close(db);
  return ok;
}

struct CRun {
  int m_nExit = -1;
  double m_dSeconds = 0;
  double m_dPeakMb = 0;
  long long m_nBytes = 0;
};

// Runs corvane with args, its stdout into a file in dir; its peak resident memory as wait4
// reports it.
CRun RunCorvane(const std::vector<std::string>& args, const std::string& dir) {
  const std::string out = dir + "/out", err = dir + "/err";
  std::vector<const char*> argv = {CORVANE_PATH};
  for (const std::string& arg : args) argv.push_back(arg.c_str());
  argv.push_back(nullptr);
  CRun run;
  const double start = NowMs();
  const pid_t child = fork();
  if (child == 0) {
    const int outFd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int errFd = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(outFd, STDOUT_FILENO);
    dup2(errFd, STDERR_FILENO);
    execv(CORVANE_PATH, const_cast<char* const*>(argv.data()));
    _exit(127);
  }
  int status = 0;
  struct rusage usage {};
  if (child > 0 && wait4(child, &status, 0, &usage) == child && WIFEXITED(status))
    run.m_nExit = WEXITSTATUS(status);
  run.m_dSeconds = (NowMs() - start) / 1000;
  run.m_dPeakMb = static_cast<double>(usage.ru_maxrss) / 1024;  // kilobytes on Linux
  struct stat st {};
  if (stat(out.c_str(), &st) == 0) run.m_nBytes = st.st_size;
  return run;
}

bool Measure(const char* engine, const std::string& location, const std::string& dir) {
  const std::vector<std::vector<std::string>> commands = {
      {"ledger", "export", "--format", "csv"},
      {"ledger", "export", "--format", "jsonl"},
      {"ledger", "show"},
      {"ledger", "show", "--format", "json"},
      {"ledger", "stats"},
  };
  bool met = true;
  for (std::vector<std::string> command : commands) {
    std::string what;
    for (size_t k = 1; k < command.size(); ++k) what += (what.empty() ? "" : " ") + command[k];
    command.push_back("--ledger");
    command.push_back(location);
    const CRun run = RunCorvane(command, dir);
    const bool ok = run.m_nExit == 0 && run.m_dPeakMb < kTargetMb;
    met = met && ok;
    std::printf("%-10s %-22s exit %d  %7.2f s  output %7.1f MB  peak RSS %6.1f MB   %s\n", engine,
                what.c_str(), run.m_nExit, run.m_dSeconds,
                static_cast<double>(run.m_nBytes) / 1048576, run.m_dPeakMb, ok ? "met" : "MISSED");
  }
  return met;
}

}  // namespace

int main(int argc, char** argv) {
  long long attempts = 200000;
  if (argc == 3 && std::strcmp(argv[1], "--attempts") == 0) {
    attempts = std::atoll(argv[2]);
  } else if (argc != 1) {
    std::fprintf(stderr, "usage: %s [--attempts N]\n", argv[0]);
    return 64;
  }
  std::printf("load average %s; %lld attempts of %lld modules; target: peak RSS < %g MB\n",
              LoadAverage().c_str(), attempts, attempts / 2, kTargetMb);
  const std::string dir = MakeTempDir("bench_ledger_export");
  CPrivatePostgres server;
  std::string error;
  // What is measured is the client's memory: the server may skip its flushes.
  if (dir.empty() || !server.Start(false, &error) ||
      !server.CreateDatabase("export_bench", &error)) {
    std::fprintf(stderr, "cannot start the benchmark: %s\n", error.c_str());
    return 1;
  }
  const std::string file = dir + "/ledger.db";
  const std::string url = server.Url("export_bench");
  if (!FillSqlite(file, attempts) || !MakeLedger(url) ||
      !server.Exec("export_bench", PostgresFill(attempts), &error)) {
    std::fprintf(stderr, "cannot fill the ledgers: %s\n", error.c_str());
    RemoveTree(dir);
    return 1;
  }
  // Both engines are measured, whatever the first one gives.
  const bool sqliteMet = Measure("SQLite", file, dir);
  const bool postgresMet = Measure("PostgreSQL", url, dir);
  const bool met = sqliteMet && postgresMet;
  RemoveTree(dir);
  return met ? 0 : 1;
}
