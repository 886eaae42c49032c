// `corvane ports`: the serial ports in the order the search tries them, with their devices.
#pragma once

#include <string>

#include "cli/CliEnv.h"

namespace CLI {
class App;
}  // namespace CLI

struct CPortsOptions {
  std::string m_strFormat = "text";
};

CLI::App* AddPortsCommand(CLI::App& app, CPortsOptions& options);
int RunPorts(const CPortsOptions& options, CCliEnv& env);
