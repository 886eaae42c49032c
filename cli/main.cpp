// corvane: the command-line front end (see README, "Command line").
#include <iostream>

#include "cli/CliApp.h"
#include "cli/CliPlatform.h"

int main(int argc, char** argv) {
  CInterrupt interrupt;
  interrupt.InstallHandlers();
  CCliEnv env{PlatformCommApi(), PlatformDevicePaths(), std::cout,
              std::cerr,         StderrIsTerminal(),    interrupt,
              WriteStderrRaw,    WriteStdoutRaw};
  return RunCli(argc, argv, env);
}
