// `corvane station`'s options: the station's setup, with the options CLI11 binds to it.
#pragma once

#include "cli/CommonOptions.h"
#include "cli/HttpOptions.h"
#include "engine/station/StationSetup.h"

struct CStationOptions : CStationSetup {
  CSettingOptions m_settingOptions;
  CLedgerOptions m_ledgerOptions;
  CHttpOptions m_httpOptions;
  CLI::Option* m_pPorts = nullptr;
  CLI::Option* m_pWatch = nullptr;

  // The setup once the options are parsed.
  CStationSetup Setup() const {
    CStationSetup setup = *this;
    setup.m_settings = m_settingOptions;
    setup.m_ledger = m_ledgerOptions;
    setup.m_bPortsGiven = m_pPorts != nullptr && m_pPorts->count() > 0;
    setup.m_bWatchGiven = m_pWatch != nullptr && m_pWatch->count() > 0;
    return setup;
  }
};
