// The command line in-process against modsims on pseudo-terminals: module k is COM(k+3) of an
// explicit device namespace, so the search and --port COMn find exactly these. Pauses and
// read time-outs are real: each operation takes its real time.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "cli/CliApp.h"
#include "platform/posix/PosixCommApi.h"
#include "tools/modsim/ModsimProcess.h"

class CCliRig {
 public:
  CCliRig() {
    char dir[] = "/tmp/cli_rig.XXXXXX";
    if (mkdtemp(dir) != nullptr) m_strDir = dir;
  }
  ~CCliRig() {
    m_pApi.reset();
    for (auto& module : m_modules) module->Stop();
    for (size_t k = 0; k < m_modules.size(); ++k) {
      std::remove(StatePath(k).c_str());
      std::remove(TranscriptPath(k).c_str());
    }
    for (const std::string& file : m_extraFiles) std::remove(file.c_str());
    rmdir(m_strDir.c_str());
  }

  // One modsim per entry, each with its own arguments.
  bool Start(const std::vector<std::vector<std::string>>& modules) {
    CDeviceNamespace::PortMap ports;
    for (const std::vector<std::string>& args : modules) {
      const size_t k = m_modules.size();
      std::vector<std::string> all = {"--state", StatePath(k), "--transcript", TranscriptPath(k)};
      all.insert(all.end(), args.begin(), args.end());
      m_modules.push_back(std::make_unique<CModsimProcess>());
      if (!m_modules.back()->Start(MODSIM_PATH, all)) return false;
      ports[static_cast<int>(k) + 3] = m_modules.back()->Path();
    }
    m_pApi = std::make_unique<CPosixCommApi>(CDeviceNamespace::FromMap(ports));
    return true;
  }

  // Runs `corvane args...` and returns its exit code; m_strOut and m_strErr hold its output.
  int Run(std::vector<std::string> args, bool terminal = false) {
    args.insert(args.begin(), "corvane");
    std::vector<const char*> argv;
    for (const std::string& arg : args) argv.push_back(arg.c_str());
    std::ostringstream out, err;
    CCliEnv env{*m_pApi, PlatformDevicePaths(), out, err, terminal, *m_pInterrupt};
    const int code = RunCli(static_cast<int>(argv.size()), argv.data(), env);
    m_strOut = out.str();
    m_strErr = err.str();
    return code;
  }

  std::map<std::string, std::string> State(size_t k) const {
    return CModsimProcess::ReadState(StatePath(k));
  }
  std::string Transcript(size_t k) const { return CModsimProcess::ReadFile(TranscriptPath(k)); }
  const std::string& Path(size_t k) const { return m_modules[k]->Path(); }
  CModsimProcess& Module(size_t k) { return *m_modules[k]; }
  // A file in the rig's folder, removed with the rig.
  std::string File(const std::string& name) {
    m_extraFiles.push_back(m_strDir + "/" + name);
    return m_extraFiles.back();
  }
  // True when nothing at all reached module k: no probe, no frame.
  bool Untouched(size_t k) const {
    const auto state = State(k);
    return state.at("probes") == "0" && state.at("commands") == "0" && state.at("malformed") == "0";
  }

  // The user's Ctrl-C as the runs see it; a fresh one for the runs after an interruption.
  CInterrupt& Interrupt() { return *m_pInterrupt; }
  void ClearInterrupt() { m_pInterrupt = std::make_unique<CInterrupt>(); }

  std::string m_strOut, m_strErr;

 private:
  std::string StatePath(size_t k) const { return m_strDir + "/state" + std::to_string(k); }
  std::string TranscriptPath(size_t k) const {
    return m_strDir + "/transcript" + std::to_string(k);
  }

  std::string m_strDir;
  std::vector<std::unique_ptr<CModsimProcess>> m_modules;
  std::unique_ptr<CPosixCommApi> m_pApi;
  std::unique_ptr<CInterrupt> m_pInterrupt = std::make_unique<CInterrupt>();
  std::vector<std::string> m_extraFiles;
};
