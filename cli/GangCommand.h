// `corvane gang`: every module on every port at once, one worker per module, each running the
// command line's operations on its own port, channel and view. Workers share nothing but the
// report; one module failing never stops or slows the others.
//
// Contract: RunGang checks the options, the value templates, the plan and the report file
// before any port is opened; the values each module gets are checked before any of them is
// programmed. It blocks until every worker has ended and every port is closed, writes the
// report, prints it and returns the exit code.
#pragma once

#include <string>

#include "cli/CliEnv.h"
#include "cli/CommonOptions.h"

struct CGangOptions {
  std::string m_strPorts = "all";
  CSettingOptions m_settings;
  int m_nStart = 1;
  std::string m_strPlan;
  std::string m_strReport;
  std::string m_strFormat = "text";
  bool m_bVerify = false;
  bool m_bTurnOff = false;
  bool m_bQuiet = false;
  // Probe, read, plan and check, show each module's change, send no setting.
  bool m_bDryRun = false;
  EPace m_pace = EPace::Standard;
  CLedgerOptions m_ledger;
  // --start as given: with a ledger it sets the ledger's counter only when given.
  CLI::Option* m_pStart = nullptr;
};

CLI::App* AddGangCommand(CLI::App& app, CGangOptions& options);
int RunGang(const CGangOptions& options, CCliEnv& env);
