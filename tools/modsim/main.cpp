// modsim: plays the Bluetooth serial module on a new pseudo-terminal or on a given tty.
// See tools/modsim/README.md for the options, the transcript and the state file.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <memory>
#include <string>

#include "tools/modsim/Control.h"
#include "tools/modsim/DiskWriter.h"
#include "tools/modsim/ModuleSim.h"
#include "tools/modsim/Options.h"

namespace {

// Bytes that arrive in one burst are written as one RX line; a pause this long ends the burst.
constexpr int kRxIdleMs = 50;
// After its last answer a vanishing module waits this long, so the host has read the answer
// before the line goes dead.
constexpr int kHangUpGraceMs = 200;
// A module pulled after its last answer (--remove-after) stays this long, so the answer has
// left the line before the module does.
constexpr int kRemoveGraceMs = 20;

double NowSeconds() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

struct CPending {
  double m_dDue;
  std::vector<uint8_t> m_bytes;
  bool m_bHangUp;
  bool m_bRemove;
  bool m_bSwap;
};

class CModsim {
 public:
  explicit CModsim(const COptions& options)
      : m_options(options),
        m_sim(options.m_state, options.m_faults, static_cast<uint8_t>(options.m_nTrailer)),
        m_bPresent(!options.m_bAbsent),
        m_nInserted(options.m_bAbsent ? 0 : 1) {}
  ~CModsim();

  bool Start();
  int Run();

 private:
  bool OpenPty();
  bool OpenTty();
  void Log(double at, const char* kind, const std::string& text);
  void LogBytes(double at, const char* kind, const uint8_t* bytes, size_t n);
  void FlushRx();
  void WriteState();
  // False when the line reported input but gave none: its far end is gone.
  bool OnInput(double now);
  bool SendDue(double now);
  void HangUp();
  // Each control line gets one answer on stdout once it has taken effect.
  void OnControl(const std::string& line, double now);
  bool Apply(const CControl& control, double now, std::string& why);
  void Remove(double now);
  // --swap-after: the other module goes on, once; it is not swapped again.
  void SwapIn(double now);
  // The --link symlink to the line, made again or taken away.
  bool Link(std::string& why);
  bool Unlink(std::string& why);
  // False when modsim is to stop (SIGTERM, SIGINT).
  bool OnSignal(double now);
  int PollTimeoutMs(double now) const;

  COptions m_options;
  CModuleSim m_sim;
  int m_hLine = -1;      // pty master or the given tty
  int m_hKeepOpen = -1;  // our own slave fd: the master sees no hang-up between host opens
  int m_hSignals = -1;
  // Every write to the disk goes through it, off the line's path.
  std::unique_ptr<CDiskWriter> m_pWriter;
  double m_dStart = NowSeconds();
  std::string m_strPath;

  std::vector<uint8_t> m_rx;
  double m_dRxFirst = 0;
  double m_dRxLast = 0;
  std::deque<CPending> m_out;
  double m_dHangUpAt = -1;
  // The jig: whether a module is on the line and how many have been.
  bool m_bPresent;
  int m_nInserted;
  double m_dRemoveAt = -1;
  // --swap-after: when the other module goes on.
  double m_dSwapAt = -1;
  CLineReader m_input{STDIN_FILENO};
  bool m_bWriteBlocked = false;
  bool m_bLineDown = false;
};

CModsim::~CModsim() {
  m_pWriter.reset();
  if (m_hLine >= 0) close(m_hLine);
  if (m_hKeepOpen >= 0) close(m_hKeepOpen);
  if (m_hSignals >= 0) close(m_hSignals);
  if (!m_options.m_strLink.empty()) unlink(m_options.m_strLink.c_str());
}

void SetRaw(int fd) {
  termios tio;
  if (tcgetattr(fd, &tio) != 0) return;
  cfmakeraw(&tio);
  tio.c_cflag |= CLOCAL | CREAD;
  tio.c_cflag &= ~static_cast<tcflag_t>(HUPCL | CRTSCTS);
  tio.c_cc[VMIN] = 1;
  tio.c_cc[VTIME] = 0;
  cfsetispeed(&tio, B9600);
  cfsetospeed(&tio, B9600);
  tcsetattr(fd, TCSANOW, &tio);
}

bool CModsim::OpenPty() {
  m_hLine = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (m_hLine < 0 || grantpt(m_hLine) != 0 || unlockpt(m_hLine) != 0) return false;
  char path[128];
  if (ptsname_r(m_hLine, path, sizeof path) != 0) return false;
  m_strPath = path;
  m_hKeepOpen = open(path, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (m_hKeepOpen < 0) return false;
  // Raw from the start, so that a host which does not set the line up gets no echo and no
  // CR/LF translation of the module's bytes.
  SetRaw(m_hKeepOpen);
  return true;
}

bool CModsim::OpenTty() {
  m_strPath = m_options.m_strTty;
  m_hLine = open(m_strPath.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (m_hLine < 0) return false;
  SetRaw(m_hLine);
  return true;
}

bool CModsim::Start() {
  bool ok = m_options.m_strTty.empty() ? OpenPty() : OpenTty();
  if (!ok) {
    std::fprintf(stderr, "modsim: cannot open the line: %s\n", std::strerror(errno));
    return false;
  }
  fcntl(m_hLine, F_SETFL, fcntl(m_hLine, F_GETFL) | O_NONBLOCK);

  sigset_t mask;
  sigemptyset(&mask);
  sigaddset(&mask, SIGTERM);
  sigaddset(&mask, SIGINT);
  sigaddset(&mask, SIGUSR1);
  sigprocmask(SIG_BLOCK, &mask, nullptr);
  m_hSignals = signalfd(-1, &mask, SFD_CLOEXEC);
  signal(SIGPIPE, SIG_IGN);
  // Started in the background of a terminal, a read of stdin fails (EIO) instead of stopping
  // modsim: it then stops reading control lines and goes on serving the line.
  signal(SIGTTIN, SIG_IGN);

  FILE* transcript = nullptr;
  if (!m_options.m_strTranscript.empty()) {
    transcript = std::fopen(m_options.m_strTranscript.c_str(), "w");
    if (!transcript) {
      std::fprintf(stderr, "modsim: cannot write %s\n", m_options.m_strTranscript.c_str());
      return false;
    }
  }
  // After the signals are blocked: the writer's thread must not take SIGTERM itself.
  m_pWriter = std::make_unique<CDiskWriter>(transcript, m_options.m_strState);
  std::string why;
  if (!m_options.m_strLink.empty() && !Link(why)) {
    std::fprintf(stderr, "modsim: %s\n", why.c_str());
    m_options.m_strLink.clear();
    return false;
  }
  Log(NowSeconds(), "EV", "start " + m_strPath);
  WriteState();
  // Nothing is answered yet: whoever reads the line's path may rely on the first state.
  m_pWriter->Drain();
  std::printf("%s %s\n", m_options.m_strTty.empty() ? "PTY" : "TTY", m_strPath.c_str());
  std::fflush(stdout);
  return true;
}

void CModsim::Log(double at, const char* kind, const std::string& text) {
  if (!m_pWriter) return;
  char time[32];
  std::snprintf(time, sizeof time, "t=%.3f ", at - m_dStart);
  m_pWriter->Append(time + std::string(kind) + " " + text + "\n");
}

void CModsim::LogBytes(double at, const char* kind, const uint8_t* bytes, size_t n) {
  std::string hex;
  for (size_t i = 0; i < n; ++i) {
    char two[4];
    std::snprintf(two, sizeof two, i ? " %02x" : "%02x", bytes[i]);
    hex += two;
  }
  Log(at, kind, hex);
}

void CModsim::FlushRx() {
  if (m_rx.empty()) return;
  LogBytes(m_dRxFirst, "RX", m_rx.data(), m_rx.size());
  m_rx.clear();
}

void CModsim::WriteState() {
  if (!m_pWriter) return;
  m_pWriter->SetState(FormatState(m_sim.State()) + "present=" + (m_bPresent ? "1" : "0") +
                      "\ninserted=" + std::to_string(m_nInserted) + "\n");
}

bool CModsim::OnInput(double now) {
  uint8_t buffer[256];
  ssize_t got = read(m_hLine, buffer, sizeof buffer);
  if (got < 0 && (errno == EAGAIN || errno == EINTR)) return true;
  if (got <= 0) return false;
  for (ssize_t i = 0; i < got; ++i) {
    if (m_rx.empty()) m_dRxFirst = now;
    m_rx.push_back(buffer[i]);
    m_dRxLast = now;
    // An empty jig hears the host's bytes (they are logged) but nothing answers them.
    if (!m_bPresent) continue;
    CAnswer answer;
    if (!m_sim.OnByte(buffer[i], answer, static_cast<long long>((now - m_dStart) * 1000.0))) {
      continue;
    }
    FlushRx();
    Log(now, "EV", answer.m_strNote);
    if (!answer.m_bytes.empty()) {
      double due = now + answer.m_nDelayMs / 1000.0;
      if (!m_out.empty() && m_out.back().m_dDue > due) due = m_out.back().m_dDue;
      m_out.push_back({due, answer.m_bytes, answer.m_bHangUp, answer.m_bRemove, answer.m_bSwap});
      // The answer goes out first; a line that has gone away is noticed by the loop.
      SendDue(now);
    }
    if (m_sim.TakeStateChanged()) WriteState();
  }
  return true;
}

// False when the line has gone away.
bool CModsim::SendDue(double now) {
  while (!m_out.empty() && m_out.front().m_dDue <= now) {
    CPending& front = m_out.front();
    FlushRx();
    ssize_t put = write(m_hLine, front.m_bytes.data(), front.m_bytes.size());
    if (put < 0) {
      if (errno == EINTR) return true;
      // The host is not reading and the pty's buffer is full: wait for POLLOUT.
      m_bWriteBlocked = errno == EAGAIN;
      return m_bWriteBlocked;
    }
    LogBytes(now, "TX", front.m_bytes.data(), static_cast<size_t>(put));
    front.m_bytes.erase(front.m_bytes.begin(), front.m_bytes.begin() + put);
    if (!front.m_bytes.empty()) return true;
    if (front.m_bHangUp) m_dHangUpAt = now + kHangUpGraceMs / 1000.0;
    if (front.m_bRemove && m_dRemoveAt < 0) m_dRemoveAt = now + kRemoveGraceMs / 1000.0;
    if (front.m_bSwap && m_dSwapAt < 0) {
      m_dSwapAt = now + (kRemoveGraceMs + m_options.m_nSwapGapMs) / 1000.0;
    }
    m_out.pop_front();
  }
  return true;
}

void CModsim::HangUp() {
  FlushRx();
  Log(NowSeconds(), "EV", "hang-up");
  close(m_hLine);
  m_hLine = -1;
  if (m_hKeepOpen >= 0) close(m_hKeepOpen);
  m_hKeepOpen = -1;
}

void CModsim::Remove(double now) {
  if (!m_bPresent) return;
  FlushRx();
  // The module is gone mid-answer: what it had not yet sent never comes.
  m_out.clear();
  m_dHangUpAt = -1;
  m_dRemoveAt = -1;
  m_bPresent = false;
  Log(now, "EV", "removed");
  WriteState();
}

void CModsim::SwapIn(double now) {
  m_dSwapAt = -1;
  CControl control;
  control.m_eKind = EControl::Insert;
  control.m_state = m_options.m_swapState;
  m_options.m_faults.m_nSwapAfter = -1;
  std::string why;
  Apply(control, now, why);
}

bool CModsim::Unlink(std::string& why) {
  const std::string& link = m_options.m_strLink;
  if (link.empty()) {
    why = "no --link given";
    return false;
  }
  if (unlink(link.c_str()) != 0 && errno != ENOENT) {
    why = "cannot remove " + link + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

bool CModsim::Link(std::string& why) {
  if (!Unlink(why)) return false;
  if (symlink(m_strPath.c_str(), m_options.m_strLink.c_str()) != 0) {
    why = "cannot link " + m_options.m_strLink + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

bool CModsim::Apply(const CControl& control, double now, std::string& why) {
  switch (control.m_eKind) {
    case EControl::Remove:
      Remove(now);
      return true;
    case EControl::Insert:
      Remove(now);
      // A new module: its own settings, counters and settling, the same faults as the first.
      m_sim = CModuleSim(control.m_state, m_options.m_faults,
                         static_cast<uint8_t>(m_options.m_nTrailer));
      m_sim.TakeStateChanged();
      m_bPresent = true;
      ++m_nInserted;
      Log(now, "EV", "inserted " + FormatAddress(control.m_state.m_abAddress));
      WriteState();
      return true;
    case EControl::Link:
      return Link(why);
    case EControl::Unlink:
      return Unlink(why);
  }
  return false;
}

void CModsim::OnControl(const std::string& line, double now) {
  CControl control;
  std::string why;
  bool ok = false;
  if (line.size() > CLineReader::kMaxLine) {
    why = "line too long";
  } else {
    ok = ParseControl(line, control, why) && Apply(control, now, why);
  }
  std::printf("%s %s\n", ok ? "OK" : "ERR", ok ? line.c_str() : why.c_str());
  std::fflush(stdout);
}

bool CModsim::OnSignal(double now) {
  signalfd_siginfo info{};
  if (read(m_hSignals, &info, sizeof info) <= 0) return true;
  FlushRx();
  if (info.ssi_signo != SIGUSR1) {
    Log(now, "EV", "stop");
    WriteState();
    return false;
  }
  // Someone wants the files to hold everything up to now before reading them.
  m_pWriter->Drain();
  std::printf("SYNC\n");
  std::fflush(stdout);
  return true;
}

int CModsim::PollTimeoutMs(double now) const {
  double wake = -1;
  auto earliest = [&wake](double at) {
    if (at >= 0 && (wake < 0 || at < wake)) wake = at;
  };
  if (!m_out.empty() && !m_bWriteBlocked) earliest(m_out.front().m_dDue);
  if (!m_rx.empty()) earliest(m_dRxLast + kRxIdleMs / 1000.0);
  earliest(m_dHangUpAt);
  earliest(m_dRemoveAt);
  earliest(m_dSwapAt);
  if (wake < 0) return -1;
  return wake <= now ? 0 : static_cast<int>((wake - now) * 1000.0) + 1;
}

int CModsim::Run() {
  for (;;) {
    double now = NowSeconds();
    if (!SendDue(now) || (m_dHangUpAt >= 0 && now >= m_dHangUpAt)) {
      HangUp();
      return 0;
    }
    if (m_dRemoveAt >= 0 && now >= m_dRemoveAt) Remove(now);
    if (m_dSwapAt >= 0 && now >= m_dSwapAt) SwapIn(now);

    pollfd fds[3] = {{m_hLine, static_cast<short>(POLLIN | (m_bWriteBlocked ? POLLOUT : 0)), 0},
                     {m_hSignals, POLLIN, 0},
                     {m_input.Fd(), POLLIN, 0}};
    int ready = poll(fds, 3, PollTimeoutMs(now));
    if (ready < 0 && errno != EINTR) return 1;
    now = NowSeconds();
    if (fds[0].revents & POLLOUT) m_bWriteBlocked = false;
    if ((fds[1].revents & POLLIN) && !OnSignal(now)) return 0;
    bool lineUp = true;
    if (fds[0].revents & POLLIN) {
      lineUp = OnInput(now);
    } else if (fds[0].revents & (POLLHUP | POLLERR)) {
      lineUp = false;
    }
    if (!lineUp) {
      // A tty whose far end is closed reports a hang-up until it is opened again; wait for
      // that in the OS rather than spinning on the poll (signals and control lines still
      // end the wait).
      if (!m_bLineDown) Log(now, "EV", "line down");
      m_bLineDown = true;
      poll(&fds[1], 2, 100);
    } else if (fds[0].revents & POLLIN) {
      m_bLineDown = false;
    }
    // After the line's bytes: what the host sent before a module came or went was heard by
    // the jig as it was then.
    if (fds[2].revents) {
      std::vector<std::string> lines;
      m_input.Read(lines);
      for (const std::string& line : lines) OnControl(line, now);
    }
    if (!m_rx.empty() && now - m_dRxLast >= kRxIdleMs / 1000.0) FlushRx();
  }
}

}  // namespace

int main(int argc, char** argv) {
  COptions options;
  const std::string program = ProgramName(argc > 0 ? argv[0] : nullptr);
  switch (ParseOptions(argc, argv, options)) {
    case EParsed::Help:
      Usage(stdout, program);
      return 0;
    case EParsed::Version:
      // The version of the project it ships with, as corvane --version says it.
      std::printf("%s %s\n", program.c_str(), CORVANE_PROJECT_VERSION);
      return 0;
    case EParsed::Bad:
      Usage(stderr, program);
      return 2;
    case EParsed::Run:
      break;
  }
  CModsim modsim(options);
  if (!modsim.Start()) return 1;
  return modsim.Run();
}
