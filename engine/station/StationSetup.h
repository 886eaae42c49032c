// What a station is asked to do: gang's values, where modules arrive, the outputs and its end.
#pragma once

#include <string>

#include "engine/values/RunChoices.h"
#include "protocol/CommandExchange.h"

struct CStationSetup {
  // Slots that are always there: P1,P2,... (COM names or device paths); empty when not given.
  std::string m_strPorts;
  bool m_bPortsGiven = false;
  // A folder of stable port names; a name that appears there is a slot.
  std::string m_strWatch;
  bool m_bWatchGiven = false;
  // "port name,label" lines.
  std::string m_strSlots;
  // JSON lines to a file, or "-" for stdout.
  std::string m_strEvents;
  CSettingChoice m_settings;
  std::string m_strPlan;
  bool m_bVerify = false;
  bool m_bTurnOff = false;
  bool m_bBell = false;
  bool m_bQuiet = false;
  EPace m_pace = EPace::Standard;
  // After this many modules ok; 0: no end by count.
  long long m_nCount = 0;
  // After this many seconds with nothing arriving; 0: never.
  double m_dIdleExit = 0;
  CLedgerChoice m_ledger;
};
