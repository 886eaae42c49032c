// bench_ledger: the time the ledger adds to each module (its binding and its attempt's row),
// on an SQLite file and on a private PostgreSQL server of this machine, alone and with several
// processes at once; and that no row is lost or doubled when they race. See bench/README.md.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench/BenchSupport.h"
#include "ledger/Ledger.h"
#include "tools/pgserver/PrivatePostgres.h"

namespace {

constexpr double kSqliteTargetMs = 5;
constexpr double kPostgresTargetMs = 20;

std::string Address(int process, int module) {
  char text[16];
  std::snprintf(text, sizeof text, "%04X%08X", process, module);
  return text;
}

void BenchValues(long long number, CLedgerValues* v) {
  v->m_name = "BENCH-" + std::to_string(number);
  v->m_pin = "1234";
  v->m_role = "slave";
  v->m_peer = "00:12:6F:34:56:78";
}

CLedgerAttempt BenchAttempt(const std::string& address) {
  CLedgerAttempt attempt;
  attempt.m_strVersion = "1.2.0";
  attempt.m_strPort = "/dev/ttyUSB0";
  attempt.m_strAddress = address;
  attempt.m_before = {"HC-05", "0000", "master", "11:22:33:44:55:66"};
  attempt.m_nDurationMs = 6440;
  attempt.m_strResult = kLedgerResultOk;
  attempt.m_verified = true;
  return attempt;
}

// One module's ledger work in program: bind (or find) its number, then record its attempt.
bool OneModule(CLedger& ledger, const std::string& address, double* ms, std::string* error) {
  const double start = NowMs();
  CLedgerModule module;
  CLedgerError failure;
  bool bound = false;
  const auto values = [](long long number, CLedgerValues* v, std::string*) {
    BenchValues(number, v);
    return true;
  };
  CLedgerAttempt attempt = BenchAttempt(address);
  if (!ledger.Bind(address, values, &module, &bound, &failure)) {
    *error = failure.m_strText;
    return false;
  }
  attempt.m_written = module.m_values;
  if (!ledger.RecordAttempt(attempt, &failure)) {
    *error = failure.m_strText;
    return false;
  }
  *ms = NowMs() - start;
  return true;
}

struct CFigures {
  double m_dMean = 0, m_dMedian = 0, m_dP95 = 0, m_dMax = 0;
};

CFigures Figures(std::vector<double> ms) {
  CFigures f;
  if (ms.empty()) return f;
  std::sort(ms.begin(), ms.end());
  for (double v : ms) f.m_dMean += v / static_cast<double>(ms.size());
  f.m_dMedian = ms[ms.size() / 2];
  f.m_dP95 = ms[std::min(ms.size() - 1, ms.size() * 95 / 100)];
  f.m_dMax = ms.back();
  return f;
}

// A target of 0: figures only (waiting for other processes' locks is not the ledger's cost).
void Print(const char* engine, const char* what, const CFigures& f, double target) {
  std::printf("%-10s %-34s mean %6.2f  median %6.2f  p95 %6.2f  max %7.2f ms", engine, what,
              f.m_dMean, f.m_dMedian, f.m_dP95, f.m_dMax);
  if (target > 0)
    std::printf("   target <= %g: %s", target, f.m_dMean <= target ? "met" : "MISSED");
  std::printf("\n");
}

// A gang's ledger work for size new modules: every one bound in one transaction (BindAll),
// then each attempt recorded; *ms per module.
bool OneGang(CLedger& ledger, int gang, int size, double* ms, std::string* error) {
  std::vector<std::string> addresses;
  for (int i = 0; i < size; ++i) addresses.push_back(Address(0x100 + gang, i));
  const double start = NowMs();
  std::vector<CLedgerModule> modules;
  std::vector<ELedgerBinding> outcomes;
  CLedgerError failure;
  const auto values = [](size_t, long long number, CLedgerValues* v, std::string*) {
    BenchValues(number, v);
    return ELedgerValues::Ok;
  };
  if (!ledger.BindAll(addresses, values, &modules, &outcomes, &failure)) {
    *error = failure.m_strText;
    return false;
  }
  for (int i = 0; i < size; ++i) {
    CLedgerAttempt attempt = BenchAttempt(addresses[i]);
    attempt.m_written = modules[i].m_values;
    if (!ledger.RecordAttempt(attempt, &failure)) {
      *error = failure.m_strText;
      return false;
    }
  }
  *ms = (NowMs() - start) / size;
  return true;
}

bool Gangs(const std::string& location, const char* engine, int gangs, int size, double target) {
  CLedgerError error;
  auto ledger = OpenLedger(location, "bench", &error);
  if (!ledger) {
    std::fprintf(stderr, "%s\n", error.m_strText.c_str());
    return false;
  }
  std::vector<double> times;
  std::string failure;
  for (int g = 0; g < gangs; ++g) {
    double ms = 0;
    if (!OneGang(*ledger, g, size, &ms, &failure)) {
      std::fprintf(stderr, "%s\n", failure.c_str());
      return false;
    }
    times.push_back(ms);
  }
  const CFigures figures = Figures(times);
  const std::string what = "gang of " + std::to_string(size) + ", per module";
  Print(engine, what.c_str(), figures, target);
  return figures.m_dMean <= target;
}

// count new modules, then the same modules again (a re-run: found, not bound).
bool Alone(const std::string& location, const char* engine, int count, double target) {
  CLedgerError error;
  auto ledger = OpenLedger(location, "bench", &error);
  if (!ledger) {
    std::fprintf(stderr, "%s\n", error.m_strText.c_str());
    return false;
  }
  std::vector<double> fresh, again;
  std::string failure;
  for (int pass = 0; pass < 2; ++pass) {
    for (int i = 0; i < count; ++i) {
      double ms = 0;
      if (!OneModule(*ledger, Address(0, i), &ms, &failure)) {
        std::fprintf(stderr, "%s\n", failure.c_str());
        return false;
      }
      (pass == 0 ? fresh : again).push_back(ms);
    }
  }
  const CFigures first = Figures(fresh);
  Print(engine, "program, new module: bind + record", first, target);
  Print(engine, "module run again: find + record", Figures(again), target);
  return first.m_dMean <= target;
}

// processes at once, each with modules new modules; then every row and number is counted.
bool Racing(const std::string& location, const char* engine, int processes, int modules) {
  int pipes[2];
  if (pipe(pipes) != 0) return false;
  std::vector<pid_t> pids;
  const int base = 1000;
  for (int p = 0; p < processes; ++p) {
    const pid_t pid = fork();
    if (pid == 0) {
      close(pipes[0]);
      CLedgerError error;
      auto ledger = OpenLedger(location, "station-" + std::to_string(p), &error);
      std::string failure = error.m_strText;
      for (int i = 0; ledger && i < modules; ++i) {
        double ms = 0;
        if (!OneModule(*ledger, Address(base + p, i), &ms, &failure)) break;
        if (write(pipes[1], &ms, sizeof ms) != sizeof ms) break;
      }
      if (!failure.empty()) std::fprintf(stderr, "%s\n", failure.c_str());
      _exit(failure.empty() ? 0 : 1);
    }
    pids.push_back(pid);
  }
  close(pipes[1]);
  std::vector<double> times;
  double ms = 0;
  while (read(pipes[0], &ms, sizeof ms) == sizeof ms) times.push_back(ms);
  close(pipes[0]);
  bool ok = true;
  for (pid_t pid : pids) {
    int status = 0;
    waitpid(pid, &status, 0);
    ok = ok && WIFEXITED(status) && WEXITSTATUS(status) == 0;
  }
  const std::string what =
      std::to_string(processes) + " processes x " + std::to_string(modules) + " modules at once";
  Print(engine, what.c_str(), Figures(times), 0);

  CLedgerError error;
  auto ledger = OpenLedger(location, "count", &error);
  std::vector<CLedgerAttempt> rows;
  CLedgerStats stats;
  if (!ledger || !ledger->Export(CLedgerFilter(), &rows, &error) ||
      !ledger->Stats(&stats, &error) || !ledger->CheckIntegrity(&error)) {
    std::fprintf(stderr, "%s\n", error.m_strText.c_str());
    return false;
  }
  long long racedRows = 0;
  for (const CLedgerAttempt& row : rows) racedRows += row.m_strStation != "bench";
  const long long wanted = static_cast<long long>(processes) * modules;
  std::printf(
      "%-10s rows written by the racing processes %lld of %lld, modules %lld, next "
      "number %lld: %s\n",
      engine, racedRows, wanted, stats.m_nModules, stats.m_nNextNumber,
      racedRows == wanted && stats.m_nNextNumber == stats.m_nModules + 1 ? "none lost"
                                                                         : "LOST ROWS");
  return ok && racedRows == wanted && stats.m_nNextNumber == stats.m_nModules + 1;
}

}  // namespace

int main(int argc, char** argv) {
  int count = 200, processes = 4, modules = 8, gangs = 25, gang = 8;
  std::string folder;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--modules") == 0 && i + 1 < argc) {
      count = std::atoi(argv[++i]);
    } else if (std::strcmp(argv[i], "--processes") == 0 && i + 1 < argc) {
      processes = std::atoi(argv[++i]);
    } else if (std::strcmp(argv[i], "--each") == 0 && i + 1 < argc) {
      modules = std::atoi(argv[++i]);
    } else if (std::strcmp(argv[i], "--sqlite-folder") == 0 && i + 1 < argc) {
      folder = argv[++i];
    } else {
      std::fprintf(stderr,
                   "usage: %s [--modules N] [--processes P] [--each M] [--sqlite-folder DIR]\n",
                   argv[0]);
      return 64;
    }
  }
  std::printf("load average %s; %d modules alone, %d processes x %d modules racing\n",
              LoadAverage().c_str(), count, processes, modules);
  const std::string dir = MakeTempDir("bench_ledger");
  CPrivatePostgres server;
  std::string error;
  // fsync stays on: a commit the server acknowledges must be on the disk, as in production.
  if (dir.empty() || !server.Start(true, &error)) {
    std::fprintf(stderr, "cannot start PostgreSQL: %s\n", error.c_str());
    RemoveTree(dir);
    return 1;
  }
  bool ok = server.CreateDatabase("alone", &error) && server.CreateDatabase("racing", &error);
  if (!ok) std::fprintf(stderr, "%s\n", error.c_str());
  const std::string sqlite =
      (folder.empty() ? dir : folder) + "/bench_ledger." + std::to_string(getpid()) + ".db";
  ok = ok && Alone(sqlite, "SQLite", count, kSqliteTargetMs);
  ok = Gangs(sqlite, "SQLite", gangs, gang, kSqliteTargetMs) && ok;
  ok = Racing(sqlite, "SQLite", processes, modules) && ok;
  ok = Alone(server.Url("alone"), "PostgreSQL", count, kPostgresTargetMs) && ok;
  ok = Gangs(server.Url("alone"), "PostgreSQL", gangs, gang, kPostgresTargetMs) && ok;
  ok = Racing(server.Url("racing"), "PostgreSQL", processes, modules) && ok;
  server.Stop();
  RemoveTree(dir);
  for (const char* suffix : {"", "-wal", "-shm"}) std::remove((sqlite + suffix).c_str());
  return ok ? 0 : 1;
}
