#include "tools/modsim/ModsimProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <sstream>

extern char** environ;

namespace {

// How long Start, Sync and Command wait for modsim's line.
constexpr int kAnswerTimeoutMs = 5000;

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
  int outFds[2];
  if (pipe2(outFds, O_CLOEXEC) != 0) return false;
  // A socket rather than a pipe for stdin: a write to a modsim that has exited then fails
  // (MSG_NOSIGNAL) instead of raising SIGPIPE in the caller.
  int inFds[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, inFds) != 0) {
    close(outFds[0]);
    close(outFds[1]);
    return false;
  }

  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(exe.c_str()));
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, inFds[1], STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, outFds[1], STDOUT_FILENO);
  // Only stdin, stdout and stderr: a port or pty master the caller holds must not stay open
  // in modsim, or closing it would not reach the line.
  posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
  pid_t pid = -1;
  int failed = posix_spawn(&pid, exe.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(outFds[1]);
  close(inFds[1]);
  if (failed != 0) {
    close(outFds[0]);
    close(inFds[0]);
    return false;
  }
  m_nPid = pid;
  m_hOutput = outFds[0];
  m_hInput = inFds[0];

  std::string line;
  auto any = [](const std::string&) { return true; };
  if (!TakeLine(any, nullptr, &line, NowMs() + kAnswerTimeoutMs) || line.size() < 5 ||
      (line.compare(0, 4, "PTY ") != 0 && line.compare(0, 4, "TTY ") != 0)) {
    Stop();
    return false;
  }
  m_strPath = line.substr(4);
  return true;
}

void CModsimProcess::Forget() {
  m_nPid = -1;
  if (m_hOutput >= 0) close(m_hOutput);
  m_hOutput = -1;
  if (m_hInput >= 0) close(m_hInput);
  m_hInput = -1;
  m_strOutput.clear();
  m_bOutputEnded = false;
  m_nSyncsOwed = 0;
  m_nAnswersOwed = 0;
}

bool CModsimProcess::Stop() {
  if (m_nPid <= 0) return false;
  kill(m_nPid, SIGTERM);
  int status = 0;
  while (waitpid(m_nPid, &status, 0) < 0 && errno == EINTR) {
  }
  Forget();
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool CModsimProcess::ReadMore(long long deadline) {
  for (;;) {
    const long long left = deadline - NowMs();
    if (left <= 0) return false;
    pollfd fd = {m_hOutput, POLLIN, 0};
    const int ready = poll(&fd, 1, static_cast<int>(left));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return false;
    char chunk[256];
    const ssize_t got = read(m_hOutput, chunk, sizeof chunk);
    if (got < 0 && errno == EINTR) continue;
    m_bOutputEnded = got == 0;
    if (got <= 0) return false;
    m_strOutput.append(chunk, static_cast<size_t>(got));
    return true;
  }
}

bool CModsimProcess::TakeLine(bool (*wanted)(const std::string&), int* owed, std::string* line,
                              long long deadline) {
  if (m_hOutput < 0) return false;
  size_t start = 0;
  for (;;) {
    const size_t end = m_strOutput.find('\n', start);
    if (end == std::string::npos) {
      // Lines before start are someone else's; only new bytes can hold ours.
      if (!ReadMore(deadline)) return false;
      continue;
    }
    std::string candidate = m_strOutput.substr(start, end - start);
    if (!wanted(candidate)) {
      start = end + 1;
      continue;
    }
    m_strOutput.erase(start, end + 1 - start);
    if (owed && *owed > 0) {
      --*owed;
      continue;
    }
    if (line) *line = candidate;
    return true;
  }
}

bool CModsimProcess::Sync() {
  if (m_nPid <= 0 || kill(m_nPid, SIGUSR1) != 0) return false;
  auto isSync = [](const std::string& line) { return line == "SYNC"; };
  if (TakeLine(isSync, &m_nSyncsOwed, nullptr, NowMs() + kAnswerTimeoutMs)) return true;
  ++m_nSyncsOwed;
  return false;
}

bool CModsimProcess::Command(const std::string& line, std::string* answer) {
  if (answer) answer->clear();
  if (m_hInput < 0 || line.find('\n') != std::string::npos) return false;
  const std::string sent = line + "\n";
  for (size_t done = 0; done < sent.size();) {
    const ssize_t put = send(m_hInput, sent.data() + done, sent.size() - done, MSG_NOSIGNAL);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    done += static_cast<size_t>(put);
  }
  auto isAnswer = [](const std::string& text) {
    return text.compare(0, 3, "OK ") == 0 || text.compare(0, 4, "ERR ") == 0;
  };
  std::string got;
  if (!TakeLine(isAnswer, &m_nAnswersOwed, &got, NowMs() + kAnswerTimeoutMs)) {
    ++m_nAnswersOwed;
    return false;
  }
  if (answer) *answer = got;
  return got.compare(0, 3, "OK ") == 0;
}

bool CModsimProcess::WaitExit(int timeoutMs) {
  if (m_nPid <= 0) return false;
  // modsim's stdout closes when it exits: wait for that in poll, then reap it.
  const long long deadline = NowMs() + timeoutMs;
  while (ReadMore(deadline)) m_strOutput.clear();
  if (!m_bOutputEnded) return false;
  int status = 0;
  while (waitpid(m_nPid, &status, 0) < 0 && errno == EINTR) {
  }
  Forget();
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
