// bench_dashboard: the server's time for the ledger dashboard's pages on a large SQLite ledger,
// warm (the file in the page cache, the statements' plans made). The pages are asked of
// CDashboard as the server asks them, with no network in between. See bench/README.md.
#include <sqlite3.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "bench/BenchSupport.h"
#include "ledger/Ledger.h"
#include "web/dashboard/Dashboard.h"

namespace {

constexpr double kTargetMs = 200;

// modules bound modules over 8 stations, their ok attempts spread evenly over the 48 hours
// before now (a line of 8 stations making some 2,000 modules an hour), and every 20th module
// failing once half a minute before. Written by SQL on the file itself: a few seconds rather
// than one durable commit per attempt.
std::string Fill(long long modules, long long now) {
  const std::string n = std::to_string(modules), start = std::to_string(now - 48 * 3600);
  auto attempts = [&](const char* back, const char* result, const char* where) {
    const std::string when = "strftime('%Y-%m-%dT%H:%M:%S', " + start + " + i * 172800 / " + n +
                             " - " + back + ", 'unixepoch') || '.000Z'";
    return "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < " + n +
           ") INSERT INTO ledger_attempts (time, station, version, port, address, number, name, "
           "pin, role, duration_ms, result, message, notes) SELECT " +
           when +
           ", 'line-' || (i % 8 + 1), 'corvane 1.2.0', '/dev/ttyUSB0', printf('%012X', i), i, "
           "'BENCH-' || i, '1234', 'slave', 6440, '" +
           result + "', '', '' FROM n" + where + ";";
  };
  return "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < " + n +
         ") INSERT INTO ledger_modules (number, address, name, pin, role, peer, bound_at, "
         "station) SELECT i, printf('%012X', i), 'BENCH-' || i, '1234', 'slave', NULL, "
         "'2026-01-01T00:00:00.000Z', 'line-' || (i % 8 + 1) FROM n;"
         "UPDATE ledger_counter SET next_number = " +
         n + " + 1;" + attempts("30", "timeout", " WHERE i % 20 = 0") + attempts("0", "ok", "");
}

bool MakeLedger(const std::string& path, long long modules) {
  CLedgerError error;
  if (!OpenLedger(path, "bench", &error)) {
    std::fprintf(stderr, "%s\n", error.m_strText.c_str());
    return false;
  }
  sqlite3* db = nullptr;
  char* message = nullptr;
  const std::string sql = "BEGIN;" + Fill(modules, std::time(nullptr)) + "COMMIT;";
  const bool ok = sqlite3_open(path.c_str(), &db) == SQLITE_OK &&
                  sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message) == SQLITE_OK;
  if (message) std::fprintf(stderr, "%s\n", message);
  sqlite3_free(message);
  sqlite3_close(db);
  return ok;
}

struct CPage {
  const char* m_pWhat;
  CWebRequest m_request;
  bool m_bTarget;  // held to kTargetMs
};

}  // namespace

int main(int argc, char** argv) {
  long long modules = 100000;
  int runs = 20;
  for (int k = 1; k + 1 < argc; k += 2) {
    if (std::strcmp(argv[k], "--modules") == 0) modules = std::atoll(argv[k + 1]);
    if (std::strcmp(argv[k], "--runs") == 0) runs = std::max(1, std::atoi(argv[k + 1]));
  }
  const std::string dir = MakeTempDir("bench_dashboard");
  const std::string path = dir + "/ledger.db";
  const double filling = NowMs();
  if (dir.empty() || !MakeLedger(path, modules)) return 1;
  std::printf("%lld modules filled in %.1f s; load %s\n", modules, (NowMs() - filling) / 1000,
              LoadAverage().c_str());
  CLedgerError error;
  std::unique_ptr<CLedger> ledger = OpenLedger(path, "bench", &error, ELedgerAccess::Read);
  if (!ledger) return 1;
  CDashboard dashboard(*ledger);
  const std::vector<CPage> pages = {
      {"first page /ledger/", {"/ledger/", {}}, true},
      {"chart.svg span=7d", {"/ledger/chart.svg", {{"span", "7d"}}}, false},
      {"failed attempts", {"/ledger/", {{"result", "failed"}, {"station", "line-3"}}}, false},
      {"search q=BENCH-9999", {"/ledger/search", {{"q", "BENCH-9999"}}}, false},
      {"module page", {"/ledger/module", {{"address", "000000000064"}}}, false},
  };
  bool met = true;
  for (const CPage& page : pages) {
    CWebReply reply;
    dashboard.Handle(page.m_request, &reply);  // warm: the file read, the plans made
    std::vector<double> times;
    for (int r = 0; r < runs && reply.m_nStatus == 200; ++r) {
      const double start = NowMs();
      dashboard.Handle(page.m_request, &reply);
      times.push_back(NowMs() - start);
    }
    std::sort(times.begin(), times.end());
    const double median = times.empty() ? 0 : times[times.size() / 2];
    const bool ok = reply.m_nStatus == 200 && (!page.m_bTarget || median <= kTargetMs);
    met = met && ok;
    std::printf("%-22s status %d  %7.1f KB  median %7.1f ms  max %7.1f ms  %s\n", page.m_pWhat,
                reply.m_nStatus, reply.m_strBody.size() / 1024.0, median,
                times.empty() ? 0 : times.back(), page.m_bTarget ? (ok ? "met" : "MISSED") : "");
  }
  RemoveTree(dir);
  return met ? 0 : 1;
}
