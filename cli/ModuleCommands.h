// `corvane read` and `corvane program`: one module, on the port named or the first that
// answers the search.
#pragma once

#include <string>

#include "cli/CliEnv.h"
#include "cli/CommonOptions.h"

struct CModuleOptions {
  std::string m_strFormat = "text";
  std::string m_strPort;
  bool m_bTurnOff = false;
  bool m_bVerify = false;
  bool m_bQuiet = false;
  std::string m_strPace = "standard";
  // read: where to save the settings as a profile; program: the profile to start from.
  std::string m_strSave;
  std::string m_strFrom;
  // program: read, show the change, send no setting.
  bool m_bDryRun = false;
  // program only.
  CSettingOptions m_settings;
};

CLI::App* AddReadCommand(CLI::App& app, CModuleOptions& options, bool pathsAllowed);
CLI::App* AddProgramCommand(CLI::App& app, CModuleOptions& options, bool pathsAllowed);
int RunRead(const CModuleOptions& options, CCliEnv& env);
int RunProgram(const CModuleOptions& options, CCliEnv& env);
