// Read and Program at the fast pace against the standard one: the same bytes, the same view
// calls and the same pauses, without the waits for bytes that never come; and the fall-back
// to standard that gives a slow module everything standard would.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fakes/SetupRig.h"

namespace {

// What one press left behind, as far as the wire, the clock and the dialog tell.
struct CRun {
  std::string m_strProbe;
  std::string m_strOperation;
  std::vector<DWORD> m_pauses;
  std::vector<DWORD> m_timeouts;
  std::vector<std::string> m_calls;
  COperationOutcome m_outcome;
  CModuleState m_module;
};

CRun Press(bool bRead, EPace pace, const CFaults& faults = CFaults()) {
  CSetupRig rig;
  rig.m_view.m_texts[IDC_DEVICE_NAME] = "Line 4";
  rig.m_view.m_texts[IDC_PIN_CODE] = "24680000";
  rig.m_view.m_checks[IDC_MASTER] = true;
  const char* const peer[] = {"00", "11", "0D", "33", "44", "55"};
  for (int k = 0; k < 6; ++k) rig.m_view.m_texts[IDC_PEER_ADDR1 + k] = peer[k];
  rig.m_view.m_checks[IDC_TURN_OFF] = true;
  rig.AddModulePort("COM1", faults);
  rig.m_ops.SetPace(pace);
  if (bRead) {
    rig.m_ops.OnRead();
  } else {
    rig.m_ops.OnProgram();
  }
  EXPECT_EQ("", rig.m_comm.ClosingProblems());
  return CRun{
      rig.Written(0),     rig.Written(1),      rig.m_clock.m_pauses,      rig.m_clock.m_timeouts,
      rig.m_view.m_calls, rig.m_ops.Outcome(), rig.Module().m_sim.State()};
}

TEST(Pace, FastPutsTheSameBytesOnTheWireWithEveryPrescribedPause) {
  for (bool bRead : {true, false}) {
    const CRun standard = Press(bRead, EPace::Standard);
    const CRun fast = Press(bRead, EPace::Fast);
    SCOPED_TRACE(bRead ? "Read" : "Program");
    EXPECT_EQ(standard.m_strProbe, fast.m_strProbe);
    EXPECT_EQ(standard.m_strOperation, fast.m_strOperation);
    EXPECT_EQ(standard.m_pauses, fast.m_pauses);
    EXPECT_EQ(standard.m_calls, fast.m_calls);
    EXPECT_EQ(EResult::Ok, fast.m_outcome.m_eResult);
    EXPECT_FALSE(fast.m_outcome.m_bFellBack);
    // Standard waits once after the probe's ACK and after every ACK and trailing byte;
    // fast never waits for a byte that is not coming.
    EXPECT_EQ(bRead ? 8u : 7u, standard.m_timeouts.size());
    EXPECT_TRUE(fast.m_timeouts.empty());
  }
}

TEST(Pace, SettlingModuleIsProgrammedInFastThroughTheFallBack) {
  CFaults settling;
  settling.m_nSettleMs = 300;
  const CRun standard = Press(false, EPace::Standard, settling);
  const CRun fast = Press(false, EPace::Fast, settling);

  // Standard's wait after each ACK is longer than the module needs: nothing is ignored.
  EXPECT_EQ(0, standard.m_module.m_nIgnored);
  EXPECT_FALSE(standard.m_outcome.m_bFellBack);
  // Fast asks for the PIN 110 ms after the name's ACK: ignored, one time-out, then the
  // retry at the standard pace, and standard from there on.
  EXPECT_EQ(1, fast.m_module.m_nIgnored);
  EXPECT_TRUE(fast.m_outcome.m_bFellBack);
  EXPECT_EQ(EResult::Ok, fast.m_outcome.m_eResult);
  EXPECT_EQ((std::vector<std::string>{"name", "pin", "role", "peer"}), fast.m_outcome.m_acked);
  EXPECT_EQ("Line 4", fast.m_module.m_strName);
  EXPECT_EQ("24680000", fast.m_module.m_strPin);
  EXPECT_TRUE(fast.m_module.m_bMaster);
  EXPECT_EQ(0x0D, fast.m_module.m_abPeer[2]);
  EXPECT_FALSE(fast.m_module.m_bRadioOn);
  // The PIN's frame went out twice; its failed try kept its pauses like any other.
  const std::string pin = "E4 49 A1 32 34 36 38 30 30 30 30 0D";
  std::string frames = standard.m_strOperation;
  frames.insert(frames.find(pin), pin + " ");
  EXPECT_EQ(frames, fast.m_strOperation);
  std::vector<DWORD> pauses = standard.m_pauses;
  pauses.insert(pauses.begin() + 4, {100, 10});
  EXPECT_EQ(pauses, fast.m_pauses);
}

TEST(Pace, EveryOperationStartsAtTheSetPaceAgain) {
  CSetupRig rig;
  rig.m_view.m_texts[IDC_DEVICE_NAME] = "Again";
  CFaults settling;
  settling.m_nSettleMs = 300;
  rig.AddModulePort("COM1", settling);
  rig.m_ops.SetPace(EPace::Fast);
  rig.m_ops.OnProgram();
  EXPECT_TRUE(rig.m_ops.Outcome().m_bFellBack);

  // A Read changes no setting, so the module never settles: fast from start to end.
  const std::size_t before = rig.m_clock.m_timeouts.size();
  rig.m_ops.OnRead();
  EXPECT_EQ(EResult::Ok, rig.m_ops.Outcome().m_eResult);
  EXPECT_FALSE(rig.m_ops.Outcome().m_bFellBack);
  EXPECT_EQ(before, rig.m_clock.m_timeouts.size());
  EXPECT_EQ("Again", rig.m_view.m_texts[IDC_DEVICE_NAME]);
}

}  // namespace
