#include "cli/CommonOptions.h"

#include "cli/CliPlatform.h"
#include "cli/Output.h"
#include "cli/ValueTemplate.h"
#include "ledger/Ledger.h"
#include "serial/ComPortName.h"

namespace {

// COM, COM0, com: a port name mistyped, not a file of that name in the current folder.
bool LooksLikeComName(const std::string& value) {
  if (value.size() < 3 || (value[0] | 0x20) != 'c' || (value[1] | 0x20) != 'o' ||
      (value[2] | 0x20) != 'm') {
    return false;
  }
  return value.find_first_not_of("0123456789", 3) == std::string::npos;
}

}  // namespace

std::string CheckPortOption(const std::string& value, bool pathsAllowed) {
  int number = 0;
  if (ParseExactComPortName(value.c_str(), &number) && number >= 1) return std::string();
  // Any other path is opened as the OS opens it: a relative one from the current folder.
  if (pathsAllowed && !value.empty() && !LooksLikeComName(value)) {
    // The probe would go to the user's own screen, and the line settings with it.
    if (IsOwnTerminal(value)) return "this is the terminal corvane runs in, not a port";
    return std::string();
  }
  return pathsAllowed ? "the port is a name COM1, COM2, ... or a device path such as /dev/ttyUSB0"
                      : "the port is a name COM1, COM2, ...";
}

CPortChoice ChoosePort(const std::string& value, CCliEnv& env) {
  CPortChoice choice;
  choice.m_pApi = &env.m_api;
  int number = 0;
  if (ParseExactComPortName(value.c_str(), &number)) {
    choice.m_strListed = ComPortName(number);
    choice.m_strShown = choice.m_strListed;
  } else if (env.m_fnPathApi) {
    choice.m_owned = env.m_fnPathApi(value);
    choice.m_pApi = choice.m_owned.get();
    choice.m_strListed = "COM1";
    choice.m_strShown = value;
  }
  return choice;
}

void AddFormatOption(CLI::App* command, std::string& format) {
  command->add_option("--format", format, "Output: text (default) or json")
      ->check(Rule(CheckFormat, "text|json"));
}

void AddPaceOption(CLI::App* command, EPace& pace) {
  command
      ->add_option_function<std::string>(
          "--pace", [&pace](const std::string& word) { pace = PaceOf(word); },
          "standard (default): the dialog's waits; fast: no wait for a byte that is not "
          "coming, back to standard after a failed try")
      ->check(CLI::IsMember({PaceText(EPace::Standard), PaceText(EPace::Fast)}));
}

EPace PaceOf(const std::string& pace) {
  return pace == PaceText(EPace::Fast) ? EPace::Fast : EPace::Standard;
}

void AddQuietOption(CLI::App* command, bool& quiet, const char* what) {
  command->add_flag("--quiet,-q", quiet, what);
}

void AddPortOption(CLI::App* command, std::string& port, bool pathsAllowed) {
  command
      ->add_option("--port,-p", port,
                   pathsAllowed ? "Port name (COM3) or device path; default: search every port"
                                : "Port name (COM3); default: search every port")
      ->check(CLI::Validator(
          [pathsAllowed](std::string& value) { return CheckPortOption(value, pathsAllowed); },
          "PORT"));
}

void CSettingOptions::Add(CLI::App* command) {
  Add(command, Rule(CheckName, "TEXT"), "Device name, at most 16 characters",
      Rule(CheckPin, "TEXT"), "PIN code, 1 to 8 characters");
}

void CSettingOptions::Add(CLI::App* command, const CLI::Validator& nameRule, const char* nameHelp,
                          const CLI::Validator& pinRule, const char* pinHelp) {
  m_pName = command->add_option("--name", m_strName, nameHelp)->check(nameRule);
  m_pPin = command->add_option("--pin", m_strPin, pinHelp)->check(pinRule);
  m_pRole = command->add_option("--role", m_strRole, "master or slave")
                ->check(Rule(CheckRole, "master|slave"));
  m_pPeer = command->add_option("--peer", m_strPeer, "Peer address XX:XX:XX:XX:XX:XX")
                ->check(Rule(CheckPeer, "ADDRESS"));
}

CSettingChanges CSettingOptions::Changes() const {
  CSettingChanges changes;
  if (NameGiven()) changes.m_name = m_strName;
  if (PinGiven()) changes.m_pin = m_strPin;
  bool master = false;
  if (RoleGiven() && ParseRole(m_strRole, &master)) changes.m_master = master;
  CAddress peer;
  if (PeerGiven() && ParsePeer(m_strPeer, &peer)) changes.m_peer = peer;
  return changes;
}

namespace {

std::string CheckStationName(const std::string& name) {
  if (name.empty() || name.size() > 64) return "a station name is 1 to 64 characters";
  for (const char c : name) {
    if (c < 0x20 || c > 0x7E) return "a station name is printable ASCII";
  }
  return std::string();
}

}  // namespace

const char* LedgerKinds() {
  if (LedgerHasPostgres()) {
    return "Ledger: an SQLite file, or a postgresql:// URL (the Windows build has the SQLite "
           "ledger only)";
  }
  if (LedgerHasSqlite()) {
    return "Ledger: an SQLite file (the Windows build has the SQLite ledger only; a "
           "postgresql:// URL is refused)";
  }
  return "Ledger: none in this build (made without SQLite)";
}

void CLedgerOptions::AddLocation(CLI::App* command) {
  m_pLocation = command->add_option("--ledger", m_strLocation, LedgerKinds())
                    ->envname("CORVANE_LEDGER")
                    ->check(CLI::Validator(
                        [](std::string& value) {
                          return value.empty() ? "a file path or a postgresql:// URL" : "";
                        },
                        "LOCATION"));
}

void CLedgerOptions::Add(CLI::App* command) {
  AddLocation(command);
  m_pStation =
      command->add_option("--station", m_strStation, "This bench's name in the ledger (host name)")
          ->check(Rule(CheckStationName, "NAME"));
  m_pPins = command->add_option("--ledger-pins", m_strPins, "keep (default) or omit PINs")
                ->check(CLI::IsMember({"keep", "omit"}));
  m_pAgain = command->add_flag("--again", m_bAgain,
                               "With a ledger: program modules already programmed once more, "
                               "with their recorded values");
}

void CLedgerOptions::AddOnlyFailed(CLI::App* command) {
  m_pOnlyFailed = command->add_flag(
      "--only-failed", m_bOnlyFailed,
      "With a ledger: program only modules it has seen whose last attempt failed");
  if (m_pAgain != nullptr) m_pOnlyFailed->excludes(m_pAgain);
}

std::string CLedgerOptions::Station() const {
  return m_strStation.empty() ? HostName() : m_strStation;
}

bool CLedgerOptions::Any() const {
  for (const CLI::Option* option : {m_pLocation, m_pStation, m_pPins, m_pAgain, m_pOnlyFailed}) {
    if (option != nullptr && option->count() > 0) return true;
  }
  return false;
}

std::string CLedgerOptions::CheckUse() const {
  if (Given()) return std::string();
  for (const CLI::Option* option : {m_pStation, m_pPins, m_pAgain, m_pOnlyFailed}) {
    if (option != nullptr && option->count() > 0) {
      return option->get_name() + " needs a --ledger (or CORVANE_LEDGER)";
    }
  }
  return std::string();
}

CLI::Validator TemplateRule(std::string (*check)(const std::string&)) {
  return CLI::Validator(
      [check](std::string& text) {
        const std::string rule = CValueTemplate::Check(text);
        return rule.empty() ? check(CValueTemplate(text).Expand(0, kSomeAddress)) : rule;
      },
      "TEMPLATE");
}
