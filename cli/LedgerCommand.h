// `corvane ledger show [ADDRESS|NAME] | export --format csv|jsonl [--since TIME] [--station
// NAME] | stats | init`: what the ledger holds, on stdout, and the making of a new one. Each
// subcommand takes --ledger (or CORVANE_LEDGER) like program and gang.
//
// Contract: show, export and stats open the ledger to read only: a ledger file that does not
// exist, or a database that holds no ledger, is refused rather than set up, and a ledger this
// user may only read can be read. init makes the ledger (a new file, or the tables of an empty
// database) or finds it made. A ledger that cannot be used is one line on err and kExitLedger;
// show of a module the ledger does not hold is kExitNoModule. No port is opened.
#pragma once

#include <string>

#include "engine/os/RunEnv.h"
#include "cli/CommonOptions.h"

struct CLedgerCommandOptions {
  CLedgerOptions m_show, m_export, m_stats, m_init;
  std::string m_strKey;  // show: an address or a name
  std::string m_strShowFormat = "text";
  std::string m_strExportFormat;
  std::string m_strSince;
  std::string m_strStation;
  std::string m_strStatsFormat = "text";
  CLI::App* m_pShow = nullptr;
  CLI::App* m_pExport = nullptr;
  CLI::App* m_pStats = nullptr;
  CLI::App* m_pInit = nullptr;
};

CLI::App* AddLedgerCommand(CLI::App& app, CLedgerCommandOptions& options);
int RunLedger(const CLedgerCommandOptions& options, CRunEnv& env);
