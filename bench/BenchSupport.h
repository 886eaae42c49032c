// What the benchmarks share: the operations' timeline, clocks and CPU time, and running a
// program from spawn to exit with its own resource usage.
//
// Contract: nothing here spins. RunChild blocks in wait4 until the child has exited; its
// output goes to files, so a chatty child can never block on a full pipe.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

// The protocol's pacing with a module that answers at once and sends one byte after each
// reply line: the probe's ACK is followed by one probe time-out, every ACK and every trailer
// of an operation by one operation time-out.
constexpr double kProbeTimeoutMs = 100;
constexpr double kReadTimeoutMs = 1000;
constexpr double kReadPausesMs = 400 + 10 + 100 + 100 + 10 + 10 + 500;  // 1130
constexpr double kProgramPausesMs =
    400 + (100 + 10) + 100 + (100 + 10) + 10 + (100 + 10) + 500;  // 1340
constexpr double kTurnOffPauseMs = 10;

// The timeline of one Read or Program (its search probing the one port included):
// Read 7230 ms, Program 6440 ms, each 1010 ms more with CMD_TURN_OFF.
double TimelineMs(bool read, bool turnOff);

// Monotonic clock.
double NowMs();
// CPU time (user + system) of another live process so far, from /proc: steps of one kernel
// clock tick.
double ProcessCpuMs(pid_t pid);
// The 1, 5 and 15 minute load averages, "1.02 0.87 0.66".
std::string LoadAverage();

struct CStats {
  double m_dMean = 0;
  double m_dMin = 0;
  double m_dMax = 0;
};
CStats Summarize(const std::vector<double>& values);

struct CChildRun {
  int m_nExitCode = -1;  // -1 when the child did not exit by itself
  double m_dWallMs = 0;  // from just before the spawn to the return of wait4
  double m_dUserMs = 0;  // the child's user and system time, as wait4 reports them
  double m_dSysMs = 0;
  double m_dCpuMs = 0;  // their sum
  std::string m_strOut;
  std::string m_strErr;
};
// Runs argv[0] (a path) with argv, its stdout and stderr into files in dir, and waits for it.
// False when it could not be started.
bool RunChild(const std::vector<std::string>& argv, const std::string& dir, CChildRun* run);

// A new folder under the system's temporary folder, or empty.
std::string MakeTempDir(const char* prefix);
void RemoveTree(const std::string& dir);

// Lifts the soft limit on open files to at least wanted (up to the hard limit). False with
// the reason when the hard limit is lower.
bool RaiseOpenFileLimit(unsigned long wanted, std::string* error);
