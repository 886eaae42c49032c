// What the commands share of option handling: value checks in CLI11's form, and what a port
// option names.
#pragma once

#include <memory>
#include <string>

#include <CLI/CLI.hpp>

#include "cli/CliApp.h"

// A value check for CLI11 from one of ours: the rule broken, or empty.
inline CLI::Validator Rule(std::string (*check)(const std::string&), const char* description) {
  return CLI::Validator([check](std::string& value) { return check(value); }, description);
}

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
// them, a device path; else the rule it breaks.
std::string CheckPortOption(const std::string& value, bool pathsAllowed);
// The channel for a checked port option. A device path is opened as given, so a device plugged
// in meanwhile cannot change which device a number means.
CPortChoice ChoosePort(const std::string& value, CCliEnv& env);
