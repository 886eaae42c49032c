// Handle accounting over thousands of randomised presses of Read and Program: random port
// lists (absent, unlisted, duplicated, refusing, taken by another program after a few opens,
// refusing the line settings), random device behaviour (scripted byte streams with gaps, line
// errors and failing writes, or the module simulator with random faults), random dialog
// values. After every press, every successful open has been closed exactly once and nothing
// was read from, written to or set on a handle that was not open; the ending is the common one
// (bar at 0, buttons enabled, retry counter at 0, busy cursor gone).
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "accounting/HandleLedger.h"
#include "fakes/FakeClock.h"
#include "fakes/FakeSetupView.h"
#include "fakes/ScriptedCommApi.h"
#include "fakes/SimulatedModule.h"
#include "protocol/SetupOperations.h"

namespace {

class CRandom {
 public:
  explicit CRandom(unsigned seed) : m_engine(seed) {}
  int Below(int n) { return std::uniform_int_distribution<int>(0, n - 1)(m_engine); }
  bool Chance(int percent) { return Below(100) < percent; }
  BYTE Byte() { return static_cast<BYTE>(Below(256)); }

 private:
  std::mt19937 m_engine;
};

// A stream that looks enough like the module to get past the probe and the handshake now and
// then: acknowledgements, tagged lines of any length, noise, gaps and line errors.
CPortScript RandomScript(CRandom& rnd) {
  CPortScript script;
  const int items = rnd.Below(14);
  for (int i = 0; i < items; ++i) {
    switch (rnd.Below(8)) {
      case 0:
      case 1:
      case 2:
        script.Ack();
        break;
      case 3: {
        std::vector<BYTE> payload(rnd.Below(26));
        for (BYTE& b : payload)
          b = rnd.Chance(80) ? static_cast<BYTE>('0' + rnd.Below(75)) : rnd.Byte();
        script.Reply(static_cast<BYTE>(0xF1 + rnd.Below(5)), payload, rnd.Byte());
        break;
      }
      case 4:
        script.Bytes({rnd.Byte()});
        break;
      case 5:
        script.Gap(1 + rnd.Below(3));
        break;
      case 6:
        if (rnd.Chance(30)) script.LineError();
        break;
      default:
        if (rnd.Chance(50)) script.FailWrite(static_cast<std::size_t>(rnd.Below(20)));
        if (rnd.Chance(10)) script.FailWritesFrom(static_cast<std::size_t>(rnd.Below(30)));
        break;
    }
  }
  return script;
}

CFaults RandomFaults(CRandom& rnd) {
  CFaults f;
  switch (rnd.Below(12)) {
    case 0:
      f.m_bSilent = true;
      break;
    case 1:
      f.m_bNoOpen = true;
      break;
    case 2:
      f.m_nStopAfter = rnd.Below(8);
      break;
    case 3:
      f.m_nVanishAfter = 1 + rnd.Below(7);
      break;
    case 4:
      f.m_nWrongAck = rnd.Byte();
      break;
    case 5:
      f.m_nWrongTag = rnd.Byte();
      break;
    case 6:
      f.m_nCutAfter = rnd.Below(8);
      break;
    case 7:
      f.m_nOverlong = rnd.Below(30);
      break;
    case 8:
      f.m_bCrInAddress = true;
      break;
    case 9:
      f.m_nExtraAfterAck = rnd.Byte();
      break;
    case 10:
      f.m_nDelayMs = rnd.Below(1500);
      break;
    default:
      break;
  }
  if (rnd.Chance(50)) {
    const std::string letters = "0OGLAHTNIMSEF";
    f.m_strOnly = std::string(1, letters[rnd.Below(static_cast<int>(letters.size()))]);
  }
  if (rnd.Chance(30)) f.m_nTimes = rnd.Below(3);
  return f;
}

std::string RandomText(CRandom& rnd, int maxLength) {
  std::string text(rnd.Below(maxLength + 1), ' ');
  for (char& c : text)
    c = static_cast<char>(rnd.Chance(90) ? 0x20 + rnd.Below(95) : 1 + rnd.Below(255));
  return text;
}

struct CTally {
  int m_nPresses = 0;
  int m_nOpens = 0;
  int m_nFailedOpens = 0;
  int m_nWithHandshake = 0;
  int m_nSilent = 0;
};

// One machine: a random set of ports and device behaviour, pressed several times by the same
// dialog (the operation object keeps its state between presses, as the dialog's members do).
void RunMachine(unsigned seed, CTally& tally) {
  CRandom rnd(seed);
  CFakeClock clock;
  CScriptedCommApi comm(clock);
  CHandleLedger ledger(comm);
  CSerialPort serial(ledger);
  CFakeSetupView view;
  CSetupOperations ops(serial, view, clock.Sleeper());

  const int nPorts = rnd.Below(6);
  for (int i = 0; i < nPorts; ++i) {
    CScriptedCommApi::CPort& port = comm.AddPort("COM" + std::to_string(1 + rnd.Below(8)));
    port.m_bListed = !rnd.Chance(10);
    if (rnd.Chance(10))
      port.m_dwOpenError = rnd.Chance(50) ? ERROR_ACCESS_DENIED : ERROR_FILE_NOT_FOUND;
    port.m_bRejectSettings = rnd.Chance(5);
    if (rnd.Chance(15)) port.m_nOpensBeforeTaken = rnd.Below(4);
    const int openings = rnd.Below(12);
    for (int k = 0; k < openings; ++k) port.m_openings.push_back(RandomScript(rnd));
  }
  std::unique_ptr<CSimulatedModule> module;
  if (nPorts > 0 && rnd.Chance(50)) {
    CModuleState state;
    state.m_bMaster = rnd.Chance(50);
    module = std::make_unique<CSimulatedModule>(state, RandomFaults(rnd), comm,
                                                comm.m_ports[rnd.Below(nPorts)].m_strName);
  }

  const int presses = 1 + rnd.Below(8);
  for (int p = 0; p < presses; ++p) {
    view.m_texts[IDC_DEVICE_NAME] = RandomText(rnd, 16);
    view.m_texts[IDC_PIN_CODE] = RandomText(rnd, 8);
    for (int id = IDC_PEER_ADDR1; id <= IDC_PEER_ADDR6; ++id) view.m_texts[id] = RandomText(rnd, 2);
    view.m_checks[IDC_MASTER] = rnd.Chance(50);
    view.m_checks[IDC_TURN_OFF] = rnd.Chance(30);
    const int sessionsBefore = static_cast<int>(comm.m_sessions.size());
    const int stepsBefore = view.m_nSteps;
    const bool bRead = rnd.Chance(50);
    if (bRead) {
      ops.OnRead();
    } else {
      ops.OnProgram();
    }
    ++tally.m_nPresses;
    if (view.m_nSteps - stepsBefore >= 2) ++tally.m_nWithHandshake;
    if (view.m_messages.empty()) ++tally.m_nSilent;
    view.m_messages.clear();

    const std::string where = "machine " + std::to_string(seed) + ", press " + std::to_string(p) +
                              (bRead ? " (Read)" : " (Program)");
    ASSERT_EQ(ledger.Problems(), "") << where;
    ASSERT_EQ(ledger.OpenCount(), 0) << where;
    ASSERT_EQ(comm.ClosingProblems(), "") << where;
    ASSERT_EQ(ledger.Opens(), static_cast<int>(comm.m_sessions.size())) << where;
    ASSERT_EQ(ledger.Closes(), ledger.Opens()) << where;
    ASSERT_GE(static_cast<int>(comm.m_sessions.size()), sessionsBefore) << where;
    ASSERT_EQ(view.m_nProgress, 0) << where;
    ASSERT_TRUE(view.IsEnabled(IDC_READ) && view.IsEnabled(IDC_PROGRAM) && view.IsEnabled(IDCANCEL))
        << where;
    ASSERT_EQ(ops.m_nRetry, 0) << where;
    ASSERT_EQ(view.m_nWaitDepth, 0) << where;
  }
  tally.m_nOpens += ledger.Opens();
  tally.m_nFailedOpens += ledger.FailedOpens();
}

TEST(HandleAccounting, EveryOpenIsClosedOnceAcrossRandomMachines) {
  CTally tally;
  for (unsigned seed = 1; seed <= 1500; ++seed) {
    RunMachine(seed, tally);
    if (HasFatalFailure()) return;
  }
  std::printf(
      "handle accounting: %d presses, %d opens each closed once, %d refused opens, "
      "%d presses past the handshake, %d without a message\n",
      tally.m_nPresses, tally.m_nOpens, tally.m_nFailedOpens, tally.m_nWithHandshake,
      tally.m_nSilent);
  EXPECT_GE(tally.m_nPresses, 5000);
  // The random machines must reach deep enough to mean something: past the handshake often,
  // to a clean ending sometimes, and into refused opens.
  EXPECT_GT(tally.m_nWithHandshake, tally.m_nPresses / 10);
  EXPECT_GT(tally.m_nSilent, 0);
  EXPECT_GT(tally.m_nFailedOpens, 0);
}

// The ledger itself: it must notice each kind of mishandling it is there to catch.
TEST(HandleAccounting, LedgerReportsMishandledHandles) {
  CFakeClock clock;
  CScriptedCommApi comm(clock);
  comm.AddPort("COM1");
  CHandleLedger ledger(comm);

  HANDLE h = ledger.CreateFileA("//./COM1", 0, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(ledger.Problems(true), "");
  EXPECT_NE(ledger.Problems(), "");  // still open
  ledger.CloseHandle(h);
  EXPECT_EQ(ledger.Problems(), "");

  BYTE b = 0;
  DWORD n = 0;
  ledger.ReadFile(h, &b, 1, &n, nullptr);
  EXPECT_NE(ledger.Problems().find("ReadFile on a handle that is not open"), std::string::npos);

  CHandleLedger twice(comm);
  HANDLE h2 = twice.CreateFileA("//./COM1", 0, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  twice.CloseHandle(h2);
  twice.CloseHandle(h2);
  EXPECT_NE(twice.Problems().find("already closed"), std::string::npos);

  CHandleLedger written(comm);
  written.WriteFile(reinterpret_cast<HANDLE>(0x77), &b, 1, &n, nullptr);
  EXPECT_NE(written.Problems().find("WriteFile on a handle that is not open"), std::string::npos);
  EXPECT_EQ(written.FailedOpens(), 0);
}

}  // namespace
