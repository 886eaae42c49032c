#include "engine/os/Interrupt.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

namespace {

CInterrupt* g_pReceiver = nullptr;

void OnSignal(int) {
  if (g_pReceiver != nullptr) g_pReceiver->Set();
}

}  // namespace

struct CInterrupt::CWaitable {
  int m_fds[2] = {-1, -1};
};

CInterrupt::CInterrupt() : m_pWaitable(std::make_unique<CWaitable>()) {
  int* fds = m_pWaitable->m_fds;
  if (pipe(fds) == 0) {
    for (int k = 0; k < 2; ++k) {
      fcntl(fds[k], F_SETFD, FD_CLOEXEC);
      fcntl(fds[k], F_SETFL, O_NONBLOCK);
    }
  } else {
    fds[0] = fds[1] = -1;
  }
}

CInterrupt::~CInterrupt() {
  if (g_pReceiver == this) g_pReceiver = nullptr;
  for (int fd : m_pWaitable->m_fds) {
    if (fd >= 0) close(fd);
  }
}

void CInterrupt::Set() {
  // Only async-signal-safe calls here. The byte is never read, so the pipe stays readable and
  // wakes every waiter, now and later.
  if (m_bSet.exchange(true)) return;
  if (m_pWaitable->m_fds[1] >= 0) {
    const char byte = 1;
    const ssize_t written = write(m_pWaitable->m_fds[1], &byte, 1);
    (void)written;
  }
}

bool CInterrupt::Wait(DWORD ms) const {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(ms);
  for (;;) {
    if (IsSet()) return true;
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return IsSet();
    pollfd pfd{m_pWaitable->m_fds[0], POLLIN, 0};
    // Without a pipe (no descriptor left) poll() on -1 still sleeps out the time.
    const int ready = poll(&pfd, 1, static_cast<int>(left));
    if (ready < 0 && errno != EINTR) return IsSet();
  }
}

void CInterrupt::InstallHandlers() {
  g_pReceiver = this;
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  // No SA_RESTART: a blocked system call returns EINTR, and every wait of ours looks at the
  // flag again before it resumes.
  action.sa_flags = 0;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  // A closed terminal or a dropped SSH session ends a run like Ctrl-C, with its report.
  sigaction(SIGHUP, &action, nullptr);
  // A reader that went away is seen as a failed write (EPIPE), after the report is written.
  signal(SIGPIPE, SIG_IGN);
}
