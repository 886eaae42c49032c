// modsim's command line: the options and their parsing.
#pragma once

#include <cstdio>
#include <string>

#include "tools/modsim/ModuleSim.h"

struct COptions {
  std::string m_strTty;
  std::string m_strLink;
  std::string m_strTranscript;
  std::string m_strState;
  int m_nTrailer = 0x0A;
  bool m_bAbsent = false;  // no module on the line until a control line inserts one
  CModuleState m_state;
  CFaults m_faults;
  // --swap-after: the module put on in place of the first, and how long the jig stays empty.
  CModuleState m_swapState = SwappedInDefault();
  int m_nSwapGapMs = 20;

  static CModuleState SwappedInDefault() {
    CModuleState state;
    state.m_abAddress[5] = 0x14;
    return state;
  }
};

// What the command line asks for.
enum class EParsed { Run, Help, Version, Bad };

// The name the program was started by, without its folder: "corvane-modsim" as installed,
// "modsim" in the build tree. The usage, --version and the error lines say it.
std::string ProgramName(const char* argv0);
// Prints the usage text.
void Usage(std::FILE* to, const std::string& program);
// Bad on an unknown option, a bad value (said on stderr) or a stray argument.
EParsed ParseOptions(int argc, char** argv, COptions& options);
// One module setting by its option's name without the dashes (address, peer, name, pin,
// role): the command line and the control line's insert check values alike. False on a bad
// value or another name; state is then unchanged.
bool ParseSetting(const std::string& name, const std::string& value, CModuleState& state);
