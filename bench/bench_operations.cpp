// bench_operations: Read and Program in real time through the POSIX serial layer against
// modsim on a pty, each beside the timeline that the protocol's own pacing prescribes.
// See bench/README.md for the formula and how to run it.
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bench/BenchSupport.h"
#include "platform/posix/PosixCommApi.h"
#include "protocol/SetupOperations.h"
#include "res/resource.h"
#include "tools/modsim/ModsimProcess.h"

namespace {

// A dialog that keeps what the operations write and reads back what was set.
class CBenchView : public CSetupView {
 public:
  std::string GetControlText(int id) override { return m_texts[id]; }
  void SetControlText(int id, const std::string& text) override { m_texts[id] = text; }
  bool IsChecked(int id) override { return m_checks[id]; }
  void SetCheck(int id, bool checked) override { m_checks[id] = checked; }
  void EnableControl(int) override {}
  void DisableControl(int) override {}
  void StepProgress() override { ++m_nSteps; }
  void ResetProgress() override {}
  void ShowMessage(const char* text) override { m_messages.push_back(text); }
  void BeginWaitCursor() override {}
  void EndWaitCursor() override {}

  std::map<int, std::string> m_texts;
  std::map<int, bool> m_checks;
  std::vector<std::string> m_messages;
  int m_nSteps = 0;
};

double CpuMs(int who) {
  rusage usage;
  getrusage(who, &usage);
  return (static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
          static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3);
}

struct CResult {
  std::string m_strName;
  double m_dMeasuredMs = 0;
  double m_dTimelineMs = 0;
  double m_dPausesMs = 0;
  double m_dCpuMs = 0;
  double m_dModsimCpuMs = 0;
  bool m_bOk = false;
};

// What the prescribed sequence costs at a pace with a module that answers at once: fast
// drops every wait for a byte that is not coming, so only the fixed pauses are left.
double PaceTimelineMs(bool read, bool turnOff, EPace pace) {
  if (pace == EPace::Standard) return TimelineMs(read, turnOff);
  return (read ? kReadPausesMs : kProgramPausesMs) + (turnOff ? kTurnOffPauseMs : 0);
}

bool RunOne(const std::string& modsimPath, bool read, bool turnOff, EPace pace, CResult& result) {
  CModsimProcess modsim;
  if (!modsim.Start(modsimPath, {})) {
    std::fprintf(stderr, "bench_operations: cannot start %s\n", modsimPath.c_str());
    return false;
  }
  CPosixCommApi api(CDeviceNamespace::FromMap({{1, modsim.Path()}}));
  CSerialPort serial(api);
  CBenchView view;
  double pausesMs = 0;
  CSetupOperations ops(serial, view, [&pausesMs](DWORD ms) {
    pausesMs += ms;
    PlatformSleep(ms);
  });
  ops.SetPace(pace);
  view.m_checks[IDC_TURN_OFF] = turnOff;
  if (!read) {
    view.m_texts[IDC_DEVICE_NAME] = "BENCH-UNIT-01";
    view.m_texts[IDC_PIN_CODE] = "24680000";
    view.m_checks[IDC_MASTER] = true;
    const char* peer[] = {"00", "11", "22", "33", "44", "55"};
    for (int i = 0; i < 6; ++i) view.m_texts[IDC_PEER_ADDR1 + i] = peer[i];
  }

  double modsimCpuBefore = ProcessCpuMs(modsim.Pid());
  double cpuBefore = CpuMs(RUSAGE_SELF);
  double start = NowMs();
  if (read) {
    ops.OnRead();
  } else {
    ops.OnProgram();
  }
  result.m_dMeasuredMs = NowMs() - start;
  result.m_dCpuMs = CpuMs(RUSAGE_SELF) - cpuBefore;
  result.m_dModsimCpuMs = ProcessCpuMs(modsim.Pid()) - modsimCpuBefore;
  result.m_dPausesMs = pausesMs;

  result.m_dTimelineMs = PaceTimelineMs(read, turnOff, pace);
  result.m_strName = std::string(read ? "Read" : "Program") + (turnOff ? " +turn-off" : "") +
                     (pace == EPace::Fast ? " fast" : "");
  // A fall-back would still succeed, but then it is not the fast figure.
  result.m_bOk = view.m_messages.empty() && view.m_nSteps == 7 && !ops.Outcome().m_bFellBack;
  if (!result.m_bOk) {
    std::fprintf(stderr, "bench_operations: %s did not succeed (%d steps, %zu messages)\n",
                 result.m_strName.c_str(), view.m_nSteps, view.m_messages.size());
  }
  modsim.Stop();
  return result.m_bOk;
}

}  // namespace

int main(int argc, char** argv) {
  std::string modsimPath = MODSIM_PATH;
  int runs = 1;
  bool turnOff = false;
  std::vector<EPace> paces = {EPace::Standard};
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc) {
      runs = std::atoi(argv[++i]);
    } else if (std::strcmp(argv[i], "--turn-off") == 0) {
      turnOff = true;
    } else if (std::strcmp(argv[i], "--modsim") == 0 && i + 1 < argc) {
      modsimPath = argv[++i];
    } else if (std::strcmp(argv[i], "--pace") == 0 && i + 1 < argc &&
               (std::strcmp(argv[i + 1], "standard") == 0 ||
                std::strcmp(argv[i + 1], "fast") == 0 || std::strcmp(argv[i + 1], "both") == 0)) {
      const std::string pace = argv[++i];
      paces.clear();
      if (pace != "fast") paces.push_back(EPace::Standard);
      if (pace != "standard") paces.push_back(EPace::Fast);
    } else {
      std::fprintf(
          stderr, "usage: %s [--runs N] [--turn-off] [--pace standard|fast|both] [--modsim PATH]\n",
          argv[0]);
      return 2;
    }
  }

  std::vector<CResult> results;
  bool allOk = true;
  for (int run = 0; run < runs; ++run) {
    for (EPace pace : paces) {
      for (bool read : {true, false}) {
        for (bool off : {false, true}) {
          if (off && !turnOff) continue;
          CResult result;
          allOk = RunOne(modsimPath, read, off, pace, result) && allOk;
          results.push_back(result);
        }
      }
    }
  }

  std::printf(
      "Timeline = probe time-out after the probe's ACK (%.0f ms)\n"
      "         + one read time-out (%.0f ms) after each ACK or trailer byte\n"
      "           (Read: CMD_OPEN + 5 queries; Program: CMD_OPEN + 4 settings;\n"
      "            +1 with CMD_TURN_OFF)\n"
      "         + the fixed pauses (Read %.0f ms, Program %.0f ms, +%.0f ms with"
      " CMD_TURN_OFF)\n"
      "Fast: the fixed pauses alone (no wait for a byte that does not come).\n\n",
      kProbeTimeoutMs, kReadTimeoutMs, kReadPausesMs, kProgramPausesMs, kTurnOffPauseMs);
  std::printf("%-24s %11s %11s %9s %9s %8s %8s %9s %8s\n", "operation", "measured", "timeline",
              "overhead", "overhead", "pauses", "CPU", "CPU", "modsim");
  std::printf("%-24s %11s %11s %9s %9s %8s %8s %9s %8s\n", "", "ms", "ms", "ms", "%", "ms", "ms",
              "% wall", "CPU ms");
  for (const CResult& r : results) {
    double overhead = r.m_dMeasuredMs - r.m_dTimelineMs;
    std::printf("%-24s %11.1f %11.1f %9.1f %9.2f %8.0f %8.1f %9.3f %8.1f%s\n", r.m_strName.c_str(),
                r.m_dMeasuredMs, r.m_dTimelineMs, overhead, 100.0 * overhead / r.m_dTimelineMs,
                r.m_dPausesMs, r.m_dCpuMs, 100.0 * r.m_dCpuMs / r.m_dMeasuredMs, r.m_dModsimCpuMs,
                r.m_bOk ? "" : "  FAILED");
  }
  std::printf("\nTargets: overhead <= 1 %% of the timeline, CPU <= 1 %% of wall time.\n");
  return allOk ? 0 : 1;
}
