#include "tools/modsim/Options.h"

#include <getopt.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace {

bool ParseInt(const char* text, int base, int low, int high, int& out) {
  char* end = nullptr;
  errno = 0;
  long value = std::strtol(text, &end, base);
  if (errno != 0 || end == text || *end != '\0' || value < low || value > high) return false;
  out = static_cast<int>(value);
  return true;
}

}  // namespace

bool ParseSetting(const std::string& name, const std::string& value, CModuleState& state) {
  if (name == "address") return ParseAddress(value, state.m_abAddress);
  if (name == "peer") return ParseAddress(value, state.m_abPeer);
  if (name == "name") {
    state.m_strName = value;
    return true;
  }
  if (name == "pin") {
    state.m_strPin = value;
    return true;
  }
  if (name != "role" || (value != "master" && value != "slave")) return false;
  state.m_bMaster = value == "master";
  return true;
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
      "  --absent              start with no module on the line (see control lines)\n"
      "faults:\n"
      "  --silent              answer nothing\n"
      "  --no-open             answer everything but CMD_OPEN\n"
      "  --stop-after N        answer the first N framed commands, then nothing at all\n"
      "  --vanish-after N      hang up shortly after answering framed command N\n"
      "  --remove-after N      take the module off the line after answering command N\n"
      "  --swap-after N        after answering command N, put another module in its place\n"
      "                        (once)\n"
      "  --swap-to ADDRESS     that module's address (default 00:1A:7D:DA:71:14)\n"
      "  --swap-gap MS         how long the jig stays empty in between (default 20)\n"
      "  --wrong-ack HEX       send this byte instead of ACK\n"
      "  --wrong-tag HEX       send this byte instead of the reply tag\n"
      "  --cut N               end reply lines after N payload bytes, without CR\n"
      "  --overlong N          add N payload bytes to reply lines\n"
      "  --cr-in-address       send the third address byte as 0D\n"
      "  --extra-after-ack HEX send this byte right after ACK\n"
      "  --delay MS            wait before answering\n"
      "  --settle MS           ignore commands for MS ms after acknowledging a setting\n"
      "  --no-store LETTERS    acknowledge these setting commands but keep the old value\n"
      "  --only LETTERS        reply faults only for these commands ('0' is the probe)\n"
      "  --times K             reply faults only for the first K replies they hit\n"
      "control lines on stdin, each answered on stdout by OK <line> or ERR <why>:\n"
      "  remove                the module is taken off the line\n"
      "  insert [--address A] [--name N] [--pin P] [--role R] [--peer A]\n"
      "                        a new module with factory settings but those given\n"
      "  unlink | link         remove or restore the --link symlink\n",
      stderr);
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
    Absent,
    Silent,
    NoOpen,
    StopAfter,
    VanishAfter,
    RemoveAfter,
    SwapAfter,
    SwapTo,
    SwapGap,
    WrongAck,
    WrongTag,
    Cut,
    Overlong,
    CrInAddress,
    ExtraAfterAck,
    Delay,
    Settle,
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
      {"absent", no_argument, nullptr, Absent},
      {"silent", no_argument, nullptr, Silent},
      {"no-open", no_argument, nullptr, NoOpen},
      {"stop-after", required_argument, nullptr, StopAfter},
      {"vanish-after", required_argument, nullptr, VanishAfter},
      {"remove-after", required_argument, nullptr, RemoveAfter},
      {"swap-after", required_argument, nullptr, SwapAfter},
      {"swap-to", required_argument, nullptr, SwapTo},
      {"swap-gap", required_argument, nullptr, SwapGap},
      {"wrong-ack", required_argument, nullptr, WrongAck},
      {"wrong-tag", required_argument, nullptr, WrongTag},
      {"cut", required_argument, nullptr, Cut},
      {"overlong", required_argument, nullptr, Overlong},
      {"cr-in-address", no_argument, nullptr, CrInAddress},
      {"extra-after-ack", required_argument, nullptr, ExtraAfterAck},
      {"delay", required_argument, nullptr, Delay},
      {"settle", required_argument, nullptr, Settle},
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
        ok = ParseSetting("address", optarg, o.m_state);
        break;
      case Peer:
        ok = ParseSetting("peer", optarg, o.m_state);
        break;
      case Name:
        ok = ParseSetting("name", optarg, o.m_state);
        break;
      case Pin:
        ok = ParseSetting("pin", optarg, o.m_state);
        break;
      case Role:
        ok = ParseSetting("role", optarg, o.m_state);
        break;
      case Trailer:
        ok = ParseInt(optarg, 16, 0, 255, o.m_nTrailer);
        break;
      case Absent:
        o.m_bAbsent = true;
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
      case RemoveAfter:
        ok = ParseInt(optarg, 10, 1, 1 << 30, f.m_nRemoveAfter);
        break;
      case SwapAfter:
        ok = ParseInt(optarg, 10, 1, 1 << 30, f.m_nSwapAfter);
        break;
      case SwapTo:
        ok = ParseAddress(optarg, o.m_swapState.m_abAddress);
        break;
      case SwapGap:
        ok = ParseInt(optarg, 10, 0, 600000, o.m_nSwapGapMs);
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
      case Settle:
        ok = ParseInt(optarg, 10, 0, 600000, f.m_nSettleMs);
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
