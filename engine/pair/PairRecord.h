// What `pair --port` remembers of a pair it left half made: the master's and the slave's
// addresses, kept in the user's state folder until the pair is complete, so that running the
// same command again finishes that pair and never takes the programmed slave for a new master.
//
// Contract: one small file per port, written whole (a new file then a rename) or not at all;
// a missing, unreadable or malformed record reads as none. Nothing here touches a port.
#pragma once

#include <optional>
#include <string>

#include "protocol/ModuleAddress.h"

struct CPairRecord {
  CModuleAddress m_master;
  CModuleAddress m_slave;
};

class CPairRecordFile {
 public:
  // The record of the pair made on port (as the user named it), in folder.
  CPairRecordFile(const std::string& folder, const std::string& port);
  // The user's state folder for corvane: $XDG_STATE_HOME/corvane, ~/.local/state/corvane, or
  // %LOCALAPPDATA%\corvane; empty when none can be told.
  static std::string DefaultFolder();

  std::optional<CPairRecord> Load() const;
  // False with why in *error; the folder is made (for the user alone) when missing.
  bool Save(const CPairRecord& record, std::string* error) const;
  void Remove() const;
  const std::string& Path() const { return m_strPath; }

 private:
  std::string m_strFolder;
  std::string m_strPath;
};
