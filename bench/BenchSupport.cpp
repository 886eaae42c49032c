#include "bench/BenchSupport.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

extern char** environ;

namespace {

double TimevalMs(const timeval& tv) {
  return static_cast<double>(tv.tv_sec) * 1e3 + static_cast<double>(tv.tv_usec) / 1e3;
}

std::string Slurp(const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace

double TimelineMs(bool read, bool turnOff) {
  // CMD_OPEN, then the five queries of a Read or the four settings of a Program.
  int timedOut = read ? 1 + 5 : 1 + 4;
  if (turnOff) ++timedOut;
  return kProbeTimeoutMs + timedOut * kReadTimeoutMs + (read ? kReadPausesMs : kProgramPausesMs) +
         (turnOff ? kTurnOffPauseMs : 0);
}

double NowMs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

double ProcessCpuMs(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  std::getline(stat, line);
  // Fields after the command name, which sits in parentheses and may hold spaces.
  size_t close = line.rfind(')');
  if (close == std::string::npos) return 0;
  std::istringstream fields(line.substr(close + 2));
  std::string field;
  double ticks = 0;
  // utime and stime are the 12th and 13th fields after the name.
  for (int k = 0; k < 13 && fields >> field; ++k) {
    if (k >= 11) ticks += std::strtod(field.c_str(), nullptr);
  }
  return ticks * 1e3 / static_cast<double>(sysconf(_SC_CLK_TCK));
}

std::string LoadAverage() {
  double load[3] = {0, 0, 0};
  if (getloadavg(load, 3) != 3) return "unknown";
  char text[64];
  std::snprintf(text, sizeof text, "%.2f %.2f %.2f", load[0], load[1], load[2]);
  return text;
}

CStats Summarize(const std::vector<double>& values) {
  CStats stats;
  if (values.empty()) return stats;
  stats.m_dMin = *std::min_element(values.begin(), values.end());
  stats.m_dMax = *std::max_element(values.begin(), values.end());
  double sum = 0;
  for (double value : values) sum += value;
  stats.m_dMean = sum / static_cast<double>(values.size());
  return stats;
}

bool RunChild(const std::vector<std::string>& argv, const std::string& dir, CChildRun* run) {
  const std::string outFile = dir + "/child.out";
  const std::string errFile = dir + "/child.err";
  std::vector<char*> args;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outFile.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errFile.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  // The child sees no descriptor of ours (a modsim's pipe, a pty).
  posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);

  const double start = NowMs();
  pid_t pid = -1;
  const int failed = posix_spawn(&pid, argv[0].c_str(), &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (failed != 0) {
    std::fprintf(stderr, "cannot start %s: %s\n", argv[0].c_str(), std::strerror(failed));
    return false;
  }
  int status = 0;
  rusage usage{};
  while (wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
  }
  run->m_dWallMs = NowMs() - start;
  run->m_dUserMs = TimevalMs(usage.ru_utime);
  run->m_dSysMs = TimevalMs(usage.ru_stime);
  run->m_dCpuMs = run->m_dUserMs + run->m_dSysMs;
  run->m_nExitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  run->m_strOut = Slurp(outFile);
  run->m_strErr = Slurp(errFile);
  return true;
}

std::string MakeTempDir(const char* prefix) {
  std::string pattern = (std::filesystem::temp_directory_path() / prefix).string() + "-XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  if (mkdtemp(name.data()) == nullptr) return std::string();
  return name.data();
}

void RemoveTree(const std::string& dir) {
  std::error_code ignored;
  if (!dir.empty()) std::filesystem::remove_all(dir, ignored);
}

bool RaiseOpenFileLimit(unsigned long wanted, std::string* error) {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0) {
    *error = std::string("getrlimit: ") + std::strerror(errno);
    return false;
  }
  if (limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur >= wanted) return true;
  if (limit.rlim_max != RLIM_INFINITY && limit.rlim_max < wanted) {
    *error = "the hard limit on open files is " + std::to_string(limit.rlim_max) + ", " +
             std::to_string(wanted) + " are needed";
    return false;
  }
  limit.rlim_cur = wanted;
  if (setrlimit(RLIMIT_NOFILE, &limit) != 0) {
    *error = std::string("setrlimit: ") + std::strerror(errno);
    return false;
  }
  return true;
}
