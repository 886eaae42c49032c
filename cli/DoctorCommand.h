// `corvane doctor`: for each port, or the one given, in plain words what stands in the way of
// reaching a module there and what to do about it; or the address of the module that answers.
#pragma once

#include <string>

#include "engine/os/RunEnv.h"
#include "cli/CommonOptions.h"

struct CDoctorOptions {
  std::string m_strPort;
};

CLI::App* AddDoctorCommand(CLI::App& app, CDoctorOptions& options, bool pathsAllowed);
// 0 when a module answered on a port looked at, 1 when none did.
int RunDoctor(const CDoctorOptions& options, CRunEnv& env);
