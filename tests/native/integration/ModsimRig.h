// The real operations over the real POSIX serial layer, against modsim on a pseudo-terminal:
// modsim's pty is COM3 of an explicit device namespace, the view is the recording fake, and
// the pauses really sleep (each one is also recorded).
#pragma once

#include <stdlib.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "fakes/FakeSetupView.h"
#include "platform/posix/PosixCommApi.h"
#include "protocol/SetupOperations.h"
#include "tools/modsim/ModsimProcess.h"

class CModsimRig {
 public:
  CModsimRig() {
    char dir[] = "/tmp/modsim_rig.XXXXXX";
    if (mkdtemp(dir)) m_strDir = dir;
    m_strState = m_strDir + "/state";
    m_strTranscript = m_strDir + "/transcript";
  }
  ~CModsimRig() {
    m_pOps.reset();
    m_pSerial.reset();
    m_pApi.reset();
    m_modsim.Stop();
    std::remove(m_strState.c_str());
    std::remove(m_strTranscript.c_str());
    rmdir(m_strDir.c_str());
  }

  // Starts modsim with args and wires the operations to its pty as COM3.
  bool Start(std::vector<std::string> args) {
    args.insert(args.begin(), {"--state", m_strState, "--transcript", m_strTranscript});
    if (!m_modsim.Start(MODSIM_PATH, args)) return false;
    m_pApi = std::make_unique<CPosixCommApi>(CDeviceNamespace::FromMap({{3, m_modsim.Path()}}));
    m_pSerial = std::make_unique<CSerialPort>(*m_pApi);
    m_pOps = std::make_unique<CSetupOperations>(*m_pSerial, m_view, [this](DWORD ms) {
      m_pauses.push_back(ms);
      PlatformSleep(ms);
    });
    return true;
  }

  // Runs one operation and returns its wall-clock duration in milliseconds.
  long long Time(void (CSetupOperations::*operation)()) {
    long long start = NowMs();
    ((*m_pOps).*operation)();
    return NowMs() - start;
  }

  // modsim writes its files off its answering path: they catch up before they are read.
  std::map<std::string, std::string> State() {
    m_modsim.Sync();
    return CModsimProcess::ReadState(m_strState);
  }
  std::string Transcript() {
    m_modsim.Sync();
    return CModsimProcess::ReadFile(m_strTranscript);
  }

  static long long NowMs() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
  }

  CFakeSetupView m_view;
  std::vector<DWORD> m_pauses;
  std::unique_ptr<CSetupOperations> m_pOps;

 private:
  std::string m_strDir, m_strState, m_strTranscript;
  CModsimProcess m_modsim;
  std::unique_ptr<CPosixCommApi> m_pApi;
  std::unique_ptr<CSerialPort> m_pSerial;
};
