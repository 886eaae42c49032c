#include "cli/CommonOptions.h"

#include "cli/CliPlatform.h"
#include "cli/Output.h"
#include "serial/ComPortName.h"

std::string CheckPortOption(const std::string& value, bool pathsAllowed) {
  int number = 0;
  if (ParseExactComPortName(value.c_str(), &number) && number >= 1) return std::string();
  if (pathsAllowed && !value.empty() && value[0] == '/') {
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

void AddPaceOption(CLI::App* command, std::string& pace) {
  command
      ->add_option("--pace", pace,
                   "standard (default): the dialog's waits; fast: no wait for a byte that is not "
                   "coming, back to standard after a failed try")
      ->check(CLI::IsMember({"standard", "fast"}));
}

EPace PaceOf(const std::string& pace) {
  return pace == "fast" ? EPace::Fast : EPace::Standard;
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
