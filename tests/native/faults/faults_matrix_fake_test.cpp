// The whole fault matrix on the fake clock: the module simulator's core (the same byte
// machine modsim runs) answers behind the scripted multi-port fake, so every scenario runs
// the real protocol code in microseconds. A reply due later than the opening's read time-out
// is delivered after one waited-out read; a hang-up fails every later read and write of the
// opening and every later open of the port.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "fakes/FakeClock.h"
#include "fakes/FakeSetupView.h"
#include "fakes/ScriptedCommApi.h"
#include "faults/FaultMatrix.h"
#include "protocol/SetupOperations.h"

namespace {

using namespace faults;

class CSimulatedModule {
public:
  CSimulatedModule(const CModuleSetup& setup, CScriptedCommApi& comm, const std::string& port)
      : m_sim(setup.m_state, setup.m_faults, 0x0A), m_comm(comm), m_strPort(port) {
    comm.m_fnOnWrite = [this](CScriptedCommApi::CSession& session, BYTE b) {
      if (session.m_strPort == m_strPort && !m_bGone) OnByte(session, b);
    };
  }

  CModuleSim m_sim;
  std::string m_strCommands;

private:
  void OnByte(CScriptedCommApi::CSession& session, BYTE b) {
    CAnswer answer;
    if (!m_sim.OnByte(b, answer)) return;
    int number = 0;
    char letter = 0;
    if (std::sscanf(answer.m_strNote.c_str(), "command %d %c", &number, &letter) == 2) {
      m_strCommands += letter;
    }
    auto& items = session.m_script.m_items;
    if (!answer.m_bytes.empty() && answer.m_nDelayMs >= static_cast<int>(session.ReadTimeout())) {
      items.push_back({CPortScript::Kind::Gap, 0});
    }
    for (BYTE out : answer.m_bytes) items.push_back({CPortScript::Kind::Byte, out});
    if (answer.m_bHangUp) {
      m_bGone = true;
      items.push_back({CPortScript::Kind::LineError, 0});
      m_comm.FindPort(m_strPort)->m_dwOpenError = ERROR_FILE_NOT_FOUND;
    }
  }

  CScriptedCommApi& m_comm;
  std::string m_strPort;
  bool m_bGone = false;
};

CEnding RunOnFakes(const CScenario& s) {
  CFakeClock clock;
  CScriptedCommApi comm(clock);
  comm.AddPort("COM3");
  CSerialPort serial(comm);
  CFakeSetupView view;
  CSetupOperations ops(serial, view, clock.Sleeper());
  CSimulatedModule module(Setup(s), comm, "COM3");
  PrepareView(s.m_op, view.m_texts, view.m_checks);

  CEnding got;
  const int lockedId = s.m_op == EOp::Read ? IDC_PROGRAM : IDC_READ;
  view.m_fnOnMessage = [&](const char*) {
    got.m_moments.push_back(Moment(comm.AnyOpen(), view.m_nProgress,
                                   !view.IsEnabled(lockedId) && !view.IsEnabled(IDCANCEL)));
  };
  if (s.m_op == EOp::Read) {
    ops.OnRead();
  } else {
    ops.OnProgram();
  }

  got.m_messages = view.m_messages;
  got.m_texts = view.m_texts;
  got.m_checks = view.m_checks;
  got.m_nProgress = view.m_nProgress;
  got.m_bButtonsEnabled =
      view.IsEnabled(IDC_READ) && view.IsEnabled(IDC_PROGRAM) && view.IsEnabled(IDCANCEL);
  got.m_nRetry = ops.m_nRetry;
  got.m_nWaitDepth = view.m_nWaitDepth;
  got.m_strPortProblems = comm.ClosingProblems() + (comm.AnyOpen() ? "a port left open" : "");
  got.m_strCommands = module.m_strCommands;
  got.m_module = ParseState(FormatState(module.m_sim.State()));
  return got;
}

TEST(FaultMatrixFake, EveryCommandCrossedWithEveryFault) {
  int ran = 0;
  int passed = 0;
  for (const CScenario& s : AllScenarios()) {
    ++ran;
    const std::string diff = Compare(Expected(s), RunOnFakes(s));
    if (diff.empty()) {
      ++passed;
    } else {
      ADD_FAILURE() << s.Name() << "\n" << diff;
    }
  }
  std::printf("fault matrix on the fake clock: %d scenarios ran, %d passed\n", ran, passed);
  EXPECT_EQ(ran, passed);
  EXPECT_GE(ran, 180);
}

// The matrix must notice when the protocol misbehaves: a module state the host never asked
// for, or a message too many, has to show up as a difference.
TEST(FaultMatrixFake, ComparisonNoticesWrongEndings) {
  const CScenario s{EOp::Program, 'I', EFault::WrongAck};
  CEnding got = RunOnFakes(s);
  ASSERT_EQ(Compare(Expected(s), got), "");
  CEnding extraMessage = got;
  extraMessage.m_messages.push_back(kCommError);
  EXPECT_NE(Compare(Expected(s), extraMessage), "");
  CEnding roleStored = got;
  roleStored.m_module["role"] = "master";
  EXPECT_NE(Compare(Expected(s), roleStored), "");
  CEnding leftOpen = got;
  leftOpen.m_strPortProblems = "a port left open";
  EXPECT_NE(Compare(Expected(s), leftOpen), "");
}

}  // namespace
