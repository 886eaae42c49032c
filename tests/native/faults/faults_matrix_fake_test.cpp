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

CEnding RunOnFakes(const CScenario& s, EPace pace = EPace::Standard) {
  CFakeClock clock;
  CScriptedCommApi comm(clock);
  comm.AddPort("COM3");
  CSerialPort serial(comm);
  CFakeSetupView view;
  CSetupOperations ops(serial, view, clock.Sleeper());
  ops.SetPace(pace);
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

// Whatever the module does wrong, fast ends no worse than standard: where standard ends well,
// fast ends the same for the user and for the module (messages, values shown, settings
// stored); only the number of tries may differ. Where standard fails because its reads left
// bytes of a broken reply queued, fast may recover: its fall-back reads the line quiet
// before the retry. It then shows every value and stores what standard would.
TEST(FaultMatrixFake, FastEndsNoWorseThanStandardInEveryScenario) {
  int same = 0;
  int recovered = 0;
  int all = 0;
  for (const CScenario& s : AllScenarios()) {
    ++all;
    const CEnding standard = RunOnFakes(s, EPace::Standard);
    CEnding fast = RunOnFakes(s, EPace::Fast);
    if (!standard.m_messages.empty() && fast.m_messages.empty()) {
      std::string left;
      for (const auto& [id, text] : fast.m_texts) {
        if (text == "??" || text == "unknown" || text.rfind("old ", 0) == 0) left += text + " ";
      }
      EXPECT_EQ("", left) << s.Name() << ": fast recovered but left controls unfilled";
      for (const char* key : {"name", "pin", "role", "peer"}) {
        EXPECT_EQ(standard.m_module.at(key), fast.m_module.at(key)) << s.Name() << " " << key;
      }
      ++recovered;
      continue;
    }
    // Compare judges the tries through the commands received and the counters; leave
    // those to standard's account.
    fast.m_strCommands = standard.m_strCommands;
    for (const char* key : {"probes", "commands", "opens", "last"}) {
      fast.m_module[key] = standard.m_module.at(key);
    }
    CEnding want = standard;
    want.m_module.erase("malformed");
    const std::string diff = Compare(want, fast);
    if (diff.empty()) {
      ++same;
    } else {
      ADD_FAILURE() << s.Name() << " fast differs from standard:\n" << diff;
    }
  }
  std::printf("fast against standard: %d scenarios, %d alike, %d recovered by the fall-back\n", all,
              same, recovered);
  EXPECT_EQ(all, same + recovered);
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
