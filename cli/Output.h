// What the command line prints: the settings as text, one per line, or as one JSON object.
// Field names are stable; the README documents them.
#pragma once

#include <ostream>
#include <string>

#include <nlohmann/json.hpp>

#include "cli/ModuleSession.h"

using CJson = nlohmann::ordered_json;

// "Port", then the five settings with the dialog's labels, as the dialog shows them.
void PrintSettingsText(std::ostream& out, const std::string& port, const CModuleSettings& values);
// port, address (null when not read), name, pin, role, peer.
CJson SettingsJson(const std::string& port, const CModuleSettings& values);
// Compact, one line; bytes a module sent that are not UTF-8 become U+FFFD instead of
// stopping the output.
std::string DumpJson(const CJson& json);
// "text" or "json": empty, else the rule.
std::string CheckFormat(const std::string& text);
// "name, pin" or "nothing".
std::string JoinSettings(const std::vector<std::string>& names);
