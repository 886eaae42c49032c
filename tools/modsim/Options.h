// modsim's command line: the options and their parsing.
#pragma once

#include <string>

#include "tools/modsim/ModuleSim.h"

struct COptions {
  std::string m_strTty;
  std::string m_strLink;
  std::string m_strTranscript;
  std::string m_strState;
  int m_nTrailer = 0x0A;
  CModuleState m_state;
  CFaults m_faults;
};

// Prints the usage text to stderr.
void Usage();
// False on an unknown option, a bad value or a stray argument.
bool ParseOptions(int argc, char** argv, COptions& options);
