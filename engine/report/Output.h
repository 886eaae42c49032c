// What the command line prints: the settings as text, one per line, or as one JSON object.
// Field names are stable; the README documents them.
#pragma once

#include <ostream>
#include <string>

#include <nlohmann/json.hpp>

#include "engine/session/ModuleSession.h"

using CJson = nlohmann::ordered_json;

// "Port", then the five settings with the dialog's labels, as the dialog shows them; a setting
// the run does not know the module to hold is "-".
void PrintSettingsText(std::ostream& out, const std::string& port, const std::string& address,
                       const CSettingChanges& values);
// port, address, name, pin, role, peer; null for what the run does not know the module holds.
CJson SettingsJson(const std::string& port, const std::string& address,
                   const CSettingChanges& values);
// A read's or a program's outcome as `--format json` shows it: the settings the module is
// known to hold, what it acknowledged (program), the result, the pace and why it failed.
CJson ReportJson(const std::string& port, const CModuleReport& report, bool program, bool verify);
// A dry run's change, old -> new per setting: {"name":{"old":...,"new":...},...}.
CJson ChangesJson(const CModuleSettings& old, const CModuleSettings& now);
// The same as text, one line per setting ("name: CORVANE-BT -> DESK-1", "pin: 1234
// (unchanged)"), each line after indent.
void PrintChanges(std::ostream& out, const CModuleSettings& old, const CModuleSettings& now,
                  const std::string& indent = "");
// Compact, one line; bytes a module sent that are not UTF-8 become U+FFFD instead of
// stopping the output.
std::string DumpJson(const CJson& json);
// "text" or "json": empty, else the rule.
std::string CheckFormat(const std::string& text);
