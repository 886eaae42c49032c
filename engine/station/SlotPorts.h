// Where a station's slots come from: ports named on the command line, names that appear in a
// watched folder of stable port names, or the machine's port listing; and the labels an
// operator gives them (--slots).
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

#include "engine/os/RunEnv.h"

struct CSlotPort {
  // As the slot's events name it: a COM name, a device path, or a path in the watched folder.
  std::string m_strPort;
  // What --slots matches: the name in the watched folder, else the port as given.
  std::string m_strName;
  // Opened as a device path (else by its COM name).
  bool m_bPath = false;
  bool m_bPresent = false;
};

class CPortFinder {
 public:
  // fixed: --ports, already checked; watch: the folder, or empty; listing: every listed port.
  CPortFinder(CRunEnv& env, std::vector<std::string> fixed, std::string watch, bool listing);
  // Every port seen so far, and whether it is there now.
  std::vector<CSlotPort> Scan();
  // True when only --ports gives slots: a second scan finds nothing new.
  bool Fixed() const { return m_strWatch.empty() && !m_bListing; }

 private:
  void ScanListing(std::map<std::string, CSlotPort>& found);
  // m_seen, with every name of a device that another slot's name reaches left out.
  std::vector<CSlotPort> OneSlotPerDevice();

  CRunEnv& m_env;
  const std::vector<std::string> m_fixed;
  const std::string m_strWatch;
  const bool m_bListing;
  // Devices the watched folder names, so the listing does not make a second slot of one.
  std::set<std::string> m_watchedDevices;
  std::map<std::string, CSlotPort> m_seen;
  // Ports handed out as slots so far.
  std::set<std::string> m_shown;
};

// Reads "port name,label" lines (blank lines and lines starting with # left out). False with
// the line and the rule broken in *error.
bool ParseSlotLabels(const std::string& text, std::map<std::string, std::string>* labels,
                     std::string* error);
