// modsim: plays the Bluetooth serial module on a new pseudo-terminal or on a given tty.
// See tools/modsim/README.md for the options, the transcript and the state file.
#include <fcntl.h>
#include <getopt.h>
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
#include <string>

#include "tools/modsim/ModuleSim.h"

namespace {

// Bytes that arrive in one burst are written as one RX line; a pause this long ends the burst.
constexpr int kRxIdleMs = 50;
// After its last answer a vanishing module waits this long, so the host has read the answer
// before the line goes dead.
constexpr int kHangUpGraceMs = 200;

double NowSeconds() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

struct CPending {
  double m_dDue;
  std::vector<uint8_t> m_bytes;
  bool m_bHangUp;
};

struct COptions {
  std::string m_strTty;
  std::string m_strLink;
  std::string m_strTranscript;
  std::string m_strState;
  int m_nTrailer = 0x0A;
  CModuleState m_state;
  CFaults m_faults;
};

class CModsim {
 public:
  explicit CModsim(const COptions& options)
      : m_options(options),
        m_sim(options.m_state, options.m_faults, static_cast<uint8_t>(options.m_nTrailer)) {}
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

  COptions m_options;
  CModuleSim m_sim;
  int m_hLine = -1;      // pty master or the given tty
  int m_hKeepOpen = -1;  // our own slave fd: the master sees no hang-up between host opens
  int m_hSignals = -1;
  FILE* m_pTranscript = nullptr;
  double m_dStart = NowSeconds();
  std::string m_strPath;

  std::vector<uint8_t> m_rx;
  double m_dRxFirst = 0;
  double m_dRxLast = 0;
  std::deque<CPending> m_out;
  double m_dHangUpAt = -1;
  bool m_bWriteBlocked = false;
  bool m_bLineDown = false;
};

CModsim::~CModsim() {
  if (m_hLine >= 0) close(m_hLine);
  if (m_hKeepOpen >= 0) close(m_hKeepOpen);
  if (m_hSignals >= 0) close(m_hSignals);
  if (m_pTranscript) std::fclose(m_pTranscript);
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
  sigprocmask(SIG_BLOCK, &mask, nullptr);
  m_hSignals = signalfd(-1, &mask, SFD_CLOEXEC);
  signal(SIGPIPE, SIG_IGN);

  if (!m_options.m_strTranscript.empty()) {
    m_pTranscript = std::fopen(m_options.m_strTranscript.c_str(), "w");
    if (!m_pTranscript) {
      std::fprintf(stderr, "modsim: cannot write %s\n", m_options.m_strTranscript.c_str());
      return false;
    }
  }
  if (!m_options.m_strLink.empty()) {
    unlink(m_options.m_strLink.c_str());
    if (symlink(m_strPath.c_str(), m_options.m_strLink.c_str()) != 0) {
      std::fprintf(stderr, "modsim: cannot link %s\n", m_options.m_strLink.c_str());
      m_options.m_strLink.clear();
      return false;
    }
  }
  Log(NowSeconds(), "EV", "start " + m_strPath);
  WriteState();
  std::printf("%s %s\n", m_options.m_strTty.empty() ? "PTY" : "TTY", m_strPath.c_str());
  std::fflush(stdout);
  return true;
}

void CModsim::Log(double at, const char* kind, const std::string& text) {
  if (!m_pTranscript) return;
  std::fprintf(m_pTranscript, "t=%.3f %s %s\n", at - m_dStart, kind, text.c_str());
  std::fflush(m_pTranscript);
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
  if (m_options.m_strState.empty()) return;
  // Written beside and renamed over, so a reader never sees half a file.
  std::string temp = m_options.m_strState + ".tmp";
  FILE* file = std::fopen(temp.c_str(), "w");
  if (!file) return;
  std::string text = FormatState(m_sim.State());
  std::fwrite(text.data(), 1, text.size(), file);
  std::fclose(file);
  std::rename(temp.c_str(), m_options.m_strState.c_str());
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
    CAnswer answer;
    if (!m_sim.OnByte(buffer[i], answer)) continue;
    FlushRx();
    Log(now, "EV", answer.m_strNote);
    if (!answer.m_bytes.empty()) {
      double due = now + answer.m_nDelayMs / 1000.0;
      if (!m_out.empty() && m_out.back().m_dDue > due) due = m_out.back().m_dDue;
      m_out.push_back({due, answer.m_bytes, answer.m_bHangUp});
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

int CModsim::Run() {
  for (;;) {
    double now = NowSeconds();
    if (!SendDue(now)) {
      HangUp();
      return 0;
    }
    if (m_dHangUpAt >= 0 && now >= m_dHangUpAt) {
      HangUp();
      return 0;
    }

    double wake = -1;
    auto earliest = [&wake](double at) {
      if (wake < 0 || at < wake) wake = at;
    };
    if (!m_out.empty() && !m_bWriteBlocked) earliest(m_out.front().m_dDue);
    if (!m_rx.empty()) earliest(m_dRxLast + kRxIdleMs / 1000.0);
    if (m_dHangUpAt >= 0) earliest(m_dHangUpAt);
    int timeoutMs = -1;
    if (wake >= 0) timeoutMs = wake <= now ? 0 : static_cast<int>((wake - now) * 1000.0) + 1;

    pollfd fds[2] = {{m_hLine, static_cast<short>(POLLIN | (m_bWriteBlocked ? POLLOUT : 0)), 0},
                     {m_hSignals, POLLIN, 0}};
    int ready = poll(fds, 2, timeoutMs);
    if (ready < 0 && errno != EINTR) return 1;
    now = NowSeconds();
    if (fds[0].revents & POLLOUT) m_bWriteBlocked = false;
    if (fds[1].revents & POLLIN) {
      signalfd_siginfo info;
      if (read(m_hSignals, &info, sizeof info) > 0) {
        FlushRx();
        Log(now, "EV", "stop");
        WriteState();
        return 0;
      }
    }
    bool lineUp = true;
    if (fds[0].revents & POLLIN) {
      lineUp = OnInput(now);
    } else if (fds[0].revents & (POLLHUP | POLLERR)) {
      lineUp = false;
    }
    if (!lineUp) {
      // A tty whose far end is closed reports a hang-up until it is opened again; wait for
      // that in the OS rather than spinning on the poll.
      if (!m_bLineDown) Log(now, "EV", "line down");
      m_bLineDown = true;
      poll(&fds[1], 1, 100);
    } else if (fds[0].revents & POLLIN) {
      m_bLineDown = false;
    }
    if (!m_rx.empty() && now - m_dRxLast >= kRxIdleMs / 1000.0) FlushRx();
  }
}

void Usage() {
  std::fputs(
      "usage: modsim [options]\n"
      "  --tty PATH            serve this tty instead of a new pseudo-terminal\n"
      "  --link PATH           symlink to the pseudo-terminal (removed at exit)\n"
      "  --transcript FILE     every byte received and sent, with times\n"
      "  --state FILE          module state as key=value lines, rewritten on every change\n"
      "  --address AA:BB:..    own device address       (default 00:1A:7D:DA:71:13)\n"
      "  --peer AA:BB:..       peer address             (default 00:12:6F:34:56:78)\n"
      "  --name TEXT           device name              (default CORVANE-BT)\n"
      "  --pin TEXT            PIN code                 (default 1234)\n"
      "  --role master|slave   role                     (default slave)\n"
      "  --trailer HEX         byte sent after each reply line (default 0A)\n"
      "faults:\n"
      "  --silent              answer nothing\n"
      "  --no-open             answer everything but CMD_OPEN\n"
      "  --stop-after N        answer the first N framed commands, then nothing at all\n"
      "  --vanish-after N      hang up shortly after answering framed command N\n"
      "  --wrong-ack HEX       send this byte instead of ACK\n"
      "  --wrong-tag HEX       send this byte instead of the reply tag\n"
      "  --cut N               end reply lines after N payload bytes, without CR\n"
      "  --overlong N          add N payload bytes to reply lines\n"
      "  --cr-in-address       send the third address byte as 0D\n"
      "  --extra-after-ack HEX send this byte right after ACK\n"
      "  --delay MS            wait before answering\n"
      "  --no-store LETTERS    acknowledge these setting commands but keep the old value\n"
      "  --only LETTERS        reply faults only for these commands ('0' is the probe)\n"
      "  --times K             reply faults only for the first K replies they hit\n",
      stderr);
}

bool ParseInt(const char* text, int base, int low, int high, int& out) {
  char* end = nullptr;
  errno = 0;
  long value = std::strtol(text, &end, base);
  if (errno != 0 || end == text || *end != '\0' || value < low || value > high) return false;
  out = static_cast<int>(value);
  return true;
}

bool ParseOptions(int argc, char** argv, COptions& o) {
  enum {
    Tty = 1000,
    Link,
    Transcript,
    State,
    Address,
    Peer,
    Name,
    Pin,
    Role,
    Trailer,
    Silent,
    NoOpen,
    StopAfter,
    VanishAfter,
    WrongAck,
    WrongTag,
    Cut,
    Overlong,
    CrInAddress,
    ExtraAfterAck,
    Delay,
    Only,
    NoStore,
    Times,
    Help
  };
  static const option longOptions[] = {
      {"tty", required_argument, nullptr, Tty},
      {"link", required_argument, nullptr, Link},
      {"transcript", required_argument, nullptr, Transcript},
      {"state", required_argument, nullptr, State},
      {"address", required_argument, nullptr, Address},
      {"peer", required_argument, nullptr, Peer},
      {"name", required_argument, nullptr, Name},
      {"pin", required_argument, nullptr, Pin},
      {"role", required_argument, nullptr, Role},
      {"trailer", required_argument, nullptr, Trailer},
      {"silent", no_argument, nullptr, Silent},
      {"no-open", no_argument, nullptr, NoOpen},
      {"stop-after", required_argument, nullptr, StopAfter},
      {"vanish-after", required_argument, nullptr, VanishAfter},
      {"wrong-ack", required_argument, nullptr, WrongAck},
      {"wrong-tag", required_argument, nullptr, WrongTag},
      {"cut", required_argument, nullptr, Cut},
      {"overlong", required_argument, nullptr, Overlong},
      {"cr-in-address", no_argument, nullptr, CrInAddress},
      {"extra-after-ack", required_argument, nullptr, ExtraAfterAck},
      {"delay", required_argument, nullptr, Delay},
      {"only", required_argument, nullptr, Only},
      {"no-store", required_argument, nullptr, NoStore},
      {"times", required_argument, nullptr, Times},
      {"help", no_argument, nullptr, Help},
      {nullptr, 0, nullptr, 0}};
  CFaults& f = o.m_faults;
  int opt;
  while ((opt = getopt_long(argc, argv, "", longOptions, nullptr)) != -1) {
    bool ok = true;
    switch (opt) {
      case Tty:
        o.m_strTty = optarg;
        break;
      case Link:
        o.m_strLink = optarg;
        break;
      case Transcript:
        o.m_strTranscript = optarg;
        break;
      case State:
        o.m_strState = optarg;
        break;
      case Address:
        ok = ParseAddress(optarg, o.m_state.m_abAddress);
        break;
      case Peer:
        ok = ParseAddress(optarg, o.m_state.m_abPeer);
        break;
      case Name:
        o.m_state.m_strName = optarg;
        break;
      case Pin:
        o.m_state.m_strPin = optarg;
        break;
      case Role:
        ok = std::strcmp(optarg, "master") == 0 || std::strcmp(optarg, "slave") == 0;
        o.m_state.m_bMaster = std::strcmp(optarg, "master") == 0;
        break;
      case Trailer:
        ok = ParseInt(optarg, 16, 0, 255, o.m_nTrailer);
        break;
      case Silent:
        f.m_bSilent = true;
        break;
      case NoOpen:
        f.m_bNoOpen = true;
        break;
      case StopAfter:
        ok = ParseInt(optarg, 10, 0, 1 << 30, f.m_nStopAfter);
        break;
      case VanishAfter:
        ok = ParseInt(optarg, 10, 1, 1 << 30, f.m_nVanishAfter);
        break;
      case WrongAck:
        ok = ParseInt(optarg, 16, 0, 255, f.m_nWrongAck);
        break;
      case WrongTag:
        ok = ParseInt(optarg, 16, 0, 255, f.m_nWrongTag);
        break;
      case Cut:
        ok = ParseInt(optarg, 10, 0, 255, f.m_nCutAfter);
        break;
      case Overlong:
        ok = ParseInt(optarg, 10, 0, 255, f.m_nOverlong);
        break;
      case CrInAddress:
        f.m_bCrInAddress = true;
        break;
      case ExtraAfterAck:
        ok = ParseInt(optarg, 16, 0, 255, f.m_nExtraAfterAck);
        break;
      case Delay:
        ok = ParseInt(optarg, 10, 0, 600000, f.m_nDelayMs);
        break;
      case Only:
        f.m_strOnly = optarg;
        break;
      case NoStore:
        f.m_strNoStore = optarg;
        break;
      case Times:
        ok = ParseInt(optarg, 10, 0, 1 << 30, f.m_nTimes);
        break;
      default:
        ok = false;
        break;
    }
    if (!ok) return false;
  }
  return optind == argc;
}

}  // namespace

int main(int argc, char** argv) {
  COptions options;
  if (!ParseOptions(argc, argv, options)) {
    Usage();
    return 2;
  }
  CModsim modsim(options);
  if (!modsim.Start()) return 1;
  return modsim.Run();
}
