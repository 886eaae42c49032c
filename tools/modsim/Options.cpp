#include "tools/modsim/Options.h"

#include <getopt.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

bool ParseInt(const char* text, int base, int low, int high, int& out) {
  char* end = nullptr;
  errno = 0;
  long value = std::strtol(text, &end, base);
  if (errno != 0 || end == text || *end != '\0' || value < low || value > high) return false;
  out = static_cast<int>(value);
  return true;
}

// One option: its name, whether it takes a value, and what it does with it (false on a bad
// value). A flag's handler is given no value.
struct COptionRow {
  const char* m_szName;
  bool m_bTakesValue;
  bool (*m_fnApply)(COptions& options, const char* value);
};

constexpr int kMany = 1 << 30;
constexpr int kLongMs = 600000;

template <std::string COptions::*kMember>
bool Text(COptions& o, const char* value) {
  o.*kMember = value;
  return true;
}

template <std::string CFaults::*kMember>
bool FaultText(COptions& o, const char* value) {
  o.m_faults.*kMember = value;
  return true;
}

template <int COptions::*kMember, int kBase, int kLow, int kHigh>
bool Number(COptions& o, const char* value) {
  return ParseInt(value, kBase, kLow, kHigh, o.*kMember);
}

template <int CFaults::*kMember, int kBase, int kLow, int kHigh>
bool FaultNumber(COptions& o, const char* value) {
  return ParseInt(value, kBase, kLow, kHigh, o.m_faults.*kMember);
}

template <bool CFaults::*kMember>
bool FaultFlag(COptions& o, const char*) {
  o.m_faults.*kMember = true;
  return true;
}

bool Absent(COptions& o, const char*) {
  o.m_bAbsent = true;
  return true;
}

bool SwapTo(COptions& o, const char* value) {
  return ParseAddress(value, o.m_swapState.m_abAddress);
}

// The module's own settings are checked as a control line's insert checks them.
template <const char* kName>
bool Setting(COptions& o, const char* value) {
  return ParseSetting(kName, value, o.m_state);
}

constexpr char kAddress[] = "address";
constexpr char kPeer[] = "peer";
constexpr char kName[] = "name";
constexpr char kPin[] = "pin";
constexpr char kRole[] = "role";

const COptionRow kRows[] = {
    {"tty", true, Text<&COptions::m_strTty>},
    {"link", true, Text<&COptions::m_strLink>},
    {"transcript", true, Text<&COptions::m_strTranscript>},
    {"state", true, Text<&COptions::m_strState>},
    {kAddress, true, Setting<kAddress>},
    {kPeer, true, Setting<kPeer>},
    {kName, true, Setting<kName>},
    {kPin, true, Setting<kPin>},
    {kRole, true, Setting<kRole>},
    {"trailer", true, Number<&COptions::m_nTrailer, 16, 0, 255>},
    {"absent", false, Absent},
    {"silent", false, FaultFlag<&CFaults::m_bSilent>},
    {"no-open", false, FaultFlag<&CFaults::m_bNoOpen>},
    {"stop-after", true, FaultNumber<&CFaults::m_nStopAfter, 10, 0, kMany>},
    {"vanish-after", true, FaultNumber<&CFaults::m_nVanishAfter, 10, 1, kMany>},
    {"remove-after", true, FaultNumber<&CFaults::m_nRemoveAfter, 10, 1, kMany>},
    {"swap-after", true, FaultNumber<&CFaults::m_nSwapAfter, 10, 1, kMany>},
    {"swap-to", true, SwapTo},
    {"swap-gap", true, Number<&COptions::m_nSwapGapMs, 10, 0, kLongMs>},
    {"wrong-ack", true, FaultNumber<&CFaults::m_nWrongAck, 16, 0, 255>},
    {"wrong-tag", true, FaultNumber<&CFaults::m_nWrongTag, 16, 0, 255>},
    {"cut", true, FaultNumber<&CFaults::m_nCutAfter, 10, 0, 255>},
    {"overlong", true, FaultNumber<&CFaults::m_nOverlong, 10, 0, 255>},
    {"cr-in-address", false, FaultFlag<&CFaults::m_bCrInAddress>},
    {"extra-after-ack", true, FaultNumber<&CFaults::m_nExtraAfterAck, 16, 0, 255>},
    {"delay", true, FaultNumber<&CFaults::m_nDelayMs, 10, 0, kLongMs>},
    {"settle", true, FaultNumber<&CFaults::m_nSettleMs, 10, 0, kLongMs>},
    {"only", true, FaultText<&CFaults::m_strOnly>},
    {"no-store", true, FaultText<&CFaults::m_strNoStore>},
    {"times", true, FaultNumber<&CFaults::m_nTimes, 10, 0, kMany>},
};

constexpr int kRowCount = static_cast<int>(sizeof kRows / sizeof kRows[0]);
// getopt_long's codes: kFirst plus a row's index, then the two that ask rather than set. Above
// any character, so none is taken for getopt's '?' or ':'.
constexpr int kFirst = 1000;
constexpr int kHelp = kFirst + kRowCount;
constexpr int kVersion = kHelp + 1;

std::vector<option> LongOptions() {
  std::vector<option> options;
  for (int i = 0; i < kRowCount; ++i) {
    options.push_back({kRows[i].m_szName, kRows[i].m_bTakesValue ? required_argument : no_argument,
                       nullptr, kFirst + i});
  }
  options.push_back({"help", no_argument, nullptr, kHelp});
  options.push_back({"version", no_argument, nullptr, kVersion});
  options.push_back({nullptr, 0, nullptr, 0});
  return options;
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

void Usage(std::FILE* to, const std::string& program) {
  std::fprintf(to, "usage: %s [options]\n", program.c_str());
  std::fputs(
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
      "  --help                print this text\n"
      "  --version             print the version\n"
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
      to);
}

std::string ProgramName(const char* argv0) {
  if (argv0 == nullptr || *argv0 == '\0') return "modsim";
  const char* slash = std::strrchr(argv0, '/');
  return slash != nullptr ? slash + 1 : argv0;
}

EParsed ParseOptions(int argc, char** argv, COptions& o) {
  const std::vector<option> options = LongOptions();
  const std::string program = ProgramName(argc > 0 ? argv[0] : nullptr);
  // Starts getopt afresh, so that a second parse in one process reads its own arguments.
  optind = 0;
  int code;
  while ((code = getopt_long(argc, argv, "", options.data(), nullptr)) != -1) {
    if (code == kHelp) return EParsed::Help;
    if (code == kVersion) return EParsed::Version;
    // getopt has said what was wrong with an unknown option or a missing value.
    if (code < kFirst || code >= kHelp) return EParsed::Bad;
    const COptionRow& row = kRows[code - kFirst];
    if (!row.m_fnApply(o, optarg)) {
      std::fprintf(stderr, "%s: bad value for --%s: '%s'\n", program.c_str(), row.m_szName,
                   optarg != nullptr ? optarg : "");
      return EParsed::Bad;
    }
  }
  if (optind != argc) {
    std::fprintf(stderr, "%s: unexpected argument '%s'\n", program.c_str(), argv[optind]);
    return EParsed::Bad;
  }
  return EParsed::Run;
}
