// corvane: the command-line front end (see README, "Command line").
#include <iostream>
#include <string>
#include <vector>

#include "cli/CliApp.h"
#include "engine/os/Platform.h"

int main(int argc, char** argv) {
  // The options are read from copies: the arguments' own memory is what every user sees in
  // `ps`, and loses its passwords before anything connects.
  const std::vector<std::string> args(argv, argv + argc);
  std::vector<const char*> kept;
  for (const std::string& arg : args) kept.push_back(arg.c_str());
  HideLocationPasswords(argc, argv);
  CInterrupt interrupt;
  interrupt.InstallHandlers();
  CRunEnv env{PlatformCommApi(), PlatformDevicePaths(), std::cout,
              std::cerr,         StderrIsTerminal(),    interrupt,
              WriteStderrRaw,    WriteStdoutRaw};
  return RunCli(argc, kept.data(), env);
}
