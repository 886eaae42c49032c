// The command line in-process against modsims on pseudo-terminals: module k is COM(k+3) of an
// explicit device namespace, so the search and --port COMn find exactly these. Pauses and
// read time-outs are real: each operation takes its real time.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <regex>
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
    for (auto it = m_extraFolders.rbegin(); it != m_extraFolders.rend(); ++it) rmdir(it->c_str());
    // What the program made there of its own (a state folder, say) goes with the folder.
    std::error_code ignored;
    if (!m_strDir.empty()) std::filesystem::remove_all(m_strDir, ignored);
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

  // Replaces module k by a new modsim with other arguments (a fault gone, say) at the same COM
  // name; its transcript and state start again.
  bool Restart(size_t k, const std::vector<std::string>& args) {
    m_modules[k]->Stop();
    std::vector<std::string> all = {"--state", StatePath(k), "--transcript", TranscriptPath(k)};
    all.insert(all.end(), args.begin(), args.end());
    m_modules[k] = std::make_unique<CModsimProcess>();
    if (!m_modules[k]->Start(MODSIM_PATH, all)) return false;
    CDeviceNamespace::PortMap ports;
    for (size_t i = 0; i < m_modules.size(); ++i) ports[static_cast<int>(i) + 3] = Path(i);
    m_pApi = std::make_unique<CPosixCommApi>(CDeviceNamespace::FromMap(ports));
    return true;
  }
  // The device paths of modules first to first + count - 1, for `gang --ports` of a process.
  std::string Paths(size_t first, size_t count) const {
    std::string list;
    for (size_t k = first; k < first + count; ++k) list += (list.empty() ? "" : ",") + Path(k);
    return list;
  }

  // Runs `corvane args...` and returns its exit code; m_strOut and m_strErr hold its output.
  int Run(std::vector<std::string> args, bool terminal = false) {
    args.insert(args.begin(), "corvane");
    std::vector<const char*> argv;
    for (const std::string& arg : args) argv.push_back(arg.c_str());
    std::ostringstream out, err;
    CRunEnv env{*m_pApi,  PlatformDevicePaths(), out,     err,
                terminal, *m_pInterrupt,         nullptr, nullptr};
    const int code = RunCli(static_cast<int>(argv.size()), argv.data(), env);
    m_strOut = out.str();
    m_strErr = err.str();
    return code;
  }

  // The environment Run gives the program, for a test that runs a command's parts itself.
  CRunEnv Env(std::ostream& out, std::ostream& err) {
    return CRunEnv{*m_pApi, PlatformDevicePaths(), out,     err,
                   false,   *m_pInterrupt,         nullptr, nullptr};
  }

  // modsim writes its files after it has answered: first let it catch up.
  std::map<std::string, std::string> State(size_t k) const {
    m_modules[k]->Sync();
    return CModsimProcess::ReadState(StatePath(k));
  }
  std::string Transcript(size_t k) const {
    m_modules[k]->Sync();
    return CModsimProcess::ReadFile(TranscriptPath(k));
  }
  // The setting commands module k heard, as letters: name N, PIN I, role M or S, peer E.
  std::string Writes(size_t k) const {
    static const std::regex kCommand("EV command [0-9]+ ([NIMSE])");
    const std::string transcript = Transcript(k);
    std::string letters;
    for (std::sregex_iterator it(transcript.begin(), transcript.end(), kCommand), end; it != end;
         ++it) {
      letters += (*it)[1].str();
    }
    return letters;
  }
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

  // A folder in the rig's folder with mode (umask aside), removed with the rig once the files
  // in it, made through File("name/..."), are gone.
  std::string Folder(const std::string& name, mode_t mode) {
    m_extraFolders.push_back(m_strDir + "/" + name);
    mkdir(m_extraFolders.back().c_str(), mode);
    chmod(m_extraFolders.back().c_str(), mode);
    return m_extraFolders.back();
  }

  // Starts the real program with stdout and stderr on the given descriptors (-1: /dev/null),
  // through wrapper when one is given (setpriv, to run it as another user).
  static pid_t Spawn(const std::vector<std::string>& args, int outFd = -1, int errFd = -1,
                     const std::vector<std::string>& wrapper = {}) {
    std::vector<const char*> argv;
    for (const std::string& arg : wrapper) argv.push_back(arg.c_str());
    argv.push_back(wrapper.empty() ? "corvane" : CORVANE_PATH);
    for (const std::string& arg : args) argv.push_back(arg.c_str());
    argv.push_back(nullptr);
    const pid_t child = fork();
    if (child != 0) return child;
    const int null = open("/dev/null", O_RDWR);
    dup2(null, STDIN_FILENO);
    dup2(outFd >= 0 ? outFd : null, STDOUT_FILENO);
    dup2(errFd >= 0 ? errFd : null, STDERR_FILENO);
    execv(wrapper.empty() ? CORVANE_PATH : wrapper[0].c_str(),
          const_cast<char* const*>(argv.data()));
    _exit(127);
  }
  // Waits up to seconds for the child to exit; kills it and returns false when it does not.
  // Everything written to fd until its writers have closed it; fd is closed then.
  static std::string ReadAll(int fd) {
    std::string text;
    char buffer[512];
    for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;) text.append(buffer, n);
    close(fd);
    return text;
  }
  static bool WaitExit(pid_t child, int seconds, int* status) {
    for (int k = 0; k < seconds * 20; ++k) {
      if (waitpid(child, status, WNOHANG) == child) return true;
      usleep(50 * 1000);
    }
    kill(child, SIGKILL);
    waitpid(child, status, 0);
    return false;
  }
  const std::string& Dir() const { return m_strDir; }

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
  std::vector<std::string> m_extraFolders;
};
