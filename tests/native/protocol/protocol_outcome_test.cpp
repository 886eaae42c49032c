// How an operation ended, as the values a front end reports: the result, the step it ended
// at, and the settings read or acknowledged, beside the message the dialog showed for it.
#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "fakes/SetupRig.h"
#include "tests/common/MessageTexts.h"

namespace {

using Names = std::vector<std::string>;

const Names kAllRead{"peer", "address", "name", "pin", "role"};
const Names kAllAcked{"name", "pin", "role", "peer"};

struct COutcomeRow {
  const char* name;
  bool bRead;
  bool bTurnOff;
  std::function<void(CSetupRig&)> setUp;
  EResult result;
  EStep step;
  Names read;
  Names acked;
  Names messages;
  // Sent and never acknowledged: the module may hold it all the same.
  Names unconfirmed = {};
};

void PrintTo(const COutcomeRow& row, std::ostream* os) {
  *os << row.name;
}

CFaults StopsAfter(int commands) {
  CFaults faults;
  faults.m_nStopAfter = commands;
  return faults;
}

void Module(CSetupRig& rig, const CFaults& faults = CFaults()) {
  rig.AddModulePort("COM1", faults);
}

class OutcomeTest : public CSetupRig, public ::testing::TestWithParam<COutcomeRow> {
 protected:
  void SetUp() override {
    m_view.m_texts[IDC_DEVICE_NAME] = "Unit";
    m_view.m_texts[IDC_PIN_CODE] = "4321";
    m_view.m_checks[IDC_MASTER] = true;
  }
};

TEST_P(OutcomeTest, TellsHowTheOperationEnded) {
  const COutcomeRow& row = GetParam();
  row.setUp(*this);
  m_view.m_checks[IDC_TURN_OFF] = row.bTurnOff;
  if (row.bRead) {
    m_ops.OnRead();
  } else {
    m_ops.OnProgram();
  }
  const COperationOutcome& outcome = m_ops.Outcome();
  EXPECT_EQ(static_cast<int>(row.result), static_cast<int>(outcome.m_eResult));
  EXPECT_EQ(static_cast<int>(row.step), static_cast<int>(outcome.m_eStep));
  EXPECT_EQ(row.read, outcome.m_read);
  EXPECT_EQ(row.acked, outcome.m_acked);
  EXPECT_EQ(row.unconfirmed, outcome.m_unconfirmed);
  EXPECT_EQ(row.messages, m_view.m_messages);
  EXPECT_EQ("", m_comm.ClosingProblems());
}

INSTANTIATE_TEST_SUITE_P(
    EveryEnding, OutcomeTest,
    ::testing::Values(
        COutcomeRow{"ReadOk",
                    true,
                    false,
                    [](CSetupRig& r) { Module(r); },
                    EResult::Ok,
                    EStep::Done,
                    kAllRead,
                    {},
                    {}},
        COutcomeRow{"ProgramOk",
                    false,
                    false,
                    [](CSetupRig& r) { Module(r); },
                    EResult::Ok,
                    EStep::Done,
                    {},
                    kAllAcked,
                    {}},
        COutcomeRow{"ProgramWithTurnOffOk",
                    false,
                    true,
                    [](CSetupRig& r) { Module(r); },
                    EResult::Ok,
                    EStep::Done,
                    {},
                    kAllAcked,
                    {}},
        COutcomeRow{"NoPortAtAll",
                    true,
                    false,
                    [](CSetupRig&) {},
                    EResult::NoModule,
                    EStep::Search,
                    {},
                    {},
                    {kCannotConnect}},
        COutcomeRow{"SilentModule",
                    false,
                    false,
                    [](CSetupRig& r) {
                      CFaults silent;
                      silent.m_bSilent = true;
                      Module(r, silent);
                    },
                    EResult::NoModule,
                    EStep::Search,
                    {},
                    {},
                    {kCannotConnect}},
        COutcomeRow{"PortTakenAfterItsProbe",
                    false,
                    false,
                    [](CSetupRig& r) { r.AddModulePort("COM1").m_nOpensBeforeTaken = 1; },
                    EResult::NoModule,
                    EStep::OpenPort,
                    {},
                    {},
                    {kCannotConnect}},
        COutcomeRow{"HandshakeMissedInBothRuns",
                    false,
                    false,
                    [](CSetupRig& r) {
                      CFaults noOpen;
                      noOpen.m_bNoOpen = true;
                      Module(r, noOpen);
                    },
                    EResult::CommError,
                    EStep::Handshake,
                    {},
                    {},
                    {kCommError}},
        COutcomeRow{"HandshakeMissedThenTheRerunSucceeds",
                    false,
                    false,
                    [](CSetupRig& r) {
                      CFaults firstRun;
                      firstRun.m_nWrongAck = 0x15;
                      firstRun.m_strOnly = "O";
                      firstRun.m_nTimes = 2;
                      Module(r, firstRun);
                    },
                    EResult::Ok,
                    EStep::Done,
                    {},
                    kAllAcked,
                    {}},
        COutcomeRow{"HandshakeMissedThenTheRerunFindsNoModule",
                    true,
                    false,
                    [](CSetupRig& r) { r.AddScriptedModulePort("COM1", CPortScript()); },
                    EResult::NoModule,
                    EStep::Search,
                    {},
                    {},
                    {kCannotConnect}},
        COutcomeRow{"PinNotAcknowledged",
                    false,
                    false,
                    [](CSetupRig& r) { Module(r, StopsAfter(2)); },
                    EResult::CommError,
                    EStep::SetPin,
                    {},
                    {"name"},
                    {kCommError},
                    {"pin"}},
        COutcomeRow{"PeerAddressNotAcknowledged",
                    false,
                    false,
                    [](CSetupRig& r) { Module(r, StopsAfter(4)); },
                    EResult::CommError,
                    EStep::SetPeerAddr,
                    {},
                    {"name", "pin", "role"},
                    {kCommError},
                    {"peer"}},
        COutcomeRow{"NameNotRead",
                    true,
                    false,
                    [](CSetupRig& r) { Module(r, StopsAfter(3)); },
                    EResult::CommError,
                    EStep::GetName,
                    {"peer", "address"},
                    {},
                    {kCommError}},
        COutcomeRow{"TurnOffUnansweredAfterProgram",
                    false,
                    true,
                    [](CSetupRig& r) { Module(r, StopsAfter(5)); },
                    EResult::CommError,
                    EStep::TurnOff,
                    {},
                    kAllAcked,
                    {kCommError}},
        COutcomeRow{"TurnOffUnansweredAfterRead",
                    true,
                    true,
                    [](CSetupRig& r) { Module(r, StopsAfter(6)); },
                    EResult::CommError,
                    EStep::TurnOff,
                    kAllRead,
                    {},
                    {kCommError}}),
    [](const ::testing::TestParamInfo<COutcomeRow>& info) { return std::string(info.param.name); });

TEST(OutcomeAcrossPresses, EachOperationStartsAFreshAccount) {
  CSetupRig rig;
  rig.m_view.m_texts[IDC_DEVICE_NAME] = "Unit";
  rig.AddModulePort("COM1", StopsAfter(3));
  rig.m_ops.OnProgram();
  EXPECT_EQ((Names{"name", "pin"}), rig.m_ops.Outcome().m_acked);
  // The module has fallen silent for good: the next press finds no module.
  rig.m_ops.OnRead();
  EXPECT_EQ(EResult::NoModule, rig.m_ops.Outcome().m_eResult);
  EXPECT_TRUE(rig.m_ops.Outcome().m_acked.empty());
}

}  // namespace
