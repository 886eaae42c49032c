// corvane pair --port at a real terminal, for the tests: the program runs with a
// pseudo-terminal as its controlling terminal and its stdin, stdout and stderr; the test types
// there as the operator would, and swaps the module on modsim's jig.
#pragma once

#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>

#include <chrono>
#include <string>
#include <vector>

#include "cli/CliRig.h"

const char kMaster[] = "insert --address 00:00:00:00:00:0A --pin 1111 --name HEAD";
const char kSlave[] = "insert --address 00:00:00:00:00:0B --pin 2222 --role master --name B";

// The operator's console: corvane on the slave side of a pty, the test at the master side.
class CConsole {
 public:
  // state: the user's state folder the program is given (XDG_STATE_HOME), the rig's own.
  CConsole(const std::vector<std::string>& args, const std::string& state) {
    m_hMaster = posix_openpt(O_RDWR | O_NOCTTY);
    if (m_hMaster < 0 || grantpt(m_hMaster) != 0 || unlockpt(m_hMaster) != 0) return;
    const std::string slave = ptsname(m_hMaster);
    std::vector<std::string> all = {"corvane"};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& arg : all) argv.push_back(&arg[0]);
    argv.push_back(nullptr);
    m_nChild = fork();
    if (m_nChild != 0) return;
    // A session of its own, whose first terminal opened becomes its controlling terminal.
    setsid();
    setenv("XDG_STATE_HOME", state.c_str(), 1);
    const int tty = open(slave.c_str(), O_RDWR);
    ioctl(tty, TIOCSCTTY, 0);
    for (int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) dup2(tty, fd);
    close(m_hMaster);
    execv(CORVANE_PATH, argv.data());
    _exit(127);
  }
  ~CConsole() {
    if (m_nChild > 0) {
      int status = 0;
      CCliRig::WaitExit(m_nChild, 1, &status);
    }
    if (m_hMaster >= 0) close(m_hMaster);
  }

  // Waits until text has appeared on the screen after what was waited for before; false when
  // the program ends or the time-out (a minute unless given) passes first.
  bool WaitFor(const std::string& text, int timeoutMs = 60000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
      const size_t found = m_strScreen.find(text, m_nSeen);
      if (found != std::string::npos) {
        m_nSeen = found + text.size();
        return true;
      }
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                            deadline - std::chrono::steady_clock::now())
                            .count();
      if (left <= 0 || !ReadMore(static_cast<int>(left))) return false;
    }
  }
  void Type(const std::string& keys) {
    const ssize_t wrote = write(m_hMaster, keys.data(), keys.size());
    (void)wrote;
  }
  // The exit code once the program has ended (reading the screen to the end), -1 if it does
  // not within a minute.
  int Exit() {
    while (ReadMore(60000)) {
    }
    int status = 0;
    const bool ended = CCliRig::WaitExit(m_nChild, 60, &status);
    m_nChild = -1;
    return ended && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  const std::string& Screen() const { return m_strScreen; }

 private:
  bool ReadMore(int timeoutMs) {
    pollfd pfd{m_hMaster, POLLIN, 0};
    if (poll(&pfd, 1, timeoutMs) <= 0) return false;
    char buffer[512];
    const ssize_t got = read(m_hMaster, buffer, sizeof buffer);
    if (got <= 0) return false;  // EIO: the program has closed the terminal
    m_strScreen.append(buffer, static_cast<size_t>(got));
    return true;
  }

  int m_hMaster = -1;
  pid_t m_nChild = -1;
  std::string m_strScreen;
  size_t m_nSeen = 0;
};
