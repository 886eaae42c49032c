// `corvane gang`: the gang run of the engine, with its progress on the terminal and its report
// printed.
//
// Contract: RunGang blocks until every worker has ended and every port is closed, writes the
// report, prints it and returns the exit code.
#pragma once

#include <string>

#include "engine/os/RunEnv.h"
#include "cli/CommonOptions.h"
#include "engine/gang/Gang.h"

// The gang command's options: the run's own, bound to CLI11, and how it is shown.
struct CGangOptions : CGangSetup {
  CSettingOptions m_settingOptions;
  CLedgerOptions m_ledgerOptions;
  std::string m_strFormat = "text";
  bool m_bQuiet = false;
  CLI::Option* m_pStart = nullptr;

  // The run's values once the options are parsed.
  CGangSetup Setup() const;
};

CLI::App* AddGangCommand(CLI::App& app, CGangOptions& options);
int RunGang(const CGangOptions& options, CRunEnv& env);
