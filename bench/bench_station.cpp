// bench_station: `corvane station` natively against jigs played by modsims on ptys.
//   latency  a module put on an idle slot: to the station's first byte to it (the probe that
//            sees it) and to the start of its programming (after the read the ledger needs)
//   idle     CPU of the station while 32 empty slots are watched
//   stream   8 slots each taking 5 modules in a row, against 5 x one module's time plus the
//            time the modules were off the jig
//   cycle    one slot, modules one after another: from a module put on to its result, and
//            from its removal to the station seeing it go (any corvane, either pace)
// See bench/README.md for the targets and how to run it.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/BenchSupport.h"
#include "tools/modsim/ModsimProcess.h"

namespace {

using nlohmann::json;

constexpr double kLatencyTargetMs = 1000;
constexpr double kIdleCpuTargetPct = 1.0;
constexpr double kStreamTarget = 1.15;

double WallMs() {
  return static_cast<double>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                 std::chrono::system_clock::now().time_since_epoch())
                                 .count());
}

// The events' UTC time "2026-12-07T23:10:01.123Z" in ms since the epoch.
double EventMs(const std::string& time) {
  int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0, ms = 0;
  if (std::sscanf(time.c_str(), "%d-%d-%dT%d:%d:%d.%dZ", &y, &mo, &d, &h, &mi, &s, &ms) != 7) {
    return 0;
  }
  // Days from civil (proleptic Gregorian).
  y -= mo <= 2;
  const long era = (y >= 0 ? y : y - 399) / 400;
  const long yoe = y - era * 400;
  const long doy = (153 * (mo + (mo > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const long days = era * 146097 + yoe * 365 + yoe / 4 - yoe / 100 + doy - 719468;
  return ((static_cast<double>(days) * 24 + h) * 60 + mi) * 60000.0 + s * 1000.0 + ms;
}

std::vector<json> Events(const std::string& path) {
  std::vector<json> events;
  std::ifstream file(path);
  for (std::string line; std::getline(file, line);) {
    if (!line.empty()) events.push_back(json::parse(line));
  }
  return events;
}

// The nth event of this kind on port, waiting for it at most 60 s; null when it did not come.
json Await(const std::string& path, const std::string& kind, const std::string& port, size_t nth) {
  for (int k = 0; k < 60 * 50; ++k) {
    size_t seen = 0;
    for (const json& event : Events(path)) {
      if (event["event"] == kind && event["port"] == port && ++seen >= nth) return event;
    }
    usleep(20 * 1000);
  }
  return json();
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values.empty() ? 0 : values[values.size() / 2];
}

struct CBench {
  std::string m_strCorvane = CORVANE_PATH;
  std::string m_strModsim = MODSIM_PATH;
  std::string m_strPace = "fast";
  std::string m_strDir;
  std::vector<std::unique_ptr<CModsimProcess>> m_jigs;

  bool StartJigs(size_t count) {
    m_jigs.clear();
    for (size_t k = 0; k < count; ++k) {
      m_jigs.push_back(std::make_unique<CModsimProcess>());
      if (!m_jigs.back()->Start(m_strModsim, {"--absent"})) return false;
    }
    return true;
  }
  std::string Ports() const {
    std::string ports;
    for (const auto& jig : m_jigs) ports += (ports.empty() ? "" : ",") + jig->Path();
    return ports;
  }
  // The station as a process of its own, its output to files.
  pid_t Station(const std::vector<std::string>& args) const {
    std::vector<std::string> all = {m_strCorvane, "station", "--pace", m_strPace, "--quiet"};
    all.insert(all.end(), args.begin(), args.end());
    std::fflush(stdout);
    const pid_t child = fork();
    if (child != 0) return child;
    std::vector<char*> argv;
    for (std::string& arg : all) argv.push_back(&arg[0]);
    argv.push_back(nullptr);
    const std::string err = m_strDir + "/station.err";
    std::freopen("/dev/null", "r", stdin);
    std::freopen("/dev/null", "w", stdout);
    std::freopen(err.c_str(), "a", stderr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  static int Stop(pid_t child) {
    kill(child, SIGINT);
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
};

std::string Address(int n) {
  char text[32];
  std::snprintf(text, sizeof text, "00:1A:7D:00:%02X:%02X", n / 256, n % 256);
  return text;
}

bool Latency(CBench& bench, int samples) {
  if (!bench.StartJigs(1)) return false;
  const std::string events = bench.m_strDir + "/latency.jsonl";
  const std::string port = bench.m_jigs[0]->Path();
  const pid_t station = bench.Station({"--ports", port, "--name", "L-{addr4}", "--events", events});
  usleep(700 * 1000);
  std::vector<double> toProbe, toProgram;
  for (int k = 0; k < samples; ++k) {
    // At a random moment of the slot's probing, as an operator would.
    usleep(static_cast<useconds_t>((k * 137) % 500) * 1000);
    const double put = WallMs();
    bench.m_jigs[0]->Command("insert --address " + Address(k + 1));
    const json arrived = Await(events, "arrived", port, static_cast<size_t>(k + 1));
    const json started = Await(events, "started", port, static_cast<size_t>(k + 1));
    if (Await(events, "ok", port, static_cast<size_t>(k + 1)).is_null() || started.is_null()) {
      std::printf("latency: module %d was not programmed\n", k + 1);
      CBench::Stop(station);
      return false;
    }
    // The slot's probe that found the module came just before "arrived".
    toProbe.push_back(EventMs(arrived["time"]) - put);
    toProgram.push_back(EventMs(started["time"]) - put);
    bench.m_jigs[0]->Command("remove");
    Await(events, "removed", port, static_cast<size_t>(k + 1));
  }
  CBench::Stop(station);
  const double program = Median(toProgram);
  std::printf(
      "latency (%d modules, fast pace): to the first byte %.0f ms median (max %.0f); "
      "to its programming %.0f ms median (max %.0f); target %.0f ms: %s\n",
      samples, Median(toProbe), *std::max_element(toProbe.begin(), toProbe.end()), program,
      *std::max_element(toProgram.begin(), toProgram.end()), kLatencyTargetMs,
      program <= kLatencyTargetMs ? "met" : "MISSED");
  return true;
}

bool Idle(CBench& bench, int slots, int seconds) {
  if (!bench.StartJigs(static_cast<size_t>(slots))) return false;
  const pid_t station = bench.Station({"--ports", bench.Ports(), "--name", "I-{addr4}"});
  sleep(2);  // the slots start
  const double cpu0 = ProcessCpuMs(station);
  const double wall0 = NowMs();
  sleep(static_cast<unsigned>(seconds));
  const double cpu = ProcessCpuMs(station) - cpu0;
  const double wall = NowMs() - wall0;
  CBench::Stop(station);
  const double pct = 100.0 * cpu / wall;
  std::printf(
      "idle: %d empty slots for %.1f s: %.0f ms CPU, %.2f %% of one core; target %.1f %%: "
      "%s\n",
      slots, wall / 1000, cpu, pct, kIdleCpuTargetPct, pct <= kIdleCpuTargetPct ? "met" : "MISSED");
  return true;
}

// One jig's operator: five modules in a row; the time each module was off the jig (from its
// removal to the next module's insertion) is added to offMs.
void Operate(CBench& bench, size_t jig, const std::string& events, int modules, double* offMs,
             bool* ok) {
  const std::string port = bench.m_jigs[jig]->Path();
  for (int k = 0; k < modules; ++k) {
    bench.m_jigs[jig]->Command("insert --address " + Address(static_cast<int>(jig) * 100 + k + 1));
    if (Await(events, "ok", port, static_cast<size_t>(k + 1)).is_null()) {
      *ok = false;
      return;
    }
    const double off = NowMs();
    bench.m_jigs[jig]->Command("remove");
    if (k + 1 < modules) {
      Await(events, "removed", port, static_cast<size_t>(k + 1));
      *offMs += NowMs() - off;
    }
  }
}

bool Stream(CBench& bench, int slots, int modules) {
  // One module's time first: one slot, one module, from insertion to its result.
  if (!bench.StartJigs(1)) return false;
  std::string events = bench.m_strDir + "/one.jsonl";
  pid_t station = bench.Station(
      {"--ports", bench.Ports(), "--name", "S-{addr4}", "--events", events, "--count", "1"});
  usleep(700 * 1000);
  double start = NowMs();
  bench.m_jigs[0]->Command("insert --address " + Address(9999));
  if (Await(events, "ok", bench.m_jigs[0]->Path(), 1).is_null()) return false;
  const double one = NowMs() - start;
  CBench::Stop(station);

  if (!bench.StartJigs(static_cast<size_t>(slots))) return false;
  events = bench.m_strDir + "/stream.jsonl";
  station = bench.Station({"--ports", bench.Ports(), "--name", "S-{addr4}", "--events", events,
                           "--count", std::to_string(slots * modules)});
  usleep(700 * 1000);
  std::vector<double> off(static_cast<size_t>(slots), 0);
  std::vector<char> fine(static_cast<size_t>(slots), 1);
  std::vector<std::thread> operators;
  start = NowMs();
  for (size_t jig = 0; jig < static_cast<size_t>(slots); ++jig) {
    operators.emplace_back([&, jig] {
      bool ok = true;
      Operate(bench, jig, events, modules, &off[jig], &ok);
      fine[jig] = ok;
    });
  }
  for (std::thread& person : operators) person.join();
  const double wall = NowMs() - start;
  const int code = CBench::Stop(station);
  if (std::count(fine.begin(), fine.end(), 0) > 0) {
    std::printf("stream: a module was not programmed (station exit %d)\n", code);
    return false;
  }
  const double offMax = *std::max_element(off.begin(), off.end());
  const double limit = kStreamTarget * modules * one + offMax;
  std::printf(
      "stream: %d slots x %d modules in %.1f s; one module %.2f s, off the jig %.1f s "
      "per slot at most; limit %.2f x %d x one + off = %.1f s: %s\n",
      slots, modules, wall / 1000, one / 1000, offMax / 1000, kStreamTarget, modules, limit / 1000,
      wall <= limit ? "met" : "MISSED");
  return true;
}

void PrintSpread(const char* what, const std::vector<double>& values) {
  std::printf("  %-28s median %7.0f ms (min %7.0f, max %7.0f)\n", what, Median(values),
              *std::min_element(values.begin(), values.end()),
              *std::max_element(values.begin(), values.end()));
}

// One slot, modules one after another, each held on the jig a while after its result (the
// slot keeps looking at it meanwhile) and then taken off at a moment of the slot's probing.
bool Cycle(CBench& bench, int modules) {
  if (!bench.StartJigs(1)) return false;
  const std::string events = bench.m_strDir + "/cycle.jsonl";
  const std::string port = bench.m_jigs[0]->Path();
  const pid_t station = bench.Station({"--ports", port, "--name", "C-{addr4}", "--events", events});
  usleep(700 * 1000);
  std::vector<double> program, notice, cycle;
  for (int k = 0; k < modules; ++k) {
    usleep(static_cast<useconds_t>((k * 137) % 500) * 1000);
    const double put = WallMs();
    bench.m_jigs[0]->Command("insert --address " + Address(k + 1));
    const json ok = Await(events, "ok", port, static_cast<size_t>(k + 1));
    if (ok.is_null()) {
      std::printf("cycle: module %d was not programmed\n", k + 1);
      CBench::Stop(station);
      return false;
    }
    usleep(static_cast<useconds_t>(300 + (k * 211) % 900) * 1000);
    const double off = WallMs();
    bench.m_jigs[0]->Command("remove");
    const json removed = Await(events, "removed", port, static_cast<size_t>(k + 1));
    if (removed.is_null()) {
      std::printf("cycle: the removal of module %d was not seen\n", k + 1);
      CBench::Stop(station);
      return false;
    }
    program.push_back(EventMs(ok["time"]) - put);
    notice.push_back(EventMs(removed["time"]) - off);
    cycle.push_back(program.back() + notice.back());
  }
  CBench::Stop(station);
  std::printf("cycle (%d modules, %s pace, %s):\n", modules, bench.m_strPace.c_str(),
              bench.m_strCorvane.c_str());
  PrintSpread("put on to its result", program);
  PrintSpread("taken off to seen gone", notice);
  PrintSpread("cycle (the two together)", cycle);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  CBench bench;
  std::string only = "all";
  int modules = 8;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--corvane" && i + 1 < argc) {
      bench.m_strCorvane = argv[++i];
    } else if (arg == "--pace" && i + 1 < argc) {
      bench.m_strPace = argv[++i];
    } else if (arg == "--modules" && i + 1 < argc) {
      modules = std::max(1, std::atoi(argv[++i]));
    } else if (arg.rfind("--", 0) != 0) {
      only = arg;
    } else {
      std::fprintf(stderr,
                   "usage: %s [latency|idle|stream|cycle] [--corvane PATH] "
                   "[--pace fast|standard] [--modules N]\n",
                   argv[0]);
      return 2;
    }
  }
  std::string error;
  if (!RaiseOpenFileLimit(1024, &error)) std::printf("note: %s\n", error.c_str());
  bench.m_strDir = MakeTempDir("bench_station");
  std::printf("bench_station (native build), load %s\n", LoadAverage().c_str());
  bool ok = true;
  if (only == "all" || only == "latency") ok = Latency(bench, 10) && ok;
  if (only == "all" || only == "idle") ok = Idle(bench, 32, 20) && ok;
  if (only == "all" || only == "stream") ok = Stream(bench, 8, 5) && ok;
  if (only == "cycle") ok = Cycle(bench, modules) && ok;
  bench.m_jigs.clear();
  RemoveTree(bench.m_strDir);
  return ok ? 0 : 1;
}
