// The whole fault matrix on the fake clock: the module simulator's core (the same byte
// machine modsim runs) answers behind the scripted multi-port fake, so every scenario runs
// the real protocol code in microseconds.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "fakes/FakeClock.h"
#include "fakes/FakeSetupView.h"
#include "fakes/ScriptedCommApi.h"
#include "fakes/SimulatedModule.h"
#include "faults/FaultMatrix.h"
#include "protocol/SetupOperations.h"

namespace {

using namespace faults;

CEnding RunOnFakes(const CScenario& s) {
  CFakeClock clock;
  CScriptedCommApi comm(clock);
  comm.AddPort("COM3");
  CSerialPort serial(comm);
  CFakeSetupView view;
  CSetupOperations ops(serial, view, clock.Sleeper());
  const CModuleSetup setup = Setup(s);
  CSimulatedModule module(setup.m_state, setup.m_faults, comm, "COM3");
  PrepareView(s.m_op, view.m_texts, view.m_checks);

  CEnding got = Press(s, ops, view, [&] { return comm.AnyOpen(); });
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
