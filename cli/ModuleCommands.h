// `corvane read` and `corvane program`: one module, on the port named or the first that
// answers the search.
#pragma once

#include <string>

#include "cli/CliEnv.h"
#include "cli/CommonOptions.h"
#include "cli/ModuleSession.h"
#include "cli/Output.h"
#include "cli/Progress.h"

struct CModuleOptions {
  std::string m_strFormat = "text";
  std::string m_strPort;
  bool m_bTurnOff = false;
  bool m_bVerify = false;
  bool m_bQuiet = false;
  EPace m_pace = EPace::Standard;
  // read: where to save the settings as a profile; program: the profile to start from.
  std::string m_strSave;
  std::string m_strFrom;
  // program: read, show the change, send no setting.
  bool m_bDryRun = false;
  // program only.
  CSettingOptions m_settings;
  CLedgerOptions m_ledger;
};

CLI::App* AddReadCommand(CLI::App& app, CModuleOptions& options, bool pathsAllowed);
CLI::App* AddProgramCommand(CLI::App& app, CModuleOptions& options, bool pathsAllowed);
int RunRead(const CModuleOptions& options, CCliEnv& env);
int RunProgram(const CModuleOptions& options, CCliEnv& env);

// The port --port names (every port when it was not given), and the outcome of a program
// printed with its exit code: for the program command's use of the ledger.
// What one read or program runs on: the port the options name (every port when none), the
// progress bar on the terminal, and a session over them at the pace asked.
struct CModuleRun {
  CModuleRun(const CModuleOptions& options, CCliEnv& env);
  CPortChoice m_port;
  CTerminalProgress m_progress;
  CModuleSession m_session;
};
int FinishProgram(const CModuleOptions& options, CCliEnv& env, const CModuleReport& report,
                  const std::string& shownPort);
// A dry run's result for the module report read: each setting old -> new (now), or with now
// null nothing that would be sent; lead is printed first as text, more's fields go into the
// JSON after the port and address (its "result" replaces "dry run").
int ShowDryRun(const CModuleOptions& options, CCliEnv& env, const CModuleReport& report,
               const std::string& shownPort, const CModuleSettings* now, const std::string& lead,
               const CJson& more);
