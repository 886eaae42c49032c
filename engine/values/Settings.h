// The module's settings as the command line takes, checks and shows them.
//
// Contract: the checks are those of values a user may type, made before any port is opened.
// Each returns an empty string when the value is good, else the rule it breaks, worded for a
// one-line error after the option's name. Nothing here touches a port.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "engine/values/SettingSet.h"
#include "protocol/ModuleAddress.h"
#include "wintypes.h"

using CAddress = std::array<BYTE, 6>;

// What a Read fetched, or what a Program writes.
struct CModuleSettings {
  // The module's own address, where a read fetched it (never for values to be written).
  std::optional<CModuleAddress> m_address;
  std::string m_strName;
  std::string m_strPin;
  bool m_bMaster = false;
  CAddress m_peer{};
};

// The settings a `program` was given; those left out keep the module's current values.
struct CSettingChanges {
  std::optional<std::string> m_name;
  std::optional<std::string> m_pin;
  std::optional<bool> m_master;
  std::optional<CAddress> m_peer;

  bool All() const { return m_name && m_pin && m_master && m_peer; }
  // Puts the given values over current ones.
  CModuleSettings Over(CModuleSettings current) const;
  // These settings over those of base, where given.
  CSettingChanges Over(CSettingChanges base) const;
  // Every setting of values, as if each had been given.
  static CSettingChanges Of(const CModuleSettings& values);
};

constexpr size_t kNameMaxChars = 16;
constexpr size_t kPinMaxChars = 8;

std::string CheckName(const std::string& name);
std::string CheckPin(const std::string& pin);
// "master" or "slave", either case.
bool ParseRole(const std::string& text, bool* master);
std::string CheckRole(const std::string& text);
// Six hex bytes: "01:02:0A:0B:C0:FF", "01-02-0A-0B-C0-FF" or "01020A0BC0FF", either case.
bool ParsePeer(const std::string& text, CAddress* address);
std::string CheckPeer(const std::string& text);

// "01:02:0A:0B:C0:FF".
std::string FormatAddress(const CAddress& address);
// A module's text for a terminal: bytes outside printable ASCII and the backslash as \xHH, so
// a module can never send escape sequences to the user's screen.
std::string Printable(const std::string& text);
// A name the OS gave (a device path, a COM name's target) for a terminal: only control bytes
// as \xHH. Its backslashes are its own ("\Device\Serial4"), not a module's.
std::string PrintableName(const std::string& text);
// A message made for a message box, for one line: each line break (a run of CR and LF, and the
// spaces after it) becomes one space.
std::string OneLine(const std::string& text);
// Names of the settings in which two sets of values differ: "name", "pin", "role", "peer".
CSettingSet Differences(const CModuleSettings& wanted, const CModuleSettings& got);
// "name, pin" or "nothing".
std::string JoinSettings(CSettingSet settings);
