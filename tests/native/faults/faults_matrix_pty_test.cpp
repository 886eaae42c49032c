// The fault matrix in real time: the real operations through the POSIX serial layer against
// the real modsim on its own pseudo-terminal, one modsim and one pty per scenario, several
// scenarios at once on worker threads (they spend their time blocked in poll and sleep).
//
// By default a representative subset runs: every fault mode at least once, on Read and on
// Program, first and last commands included (about half a minute). With the environment
// variable CORVANE_FAULTS_FULL=1 the whole cross product runs in real time (two minutes or so).
//
// The probe waits only 100 ms for its answer, so on a heavily loaded machine a scenario can
// miss it for reasons that have nothing to do with the code. A scenario that fails in the
// parallel pass is run once more on its own; the summary says how many needed that.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "accounting/HandleLedger.h"
#include "fakes/FakeSetupView.h"
#include "faults/FaultMatrix.h"
#include "platform/posix/PosixCommApi.h"
#include "protocol/SetupOperations.h"
#include "tools/modsim/ModsimProcess.h"

namespace {

using namespace faults;

// Letters of the framed commands in a modsim transcript ("EV command 3 G CMD_GET_PEER_ADDR").
std::string CommandLetters(const std::string& transcript) {
  std::string letters;
  std::size_t at = 0;
  const std::string key = " EV command ";
  while ((at = transcript.find(key, at)) != std::string::npos) {
    int number = 0;
    char letter = 0;
    if (std::sscanf(transcript.c_str() + at + key.size(), "%d %c", &number, &letter) == 2) {
      letters += letter;
    }
    at += key.size();
  }
  return letters;
}

std::mutex g_startMutex;

// Runs one scenario; returns its ending, or sets *error when the rig itself could not start.
CEnding RunOnPty(const CScenario& s, std::string* error) {
  CEnding got;
  char dir[] = "/tmp/faults_pty.XXXXXX";
  if (mkdtemp(dir) == nullptr) {
    *error = "no temporary directory";
    return got;
  }
  const std::string state = std::string(dir) + "/state";
  const std::string transcript = std::string(dir) + "/transcript";
  std::vector<std::string> args = {"--state", state, "--transcript", transcript};
  const CModuleSetup setup = Setup(s);
  args.insert(args.end(), setup.m_args.begin(), setup.m_args.end());

  CModsimProcess modsim;
  {
    // One fork at a time: the worker threads share the descriptor table.
    std::lock_guard<std::mutex> lock(g_startMutex);
    if (!modsim.Start(MODSIM_PATH, args)) {
      *error = "modsim did not start";
      rmdir(dir);
      return got;
    }
  }
  {
    CPosixCommApi posix(CDeviceNamespace::FromMap({{3, modsim.Path()}}));
    CHandleLedger ledger(posix);
    CSerialPort serial(ledger);
    CFakeSetupView view;
    CSetupOperations ops(serial, view, PlatformSleep);
    PrepareView(s.m_op, view.m_texts, view.m_checks);
    got = Press(s, ops, view, [&] { return ledger.OpenCount() > 0; });
    got.m_strPortProblems = ledger.Problems();
  }
  // A failing try can end on bytes already queued before modsim has even read the frame
  // that try sent: give it a moment to take in the last frames before it is stopped.
  usleep(300 * 1000);
  modsim.Stop();
  got.m_module = CModsimProcess::ReadState(state);
  got.m_strLog = CModsimProcess::ReadFile(transcript);
  got.m_strCommands = CommandLetters(got.m_strLog);
  std::remove(state.c_str());
  std::remove(transcript.c_str());
  rmdir(dir);
  return got;
}

std::vector<CScenario> Subset() {
  const EOp R = EOp::Read;
  const EOp P = EOp::Program;
  return {
      {R, '0', EFault::None},          {R, '0', EFault::Stop},
      {R, '0', EFault::Delay},         {R, '0', EFault::WrongAck},
      {R, 'O', EFault::NoOpen},        {R, 'O', EFault::Stop},
      {R, 'O', EFault::WrongAck},      {R, 'O', EFault::WrongAckOnce},
      {R, 'G', EFault::Vanish},        {R, 'G', EFault::Overflow},
      {R, 'L', EFault::CrInAddress},   {R, 'L', EFault::Cut},
      {R, 'A', EFault::WrongTag},      {R, 'H', EFault::WrongTagOnce},
      {R, 'A', EFault::Overlong},      {R, 'H', EFault::Overflow},
      {R, 'T', EFault::Stop},          {R, 'F', EFault::WrongAck},
      {R, 'F', EFault::ExtraAfterAck}, {R, 'H', EFault::Delay},
      {P, '0', EFault::None},          {P, 'O', EFault::NoOpen},
      {P, 'N', EFault::WrongAck},      {P, 'I', EFault::WrongAckOnce},
      {P, 'M', EFault::Stop},          {P, 'E', EFault::Vanish},
      {P, 'E', EFault::ExtraAfterAck}, {P, 'N', EFault::Delay},
      {P, 'F', EFault::WrongAck},      {P, 'F', EFault::Vanish},
      {P, 'N', EFault::Cut},
  };
}

TEST(FaultMatrixPty, ScenariosEndAsPrescribed) {
  const char* full = std::getenv("CORVANE_FAULTS_FULL");
  const bool bFull = full != nullptr && std::strcmp(full, "1") == 0;
  const std::vector<CScenario> scenarios = bFull ? AllScenarios() : Subset();
  const int nWorkers = bFull ? 10 : 8;

  std::vector<std::string> diffs(scenarios.size());
  std::atomic<std::size_t> next{0};
  std::vector<std::thread> workers;
  for (int w = 0; w < nWorkers; ++w) {
    workers.emplace_back([&] {
      for (std::size_t i = next++; i < scenarios.size(); i = next++) {
        std::string error;
        CEnding got = RunOnPty(scenarios[i], &error);
        diffs[i] = error.empty() ? Compare(Expected(scenarios[i]), got) : "  " + error + "\n";
        if (!diffs[i].empty()) diffs[i] += "  modsim transcript:\n" + got.m_strLog.substr(0, 800);
      }
    });
  }
  for (std::thread& worker : workers) worker.join();

  int passed = 0;
  int passedAlone = 0;
  for (std::size_t i = 0; i < scenarios.size(); ++i) {
    if (diffs[i].empty()) {
      ++passed;
      continue;
    }
    std::printf("%s failed in the parallel pass, running it again alone:\n%s",
                scenarios[i].Name().c_str(), diffs[i].c_str());
    std::string error;
    CEnding got = RunOnPty(scenarios[i], &error);
    std::string again = error.empty() ? Compare(Expected(scenarios[i]), got) : error;
    if (!again.empty()) again += "  modsim transcript:\n" + got.m_strLog.substr(0, 800);
    if (again.empty()) {
      ++passed;
      ++passedAlone;
    } else {
      ADD_FAILURE() << scenarios[i].Name() << "\n" << again;
    }
  }
  std::printf(
      "fault matrix in real time over POSIX and modsim (%s): %zu scenarios ran, %d passed "
      "(%d of them only when run again alone)\n",
      bFull ? "whole cross product" : "representative subset", scenarios.size(), passed,
      passedAlone);
  EXPECT_EQ(static_cast<int>(scenarios.size()), passed);
}

}  // namespace
