// What the user chose for a run, as plain values: the four settings and the ledger. The
// command line fills them from its options; the engine reads them and knows no option parser.
#pragma once

#include <string>

#include "engine/values/Settings.h"
#include "protocol/CommandExchange.h"

// --name, --pin, --role and --peer. Given or not is kept apart from the value: an empty name
// is a value too.
struct CSettingChoice {
  std::string m_strName, m_strPin, m_strRole, m_strPeer;
  bool m_bNameGiven = false;
  bool m_bPinGiven = false;
  bool m_bRoleGiven = false;
  bool m_bPeerGiven = false;

  bool NameGiven() const { return m_bNameGiven; }
  bool PinGiven() const { return m_bPinGiven; }
  bool RoleGiven() const { return m_bRoleGiven; }
  bool PeerGiven() const { return m_bPeerGiven; }
  // The values given, for a command whose name and PIN are plain values.
  CSettingChanges Changes() const;
};

// The ledger's location (given on the command line or by CORVANE_LEDGER), this bench's name in
// it, whether PINs are kept, and which modules are programmed again.
struct CLedgerChoice {
  std::string m_strLocation;
  std::string m_strStation;
  std::string m_strPins = "keep";
  bool m_bAgain = false;
  bool m_bOnlyFailed = false;
  bool m_bLocationGiven = false;

  bool Given() const { return m_bLocationGiven; }
  bool OmitPins() const { return m_strPins == "omit"; }
  // The station's name: as given, or the host name.
  std::string Station() const;
};

// The pace an option names ("standard" or "fast").
EPace PaceOf(const std::string& pace);
