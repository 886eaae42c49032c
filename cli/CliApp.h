// The command line: `corvane ports | read | program | gang`, over the dialog's operations.
//
// Contract: RunCli parses and checks every option before any port is opened (a bad one is one
// line on err and kExitUsage, with no byte sent anywhere), runs the command, prints the result
// on out and returns the exit code. It blocks until the command has ended and every port it
// opened is closed again. It never throws.
#pragma once

#include <functional>
#include <memory>
#include <ostream>
#include <string>

#include "cli/CliPlatform.h"
#include "cli/Interrupt.h"
#include "serial/CommApi.h"

constexpr int kExitOk = 0;
constexpr int kExitNoModule = 1;
constexpr int kExitCommError = 2;
constexpr int kExitVerifyDiffers = 3;
constexpr int kExitUsage = 64;
constexpr int kExitInterrupted = 130;

struct CCliEnv {
  // The machine's ports: their listing, and the channel to each.
  CommApi& m_api;
  // A channel to the one device path the user named (`--port /dev/ttyUSB0`), listed as its
  // only port "COM1"; null where the platform takes port names only.
  DevicePathOpener m_fnPathApi;
  std::ostream& m_out;
  std::ostream& m_err;
  // The progress goes to err only when it is a terminal.
  bool m_bErrIsTerminal;
  const CInterrupt& m_interrupt;
};

int RunCli(int argc, const char* const* argv, CCliEnv& env);
