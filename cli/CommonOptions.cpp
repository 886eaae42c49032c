#include "cli/CommonOptions.h"

#include "engine/os/Platform.h"
#include "engine/report/Output.h"
#include "engine/values/ValueTemplate.h"
#include "ledger/Ledger.h"
#include "serial/ComPortName.h"

namespace {

// An each() action that marks the option given.
std::function<void(std::string)> Note(bool& given) {
  return [&given](const std::string&) { given = true; };
}

}  // namespace

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
  // CLI11 runs each() on every value that passed the check before it, so the flag is set
  // exactly when the option holds a value.
  command->add_option("--name", m_strName, nameHelp)->check(nameRule)->each(Note(m_bNameGiven));
  command->add_option("--pin", m_strPin, pinHelp)->check(pinRule)->each(Note(m_bPinGiven));
  command->add_option("--role", m_strRole, "master or slave")
      ->check(Rule(CheckRole, "master|slave"))
      ->each(Note(m_bRoleGiven));
  command->add_option("--peer", m_strPeer, "Peer address XX:XX:XX:XX:XX:XX")
      ->check(Rule(CheckPeer, "ADDRESS"))
      ->each(Note(m_bPeerGiven));
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
                        "LOCATION"))
                    ->each(Note(m_bLocationGiven));
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
