// What the commands share of option handling: value checks in CLI11's form, the options that
// several commands take (format, quiet, port, the four settings) and what a port option names.
#pragma once

#include <memory>
#include <string>

#include <CLI/CLI.hpp>

#include "cli/CliEnv.h"
#include "cli/Settings.h"
#include "protocol/CommandExchange.h"

// A value check for CLI11 from one of ours: the rule broken, or empty.
inline CLI::Validator Rule(std::string (*check)(const std::string&), const char* description) {
  return CLI::Validator([check](std::string& value) { return check(value); }, description);
}

// A value template's check for CLI11: its form, then the rule of the value as far as it can be
// held before any module is read (an address always puts in 12 or 4 digits, a number at least
// its padding).
CLI::Validator TemplateRule(std::string (*check)(const std::string&));

// The channel a port option leads to.
struct CPortChoice {
  // A channel of its own for a device path; null for a COM name.
  std::unique_ptr<CommApi> m_owned;
  CommApi* m_pApi = nullptr;
  // The one port the search lists ("COM4"; "COM1" for a device path).
  std::string m_strListed;
  // The name a report uses: the COM name, or the device path as given.
  std::string m_strShown;
};

// Empty when value is a port name COM1, COM2, ... (either case) or, where the platform opens
// them, a device path; else the rule it breaks. The terminal the program runs in is refused.
std::string CheckPortOption(const std::string& value, bool pathsAllowed);
// The channel for a checked port option. A device path is opened as given, so a device plugged
// in meanwhile cannot change which device a number means.
CPortChoice ChoosePort(const std::string& value, CCliEnv& env);

// --format text|json, --quiet, --port and --pace, as every command that has them spells them.
void AddFormatOption(CLI::App* command, std::string& format);
void AddPaceOption(CLI::App* command, EPace& pace);
// The pace an option names ("standard" or "fast").
EPace PaceOf(const std::string& pace);
void AddQuietOption(CLI::App* command, bool& quiet, const char* what = "No progress bar");
void AddPortOption(CLI::App* command, std::string& port, bool pathsAllowed);

// --name, --pin, --role and --peer. Given or not is kept apart from the value: an empty name
// is a value too.
struct CSettingOptions {
  std::string m_strName, m_strPin, m_strRole, m_strPeer;
  CLI::Option* m_pName = nullptr;
  CLI::Option* m_pPin = nullptr;
  CLI::Option* m_pRole = nullptr;
  CLI::Option* m_pPeer = nullptr;

  // With the value checks of one module's settings.
  void Add(CLI::App* command);
  // With name and PIN checked by the given rules (templates for gang).
  void Add(CLI::App* command, const CLI::Validator& nameRule, const char* nameHelp,
           const CLI::Validator& pinRule, const char* pinHelp);

  bool NameGiven() const { return Given(m_pName); }
  bool PinGiven() const { return Given(m_pPin); }
  bool RoleGiven() const { return Given(m_pRole); }
  bool PeerGiven() const { return Given(m_pPeer); }
  // The values given, for a command whose name and PIN are plain values.
  CSettingChanges Changes() const;

 private:
  static bool Given(const CLI::Option* option) { return option != nullptr && option->count() > 0; }
};

// What --ledger takes in this build, for the help.
const char* LedgerKinds();

// --ledger LOCATION (default: the environment variable CORVANE_LEDGER), --station NAME
// (default: the host name), --ledger-pins keep|omit and --again, as program and gang take
// them, and gang's --only-failed.
struct CLedgerOptions {
  std::string m_strLocation;
  std::string m_strStation;
  std::string m_strPins = "keep";
  bool m_bAgain = false;
  bool m_bOnlyFailed = false;
  CLI::Option* m_pLocation = nullptr;
  CLI::Option* m_pStation = nullptr;
  CLI::Option* m_pPins = nullptr;
  CLI::Option* m_pAgain = nullptr;
  CLI::Option* m_pOnlyFailed = nullptr;

  // All but --only-failed.
  void Add(CLI::App* command);
  void AddOnlyFailed(CLI::App* command);
  // --ledger alone (the ledger command's own subcommands).
  void AddLocation(CLI::App* command);

  bool Given() const { return m_pLocation != nullptr && m_pLocation->count() > 0; }
  bool OmitPins() const { return m_strPins == "omit"; }
  // The station's name: as given, or the host name.
  std::string Station() const;
  // True when any ledger option was given, the ledger or another.
  bool Any() const;
  // The usage rule broken by the ledger options given, or empty: the others mean nothing
  // without a ledger.
  std::string CheckUse() const;
};
