#include "cli/OperatorConsole.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

struct COperatorConsole::CHandles {
  int m_hTty = -1;
};

COperatorConsole::COperatorConsole() : m_pHandles(std::make_unique<CHandles>()) {}

COperatorConsole::~COperatorConsole() {
  if (m_pHandles->m_hTty >= 0) close(m_pHandles->m_hTty);
}

bool COperatorConsole::Open(std::string* why) {
  if (!isatty(STDIN_FILENO)) {
    *why = "the standard input is not a terminal";
    return false;
  }
  // /dev/tty opens only in a process with a controlling terminal (not under cron or nohup's
  // setsid): the operator's own, whatever stdout and stderr were sent to.
  m_pHandles->m_hTty = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (m_pHandles->m_hTty < 0) {
    *why = "there is no controlling terminal";
    return false;
  }
  return true;
}

void COperatorConsole::Say(const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t wrote = write(m_pHandles->m_hTty, text.data() + done, text.size() - done);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) return;
    done += static_cast<size_t>(wrote);
  }
}

void COperatorConsole::Ask(const std::string& text) {
  tcflush(m_pHandles->m_hTty, TCIFLUSH);
  Say(text);
}

COperatorConsole::EAnswer COperatorConsole::WaitEnter(const CInterrupt& interrupt) {
  // Ctrl-C's signal is held back between the look at the flag and the wait, and let through
  // only inside ppoll: one that comes at any moment ends the wait (EINTR), none is missed.
  sigset_t held, before;
  sigemptyset(&held);
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&held, signal);
  pthread_sigmask(SIG_BLOCK, &held, &before);
  EAnswer answer = EAnswer::Interrupted;
  for (;;) {
    if (interrupt.IsSet()) break;
    pollfd pfd{m_pHandles->m_hTty, POLLIN, 0};
    const int ready = ppoll(&pfd, 1, nullptr, &before);
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0) {
      answer = EAnswer::EndOfInput;
      break;
    }
    char byte = 0;
    const ssize_t got = read(m_pHandles->m_hTty, &byte, 1);
    if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (got <= 0) {
      answer = EAnswer::EndOfInput;
      break;
    }
    if (byte == '\n' || byte == '\r') {
      answer = EAnswer::Enter;
      break;
    }
  }
  pthread_sigmask(SIG_SETMASK, &before, nullptr);
  return answer;
}
