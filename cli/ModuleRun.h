// What `corvane read` and `corvane program` share with the program command's ledger turn:
// their options, the port and session one run works on, and the printing of its outcome.
#pragma once

#include <string>

#include "cli/CommonOptions.h"
#include "cli/Progress.h"
#include "engine/os/RunEnv.h"
#include "engine/report/Output.h"
#include "engine/session/ModuleSession.h"

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

// What one read or program runs on: the port the options name (every port when none), the
// progress bar on the terminal, and a session over them at the pace asked.
struct CModuleRun {
  CModuleRun(const CModuleOptions& options, CRunEnv& env);
  CPortChoice m_port;
  CTerminalProgress m_progress;
  CModuleSession m_session;
};
// Prints the outcome of a read (program false) or a program and returns its exit code.
int FinishRun(const CModuleOptions& options, CRunEnv& env, bool program,
              const CModuleReport& report, const std::string& shownPort);
// A dry run: what the module holds and what program would make of it, old -> new per setting.
int FinishDryRun(const CModuleOptions& options, CRunEnv& env, const CModuleReport& report,
                 const CSettingChanges& changes, const std::string& shownPort);
// The outcome of a program printed with its exit code; a dry run's module was only read.
int FinishProgram(const CModuleOptions& options, CRunEnv& env, const CModuleReport& report,
                  const std::string& shownPort);
// A dry run's result for the module report read: each setting old -> new (now), or with now
// null nothing that would be sent; lead is printed first as text, more's fields go into the
// JSON after the port and address (its "result" replaces "dry run").
int ShowDryRun(const CModuleOptions& options, CRunEnv& env, const CModuleReport& report,
               const std::string& shownPort, const CModuleSettings* now, const std::string& lead,
               const CJson& more);
