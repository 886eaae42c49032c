// The command line: `corvane ports | read | program | gang`, over the dialog's operations.
//
// Contract: RunCli parses and checks every option before any port is opened (a bad one is one
// line on err and kExitUsage, with no byte sent anywhere), runs the command, prints the result
// on out and returns the exit code. It blocks until the command has ended and every port it
// opened is closed again. It never throws.
#pragma once

#include "engine/os/RunEnv.h"
#include "engine/os/Platform.h"

int RunCli(int argc, const char* const* argv, CRunEnv& env);
