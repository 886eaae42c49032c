// bench_identity: what the module's address checks cost `corvane program` when it reads first
// (a ledger), timed as a whole process against a build without them, the two in turn.
// See bench/README.md for how to run it and the figures.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "bench/BenchSupport.h"
#include "tools/modsim/ModsimProcess.h"

namespace {

constexpr double kFastTargetPct = 10.0;

struct CSide {
  std::string m_strLabel;
  std::string m_strCorvane;
  std::vector<double> m_walls;
  std::vector<double> m_cpus;
  std::string m_strCommands;  // modsim's framed commands in the last good run
};

double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const size_t mid = values.size() / 2;
  return values.size() % 2 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}

// One program run with a ledger of its own, against a module just put on (a fresh modsim);
// its figures join the side's, false when the run did not program the module.
bool RunOnce(CSide& side, const std::string& modsimExe, const std::string& pace, int run,
             const std::string& dir) {
  const std::string tag = side.m_strLabel + "-" + std::to_string(run);
  const std::string stateFile = dir + "/state-" + tag + ".txt";
  const std::string ledger = dir + "/ledger-" + tag + ".db";
  CModsimProcess modsim;
  if (!modsim.Start(modsimExe, {"--state", stateFile})) {
    std::fprintf(stderr, "bench_identity: cannot start %s\n", modsimExe.c_str());
    return false;
  }
  const std::vector<std::string> argv = {side.m_strCorvane, "program",     "--pace", pace,
                                         "--ledger",        ledger,        "--name", "X-{seq}",
                                         "--port",          modsim.Path(), "--quiet"};
  CChildRun child;
  const bool started = RunChild(argv, dir, &child);
  modsim.Stop();
  std::map<std::string, std::string> state = CModsimProcess::ReadState(stateFile);
  if (!started || child.m_nExitCode != 0 || state["name"] != "X-1") {
    std::fprintf(stderr, "bench_identity: %s run %d: exit %d, name %s: %s\n",
                 side.m_strLabel.c_str(), run + 1, child.m_nExitCode, state["name"].c_str(),
                 child.m_strErr.c_str());
    return false;
  }
  side.m_walls.push_back(child.m_dWallMs);
  side.m_cpus.push_back(child.m_dCpuMs);
  side.m_strCommands = state["commands"];
  return true;
}

void PrintSide(const CSide& side) {
  const CStats wall = Summarize(side.m_walls);
  std::printf(
      "%-8s wall ms median %8.1f (min %8.1f, max %8.1f), CPU ms median %5.1f, "
      "commands to the module %s\n",
      side.m_strLabel.c_str(), Median(side.m_walls), wall.m_dMin, wall.m_dMax, Median(side.m_cpus),
      side.m_strCommands.c_str());
}

int Usage(const char* self) {
  std::fprintf(stderr,
               "usage: %s --without PATH [--corvane PATH] [--runs N] [--pace fast|standard] "
               "[--modsim PATH]\n",
               self);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  CSide with{"with", CORVANE_PATH, {}, {}, ""};
  CSide without{"without", "", {}, {}, ""};
  std::string modsimExe = MODSIM_PATH;
  std::string pace = "fast";
  int runs = 7;
  for (int i = 1; i < argc; ++i) {
    const bool value = i + 1 < argc;
    if (std::strcmp(argv[i], "--without") == 0 && value) {
      without.m_strCorvane = argv[++i];
    } else if (std::strcmp(argv[i], "--corvane") == 0 && value) {
      with.m_strCorvane = argv[++i];
    } else if (std::strcmp(argv[i], "--runs") == 0 && value) {
      runs = std::max(1, std::atoi(argv[++i]));
    } else if (std::strcmp(argv[i], "--pace") == 0 && value) {
      pace = argv[++i];
    } else if (std::strcmp(argv[i], "--modsim") == 0 && value) {
      modsimExe = argv[++i];
    } else {
      return Usage(argv[0]);
    }
  }
  if (without.m_strCorvane.empty() || (pace != "fast" && pace != "standard")) {
    return Usage(argv[0]);
  }
  const std::string dir = MakeTempDir("bench_identity");
  if (dir.empty()) {
    std::perror("bench_identity: temporary folder");
    return 1;
  }
  const std::string loadBefore = LoadAverage();
  bool allOk = true;
  std::vector<double> ratios;
  // The two in turn, the first of each pair alternating, so drift in the machine's load
  // falls on both alike; a pair counts only when both runs programmed their module.
  for (int run = 0; run < runs; ++run) {
    CSide& first = run % 2 ? with : without;
    CSide& second = run % 2 ? without : with;
    const bool a = RunOnce(first, modsimExe, pace, run, dir);
    const bool b = a && RunOnce(second, modsimExe, pace, run, dir);
    allOk = allOk && a && b;
    if (a && !b) {
      first.m_walls.pop_back();
      first.m_cpus.pop_back();
    }
    if (a && b) ratios.push_back(with.m_walls.back() / without.m_walls.back());
  }
  RemoveTree(dir);
  if (ratios.empty()) {
    std::printf("bench_identity: no pair of runs succeeded\n");
    return 1;
  }
  std::printf(
      "corvane program --pace %s --ledger L --name 'X-{seq}', native, %zu pairs; "
      "load %s before, %s after\n",
      pace.c_str(), ratios.size(), loadBefore.c_str(), LoadAverage().c_str());
  PrintSide(without);
  PrintSide(with);
  const CStats ratio = Summarize(ratios);
  const double added = 100.0 * (Median(ratios) - 1);
  std::printf(
      "with / without, pair by pair: median %.4f (min %.4f, max %.4f): %+.1f %% added, "
      "%+.0f ms median",
      Median(ratios), ratio.m_dMin, ratio.m_dMax, added,
      Median(with.m_walls) - Median(without.m_walls));
  if (pace == "fast") {
    std::printf("; target %.0f %%: %s", kFastTargetPct, added <= kFastTargetPct ? "met" : "MISSED");
  }
  std::printf("\n");
  return allOk ? 0 : 1;
}
