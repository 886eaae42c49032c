// What a port named by the user leads to: a COM name searched among the machine's ports, or a
// device path opened as given.
#pragma once

#include <memory>
#include <string>

#include "engine/os/RunEnv.h"
#include "serial/CommApi.h"

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
CPortChoice ChoosePort(const std::string& value, CRunEnv& env);
