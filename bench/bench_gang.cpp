// bench_gang: one `corvane gang` run natively over N modsims on ptys, timed from spawn to exit
// beside one module's timeline: the parallel probe, then a Program (whose search probes the
// one port again). See bench/README.md for the formula, the targets and how to run it.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "bench/BenchSupport.h"
#include "engine/os/Interrupt.h"
#include "engine/session/ModuleSession.h"
#include "platform/posix/PosixCommApi.h"
#include "tools/modsim/ModsimProcess.h"

namespace {

constexpr double kCpuTargetPct = 1.0;
constexpr int kProbeSamples = 10;

// What every module gets, and what each modsim starts with instead, so the state file shows
// all four settings stored.
constexpr const char kPin[] = "1234";
constexpr const char kRole[] = "slave";
constexpr const char kPeer[] = "00:12:6F:34:56:78";
constexpr const char kFactoryPeer[] = "11:22:33:44:55:66";
const std::vector<std::string> kFactory = {"--pin",  "9999",   "--role",
                                           "master", "--peer", kFactoryPeer};

// The limit on the wall time, as a multiple of one module's timeline plus the probe.
double RatioTarget(int modules) {
  return modules <= 8 ? 1.05 : 1.10;
}

struct CPaths {
  std::string m_strCorvane;
  std::string m_strModsim;
  std::string m_strPace = "standard";
};

// How a gang is run: with all four values given (no Read), or with the peer left to each module
// so that every module is read first, as with a ledger; and with a ledger file or without.
struct CGangMode {
  bool m_bReadFirst = false;
  std::string m_strLedger;
  const char* Peer() const { return m_bReadFirst ? kFactoryPeer : kPeer; }
};

struct CGangSample {
  double m_dWallMs = 0;
  double m_dCpuMs = 0;
  double m_dUserMs = 0;
  double m_dSysMs = 0;
  double m_dModsimCpuMs = 0;     // all N simulators together
  double m_dSlowestModuleS = 0;  // the largest "seconds" of the report
};

using CProblems = std::vector<std::string>;

std::vector<std::string> Split(const std::string& line, char separator) {
  std::vector<std::string> cells;
  std::stringstream text(line);
  for (std::string cell; std::getline(text, cell, separator);) cells.push_back(cell);
  if (!line.empty() && line.back() == separator) cells.emplace_back();
  return cells;
}

std::string Expected(int seq) {
  char name[32];
  std::snprintf(name, sizeof name, "BENCH-%03d", seq);
  return name;
}

// The report: one row per port in the order given, each ended ok with its own name.
void CheckReport(CProblems& problems, const std::string& text,
                 const std::vector<std::string>& ports, const CGangMode& mode, double* slowest) {
  std::vector<std::string> lines;
  for (std::string line : Split(text, '\n')) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty()) lines.push_back(line);
  }
  if (lines.empty()) {
    problems.push_back("the report is missing or empty");
    return;
  }
  const std::vector<std::string> header = Split(lines[0], ',');
  std::map<std::string, size_t> column;
  for (size_t k = 0; k < header.size(); ++k) column[header[k]] = k;
  for (const char* name :
       {"port", "new_name", "new_pin", "new_role", "new_peer", "result", "seconds"}) {
    if (column.count(name) == 0) {
      problems.push_back(std::string("the report has no column ") + name);
      return;
    }
  }
  if (lines.size() != ports.size() + 1) {
    problems.push_back("the report has " + std::to_string(lines.size() - 1) + " rows for " +
                       std::to_string(ports.size()) + " ports");
    return;
  }
  for (size_t k = 0; k < ports.size(); ++k) {
    const std::vector<std::string> row = Split(lines[k + 1], ',');
    if (row.size() != header.size()) {
      problems.push_back("report row " + std::to_string(k + 1) + " is not one cell a column");
      continue;
    }
    const std::map<std::string, std::string> wanted = {
        {"port", ports[k]}, {"result", "ok"},    {"new_name", Expected(static_cast<int>(k) + 1)},
        {"new_pin", kPin},  {"new_role", kRole}, {"new_peer", mode.Peer()}};
    for (const auto& cell : wanted) {
      const std::string& got = row[column[cell.first]];
      if (got != cell.second) {
        problems.push_back(ports[k] + ": report " + cell.first + " \"" + got + "\", expected \"" +
                           cell.second + "\"");
      }
    }
    const double seconds = std::strtod(row[column["seconds"]].c_str(), nullptr);
    if (seconds > *slowest) *slowest = seconds;
  }
}

void CheckState(CProblems& problems, const std::string& port, const std::string& stateFile, int seq,
                const CGangMode& mode) {
  const std::map<std::string, std::string> state = CModsimProcess::ReadState(stateFile);
  // Two probes (the gang's, then the Program's own search) and one CMD_OPEN: no Read came
  // between, as the timeline assumes. Reading first adds its search, its CMD_OPEN and its six
  // commands.
  const bool read = mode.m_bReadFirst;
  const std::map<std::string, std::string> wanted = {{"name", Expected(seq)},
                                                     {"pin", kPin},
                                                     {"role", kRole},
                                                     {"peer", mode.Peer()},
                                                     {"probes", read ? "3" : "2"},
                                                     {"opens", read ? "2" : "1"},
                                                     {"commands", read ? "11" : "5"},
                                                     {"malformed", "0"}};
  for (const auto& entry : wanted) {
    const auto found = state.find(entry.first);
    const std::string got = found == state.end() ? "(missing)" : found->second;
    if (got != entry.second) {
      problems.push_back(port + ": modsim state " + entry.first + "=" + got + ", expected " +
                         entry.second);
    }
  }
}

bool RunGang(const CPaths& paths, int modules, const std::string& dir, const CGangMode& mode,
             CGangSample* sample) {
  std::vector<std::unique_ptr<CModsimProcess>> sims;
  std::vector<std::string> ports;
  std::string list;
  for (int k = 0; k < modules; ++k) {
    // Addresses of their own: the ledger keys the modules by them.
    char address[32];
    std::snprintf(address, sizeof address, "00:1A:7D:00:%02X:%02X", (k >> 8) & 0xFF, k & 0xFF);
    std::vector<std::string> args = {"--state",   dir + "/state-" + std::to_string(k) + ".txt",
                                     "--name",    "OLD-" + std::to_string(k),
                                     "--address", address};
    args.insert(args.end(), kFactory.begin(), kFactory.end());
    sims.push_back(std::make_unique<CModsimProcess>());
    if (!sims.back()->Start(paths.m_strModsim, args)) {
      std::fprintf(stderr, "bench_gang: cannot start modsim %d of %d\n", k + 1, modules);
      return false;
    }
    ports.push_back(sims.back()->Path());
    list += (k > 0 ? "," : "") + ports.back();
  }

  const std::string reportFile = dir + "/report.csv";
  std::remove(reportFile.c_str());
  std::vector<std::string> argv = {
      paths.m_strCorvane, "gang",     "--ports",  list,     "--name",
      "BENCH-{seq:03}",   "--pin",    kPin,       "--role", kRole,
      "--quiet",          "--report", reportFile, "--pace", paths.m_strPace};
  if (!mode.m_bReadFirst) argv.insert(argv.end(), {"--peer", kPeer});
  if (!mode.m_strLedger.empty()) argv.insert(argv.end(), {"--ledger", mode.m_strLedger});

  std::vector<double> modsimCpuBefore;
  for (const auto& sim : sims) modsimCpuBefore.push_back(ProcessCpuMs(sim->Pid()));
  CChildRun child;
  if (!RunChild(argv, dir, &child)) return false;
  sample->m_dWallMs = child.m_dWallMs;
  sample->m_dCpuMs = child.m_dCpuMs;
  sample->m_dUserMs = child.m_dUserMs;
  sample->m_dSysMs = child.m_dSysMs;
  for (size_t k = 0; k < sims.size(); ++k) {
    sample->m_dModsimCpuMs += ProcessCpuMs(sims[k]->Pid()) - modsimCpuBefore[k];
  }

  CProblems problems;
  if (child.m_nExitCode != 0) {
    problems.push_back("corvane gang exit code " + std::to_string(child.m_nExitCode) +
                       ", stderr: " + child.m_strErr);
  }
  CheckReport(problems, CModsimProcess::ReadFile(reportFile), ports, mode,
              &sample->m_dSlowestModuleS);
  for (int k = 0; k < modules; ++k) {
    if (!sims[static_cast<size_t>(k)]->Stop()) {
      problems.push_back(ports[static_cast<size_t>(k)] + ": modsim did not stop cleanly");
    }
    CheckState(problems, ports[static_cast<size_t>(k)],
               dir + "/state-" + std::to_string(k) + ".txt", k + 1, mode);
  }
  for (const std::string& problem : problems) {
    std::fprintf(stderr, "bench_gang: %d modules: %s\n", modules, problem.c_str());
  }
  return problems.empty();
}

// One probe as a gang worker makes it (open at the probe's time-out, the two bytes, the ACK,
// the probe time-out for the read after it, close), timed in this process against a modsim.
bool MeasureProbe(const std::string& modsimPath, std::vector<double>* samples) {
  CModsimProcess modsim;
  if (!modsim.Start(modsimPath, {})) return false;
  CPosixCommApi api(CDeviceNamespace::FromMap({{1, modsim.Path()}}));
  CInterrupt interrupt;
  CModuleSession session(api, interrupt);
  session.ListOnly("COM1");
  for (int k = 0; k < kProbeSamples; ++k) {
    const double start = NowMs();
    if (!session.Probe("COM1")) return false;
    samples->push_back(NowMs() - start);
  }
  return modsim.Stop();
}

// The same gang, every module read first, without a ledger and with a fresh SQLite ledger in
// dir, one after the other in each run: what the ledger adds to the whole gang.
int CompareLedger(const CPaths& paths, const std::vector<int>& sizes, int runs,
                  const std::string& dir) {
  const std::string loadBefore = LoadAverage();
  std::map<int, std::vector<CGangSample>> plain, ledger;
  bool allOk = true;
  for (int run = 0; run < runs; ++run) {
    for (int size : sizes) {
      CGangMode mode;
      mode.m_bReadFirst = true;
      CGangSample sample;
      allOk = RunGang(paths, size, dir, mode, &sample) && allOk;
      plain[size].push_back(sample);
      mode.m_strLedger = dir + "/ledger-" + std::to_string(run) + "-" + std::to_string(size);
      allOk = RunGang(paths, size, dir, mode, &sample) && allOk;
      ledger[size].push_back(sample);
    }
  }
  std::printf(
      "corvane gang with and without an SQLite ledger, natively: %s\n"
      "every module read first in both (the peer is left to each module); a fresh ledger file\n"
      "per run in %s. Runs: %d. Load average: %s before, %s after.\n\n",
      paths.m_strCorvane.c_str(), dir.c_str(), runs, loadBefore.c_str(), LoadAverage().c_str());
  std::printf("%7s %10s %10s %10s %10s %9s %9s %9s\n", "modules", "plain ms", "(max)", "ledger ms",
              "(max)", "ratio", "CPU ms", "ledger");
  for (int size : sizes) {
    std::vector<double> plainWall, ledgerWall, plainCpu, ledgerCpu;
    for (const CGangSample& s : plain[size]) {
      plainWall.push_back(s.m_dWallMs);
      plainCpu.push_back(s.m_dCpuMs);
    }
    for (const CGangSample& s : ledger[size]) {
      ledgerWall.push_back(s.m_dWallMs);
      ledgerCpu.push_back(s.m_dCpuMs);
    }
    const CStats a = Summarize(plainWall), b = Summarize(ledgerWall);
    std::printf("%7d %10.1f %10.1f %10.1f %10.1f %9.4f %9.1f %9.1f\n", size, a.m_dMean, a.m_dMax,
                b.m_dMean, b.m_dMax, b.m_dMean / a.m_dMean, Summarize(plainCpu).m_dMean,
                Summarize(ledgerCpu).m_dMean);
  }
  std::printf("\nRatio = mean wall time with the ledger / mean without.\n");
  if (!allOk) std::printf("FAILED: at least one run did not succeed (see stderr).\n");
  return allOk ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  CPaths paths{CORVANE_PATH, MODSIM_PATH, "standard"};
  std::vector<int> sizes = {8, 32};
  int runs = 1;
  bool compareLedger = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--ledger") == 0) {
      compareLedger = true;
    } else if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc) {
      runs = std::atoi(argv[++i]);
    } else if (std::strcmp(argv[i], "--modules") == 0 && i + 1 < argc) {
      sizes.clear();
      for (const std::string& size : Split(argv[++i], ','))
        sizes.push_back(std::atoi(size.c_str()));
    } else if (std::strcmp(argv[i], "--corvane") == 0 && i + 1 < argc) {
      paths.m_strCorvane = argv[++i];
    } else if (std::strcmp(argv[i], "--modsim") == 0 && i + 1 < argc) {
      paths.m_strModsim = argv[++i];
    } else if (std::strcmp(argv[i], "--pace") == 0 && i + 1 < argc) {
      paths.m_strPace = argv[++i];
    } else {
      std::fprintf(stderr,
                   "usage: %s [--ledger] [--runs N] [--modules 8,32] [--corvane PATH] "
                   "[--modsim PATH] [--pace standard|fast]\n",
                   argv[0]);
      return 2;
    }
  }
  if (runs < 1) runs = 1;
  int largest = 0;
  for (int size : sizes) {
    if (size < 1) {
      std::fprintf(stderr, "bench_gang: --modules takes counts of 1 or more\n");
      return 2;
    }
    if (size > largest) largest = size;
  }

  // Here a pipe per modsim; in corvane a port per module, besides what every process holds.
  std::string error;
  if (!RaiseOpenFileLimit(static_cast<unsigned long>(largest) * 2 + 64, &error)) {
    std::fprintf(stderr, "bench_gang: %s\n", error.c_str());
    return 1;
  }

  if (compareLedger) {
    const std::string dir = MakeTempDir("bench_gang");
    if (dir.empty()) {
      std::perror("bench_gang: temporary folder");
      return 1;
    }
    const int code = CompareLedger(paths, sizes, runs, dir);
    RemoveTree(dir);
    return code;
  }

  std::vector<double> probes;
  if (!MeasureProbe(paths.m_strModsim, &probes)) {
    std::fprintf(stderr, "bench_gang: the probe against modsim failed\n");
    return 1;
  }
  const CStats probe = Summarize(probes);
  // The probe is derived, not measured, for the limit: its time-out is the whole of it on a
  // pty, and a measured figure would let the probe's own overhead into the allowance.
  const double timeline = kProbeTimeoutMs + TimelineMs(false, false);

  const std::string dir = MakeTempDir("bench_gang");
  if (dir.empty()) {
    std::perror("bench_gang: temporary folder");
    return 1;
  }
  const std::string loadBefore = LoadAverage();
  std::map<int, std::vector<CGangSample>> samples;
  bool allOk = true;
  for (int run = 0; run < runs; ++run) {
    for (int size : sizes) {
      CGangSample sample;
      if (RunGang(paths, size, dir, CGangMode(), &sample)) {
        samples[size].push_back(sample);
      } else {
        allOk = false;
      }
    }
  }
  const std::string loadAfter = LoadAverage();
  RemoveTree(dir);

  std::printf(
      "corvane gang, natively: %s\n"
      "against N modsims on ptys, one corvane process per run; wall time from spawn to exit,\n"
      "CPU of the corvane process from wait4. Runs: %d. Load average: %s before, %s after.\n\n",
      paths.m_strCorvane.c_str(), runs, loadBefore.c_str(), loadAfter.c_str());
  std::printf(
      "One probe, measured in this process (%d probes): mean %.2f ms, min %.2f, max %.2f; the\n"
      "limit uses the derived %.0f ms (its time-out; opening, two bytes and the ACK take\n"
      "microseconds on a pty).\n"
      "Timeline = probe %.0f ms + Program %.0f ms (which probes its port again) = %.0f ms.\n\n",
      kProbeSamples, probe.m_dMean, probe.m_dMin, probe.m_dMax, kProbeTimeoutMs, kProbeTimeoutMs,
      TimelineMs(false, false), timeline);
  std::printf("%7s %26s %8s %8s %8s %35s %9s %9s\n", "", "wall ms", "ratio", "", "", "CPU corvane",
              "modsims", "slowest");
  std::printf("%7s %8s %8s %8s %8s %8s %8s %8s %8s %8s %8s %9s %9s\n", "modules", "mean", "min",
              "max", "max", "limit", "overhead", "ms mean", "user", "sys", "% max", "CPU ms",
              "module s");
  bool targetsMet = true;
  for (int size : sizes) {
    const auto found = samples.find(size);
    if (found == samples.end()) {
      std::printf("%7d  no successful run\n", size);
      targetsMet = false;
      continue;
    }
    std::vector<double> walls, cpus, users, systems, cpuPcts, modsimCpus, slowest;
    for (const CGangSample& s : found->second) {
      walls.push_back(s.m_dWallMs);
      cpus.push_back(s.m_dCpuMs);
      users.push_back(s.m_dUserMs);
      systems.push_back(s.m_dSysMs);
      cpuPcts.push_back(100.0 * s.m_dCpuMs / s.m_dWallMs);
      modsimCpus.push_back(s.m_dModsimCpuMs);
      slowest.push_back(s.m_dSlowestModuleS);
    }
    const CStats wall = Summarize(walls);
    const CStats cpuPct = Summarize(cpuPcts);
    const double ratio = wall.m_dMax / timeline;
    const bool met = ratio <= RatioTarget(size) && cpuPct.m_dMax <= kCpuTargetPct;
    targetsMet = targetsMet && met;
    std::printf("%7d %8.1f %8.1f %8.1f %8.4f %8.2f %8.1f %8.1f %8.1f %8.1f %8.3f %9.1f %9.2f%s\n",
                size, wall.m_dMean, wall.m_dMin, wall.m_dMax, ratio, RatioTarget(size),
                wall.m_dMax - timeline, Summarize(cpus).m_dMean, Summarize(users).m_dMean,
                Summarize(systems).m_dMean, cpuPct.m_dMax, Summarize(modsimCpus).m_dMean,
                Summarize(slowest).m_dMax, met ? "" : "  TARGET MISSED");
  }
  std::printf(
      "\nRatio = the slowest run's wall time / the timeline; overhead = that wall time minus the\n"
      "timeline, in ms. Targets, held by every run: ratio <= 1.05 (8 modules) and <= 1.10 (32),\n"
      "CPU <= %.0f %% of the wall time.\n",
      kCpuTargetPct);
  if (!allOk) std::printf("FAILED: at least one run did not succeed (see stderr).\n");
  if (!targetsMet) std::printf("FAILED: a target was missed.\n");
  return allOk && targetsMet ? 0 : 1;
}
