#include "tools/modsim/ModsimProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <sstream>

extern char** environ;

namespace {

constexpr int kStartTimeoutMs = 5000;

long long NowMs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

}  // namespace

CModsimProcess::~CModsimProcess() {
  Stop();
}

bool CModsimProcess::Start(const std::string& exe, const std::vector<std::string>& args) {
  if (m_nPid > 0) return false;
  int pipeFds[2];
  if (pipe2(pipeFds, O_CLOEXEC) != 0) return false;

  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(exe.c_str()));
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
  // Only stdin, stdout and stderr: a port or pty master the caller holds must not stay open
  // in modsim, or closing it would not reach the line.
  posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
  pid_t pid = -1;
  int failed = posix_spawn(&pid, exe.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(pipeFds[1]);
  if (failed != 0) {
    close(pipeFds[0]);
    return false;
  }
  m_nPid = pid;
  m_hOutput = pipeFds[0];

  std::string line;
  long long deadline = NowMs() + kStartTimeoutMs;
  while (line.find('\n') == std::string::npos) {
    long long left = deadline - NowMs();
    if (left <= 0) break;
    pollfd fd = {m_hOutput, POLLIN, 0};
    if (poll(&fd, 1, static_cast<int>(left)) <= 0) {
      if (errno == EINTR) continue;
      break;
    }
    char chunk[256];
    ssize_t got = read(m_hOutput, chunk, sizeof chunk);
    if (got <= 0) break;
    line.append(chunk, static_cast<size_t>(got));
  }
  size_t end = line.find('\n');
  if (end == std::string::npos || end < 5 ||
      (line.compare(0, 4, "PTY ") != 0 && line.compare(0, 4, "TTY ") != 0)) {
    Stop();
    return false;
  }
  m_strPath = line.substr(4, end - 4);
  return true;
}

bool CModsimProcess::Stop() {
  if (m_nPid <= 0) return false;
  kill(m_nPid, SIGTERM);
  int status = 0;
  while (waitpid(m_nPid, &status, 0) < 0 && errno == EINTR) {
  }
  m_nPid = -1;
  if (m_hOutput >= 0) close(m_hOutput);
  m_hOutput = -1;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool CModsimProcess::Sync() {
  if (m_nPid <= 0 || kill(m_nPid, SIGUSR1) != 0) return false;
  std::string said;
  const long long deadline = NowMs() + kStartTimeoutMs;
  while (said.find("SYNC\n") == std::string::npos) {
    const long long left = deadline - NowMs();
    if (left <= 0) return false;
    pollfd fd = {m_hOutput, POLLIN, 0};
    const int ready = poll(&fd, 1, static_cast<int>(left));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return false;
    char chunk[64];
    const ssize_t got = read(m_hOutput, chunk, sizeof chunk);
    if (got <= 0) return false;
    said.append(chunk, static_cast<size_t>(got));
  }
  return true;
}

bool CModsimProcess::WaitExit(int timeoutMs) {
  if (m_nPid <= 0) return false;
  // modsim's stdout closes when it exits: wait for that in poll, then reap it.
  long long deadline = NowMs() + timeoutMs;
  for (;;) {
    long long left = deadline - NowMs();
    if (left <= 0) return false;
    pollfd fd = {m_hOutput, POLLIN, 0};
    int ready = poll(&fd, 1, static_cast<int>(left));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return false;
    char chunk[256];
    if (read(m_hOutput, chunk, sizeof chunk) <= 0) break;
  }
  int status = 0;
  while (waitpid(m_nPid, &status, 0) < 0 && errno == EINTR) {
  }
  m_nPid = -1;
  close(m_hOutput);
  m_hOutput = -1;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::string CModsimProcess::ReadFile(const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::map<std::string, std::string> CModsimProcess::ReadState(const std::string& file) {
  std::map<std::string, std::string> state;
  std::istringstream lines(ReadFile(file));
  std::string line;
  while (std::getline(lines, line)) {
    size_t eq = line.find('=');
    if (eq != std::string::npos) state[line.substr(0, eq)] = line.substr(eq + 1);
  }
  return state;
}
