// `corvane pair`: two modules made to connect to each other. The master calls the slave by its
// address, the slave knows the master's, and both hold the same PIN.
//
// Contract: RunPair checks the options before any port is opened and runs the pair's engine
// (engine/pair/PairRun.h), printing both sides as text or JSON. With one port it needs the
// operator's terminal (refused with kExitUsage without one), where it asks for each module. A
// pair that is only half made is said so, with what each acknowledged.
#pragma once

#include <string>

#include "engine/os/RunEnv.h"
#include "cli/CommonOptions.h"

struct CPairOptions {
  std::string m_strMaster, m_strSlave;
  // One adapter: both modules in turn on this port, swapped by the operator.
  std::string m_strPort;
  std::string m_strPin, m_strMasterName, m_strSlaveName;
  CLI::Option* m_pPin = nullptr;
  CLI::Option* m_pMasterName = nullptr;
  CLI::Option* m_pSlaveName = nullptr;
  bool m_bVerify = false;
  bool m_bDryRun = false;
  std::string m_strFormat = "text";
  EPace m_pace = EPace::Standard;
};

CLI::App* AddPairCommand(CLI::App& app, CPairOptions& options, bool pathsAllowed);
int RunPair(const CPairOptions& options, CRunEnv& env);
