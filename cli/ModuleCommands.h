// `corvane read` and `corvane program`: one module, on the port named or the first that
// answers the search.
#pragma once

#include "cli/ModuleRun.h"

CLI::App* AddReadCommand(CLI::App& app, CModuleOptions& options, bool pathsAllowed);
CLI::App* AddProgramCommand(CLI::App& app, CModuleOptions& options, bool pathsAllowed);
int RunRead(const CModuleOptions& options, CRunEnv& env);
int RunProgram(const CModuleOptions& options, CRunEnv& env);
