// What the commands share of option handling: value checks in CLI11's form, the options that
// several commands take (format, quiet, port, the four settings) and what a port option names.
#pragma once

#include <memory>
#include <string>

#include <CLI/CLI.hpp>

#include "engine/os/RunEnv.h"
#include "engine/session/PortChoice.h"
#include "engine/values/RunChoices.h"
#include "engine/values/Settings.h"
#include "protocol/CommandExchange.h"

// A value check for CLI11 from one of ours: the rule broken, or empty.
inline CLI::Validator Rule(std::string (*check)(const std::string&), const char* description) {
  return CLI::Validator([check](std::string& value) { return check(value); }, description);
}

// A value template's check for CLI11: its form, then the rule of the value as far as it can be
// held before any module is read (an address always puts in 12 or 4 digits, a number at least
// its padding).
CLI::Validator TemplateRule(std::string (*check)(const std::string&));

// --format text|json, --quiet, --port and --pace, as every command that has them spells them.
void AddFormatOption(CLI::App* command, std::string& format);
void AddPaceOption(CLI::App* command, EPace& pace);
void AddQuietOption(CLI::App* command, bool& quiet, const char* what = "No progress bar");
void AddPortOption(CLI::App* command, std::string& port, bool pathsAllowed);

// The four settings' options, each noting that it was given as CLI11 takes it.
struct CSettingOptions : CSettingChoice {
  // With the value checks of one module's settings.
  void Add(CLI::App* command);
  // With name and PIN checked by the given rules (templates for gang).
  void Add(CLI::App* command, const CLI::Validator& nameRule, const char* nameHelp,
           const CLI::Validator& pinRule, const char* pinHelp);
};

// What --ledger takes in this build, for the help.
const char* LedgerKinds();

// --ledger LOCATION (default: the environment variable CORVANE_LEDGER), --station NAME
// (default: the host name), --ledger-pins keep|omit and --again, as program and gang take
// them, and gang's --only-failed.
struct CLedgerOptions : CLedgerChoice {
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

  // True when any ledger option was given, the ledger or another.
  bool Any() const;
  // The usage rule broken by the ledger options given, or empty: the others mean nothing
  // without a ledger.
  std::string CheckUse() const;
};
