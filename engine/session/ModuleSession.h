// One module, driven through the dialog's own operations: CSetupOperations runs the search,
// the frames, the tries and the pauses; this class only fills and reads a headless view around
// it and tells how each run ended. The command line runs one session; gang programming runs
// one per port, each on its own thread, channel and view.
//
// Contract: every call blocks until the operation has ended and the port is closed again
// (the operation closes it on every path). An interruption makes the run fail at its next
// exchange; the outcome is then Interrupted. The base CommApi and the interrupt must outlive
// the session.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "engine/session/SessionCommApi.h"
#include "engine/session/HeadlessView.h"
#include "engine/os/Interrupt.h"
#include "engine/values/Settings.h"
#include "protocol/SetupOperations.h"

enum class EOutcome {
  Ok,
  NoModule,
  Busy,
  NoPermission,
  CommError,
  VerifyDiffers,
  Interrupted,
  NotInPlan,
  // With a ledger: its last attempt ended ok, so it was left as it is (not a failure).
  AlreadyProgrammed,
  // gang --only-failed: the ledger has never seen it, so it was left as it is.
  NotInLedger,
  // A station: the values it would get break a rule (a name another module holds); it was
  // left as it is.
  Refused,
  // Another module answered than the one this attempt read first: a swap on the port.
  ModuleChanged,
  // With a ledger: its last attempt ended ok, but the module now holds other values than the
  // ledger recorded for it.
  DiffersFromLedger,
};

// The words a report uses for each outcome.
const char* OutcomeText(EOutcome outcome);
// The exit code of a command whose one module ended so: 0, 1 (no module, busy, no permission),
// 3 (verify differs), 130 (interrupted), otherwise 2.
int OutcomeExitCode(EOutcome outcome);

// Where a session is: the bar's position (0 to 7) and what is being done, such as
// "searching COM3" or "reading the name".
class CProgressSink {
 public:
  virtual ~CProgressSink() = default;
  virtual void OnProgress(int step, const std::string& doing) = 0;
};

struct CModuleReport {
  EOutcome m_outcome = EOutcome::Ok;
  // The module's identity: its own address as first read in this attempt, kept even when a
  // later step failed. Every later check compares with it.
  std::optional<CModuleAddress> m_address;
  // With ModuleChanged: the module that answered instead, and the acknowledged settings either
  // module may have taken (sent since the last check that found the right one).
  std::optional<CModuleAddress> m_otherAddress;
  CSettingSet m_unconfirmed;
  // The port the module answered on ("COM3"); empty when none did.
  std::string m_strPort;
  // What a Read fetched: the read command's values, or program's current values.
  std::optional<CModuleSettings> m_read;
  // What a Program set out to write.
  std::optional<CModuleSettings> m_written;
  // The settings the module acknowledged.
  CSettingSet m_acked;
  // With a verifying read: whether it matched, and the settings that differ.
  std::optional<bool> m_verified;
  CSettingSet m_differs;
  std::optional<CModuleSettings> m_readBack;
  // The dialog's text that ended the run, if one did.
  std::string m_strMessage;
  // With Busy: the port another program holds; with NoPermission, the one the user may not open.
  std::string m_strBusyPort;
  // The pace the module was run at, and whether an operation asked to run fast fell back to
  // the standard pace after a failed try.
  EPace m_pace = EPace::Standard;
  bool m_bFellBack = false;
  // With a ledger: the number the module's address is bound to.
  std::optional<long long> m_ledgerNumber;
};

// What the module is known to hold after the run: what was read, with what it acknowledged
// (and what a verifying read found) over it. A setting only sent is not known.
CSettingChanges KnownSettings(const CModuleReport& report);
// The module's own address; empty when no read fetched it.
std::string KnownAddress(const CModuleReport& report);
// The pace's word in reports, CSV, JSON and the ledger: "standard" or "fast".
const char* PaceText(EPace pace);
// The pace as a person reads it: "standard", "fast", or "fast, fell back".
std::string PaceShown(const CModuleReport& report);
// The settings the module is known to have acknowledged: m_acked without m_unconfirmed.
CSettingSet ConfirmedSettings(const CModuleReport& report);

class CModuleSession final {
 public:
  CModuleSession(CommApi& base, const CInterrupt& interrupt, CProgressSink* sink = nullptr);

  // The pace of every later operation (the dialog's own is standard).
  void SetPace(EPace pace) { m_ops.SetPace(pace); }
  // From now on the search lists only this port.
  void ListOnly(const std::string& portName) { m_api.ListOnly(portName); }
  // The last port another program held when this session tried to open it; empty if none.
  const std::string& BusyPort() const { return m_api.BusyPort(); }
  const std::string& DeniedPort() const { return m_api.DeniedPort(); }
  DWORD LastOpenError() const { return m_api.LastOpenError(); }

  // The dialog's probe of one port: open at the probe's time-out, probe, close. True when
  // the module answered.
  bool Probe(const std::string& portName);
  // A Read into report.m_read. True when it succeeded.
  bool Read(bool turnOff, CModuleReport& report);
  // A Program of all four values; with verify, a Read afterwards that must give them back.
  // CMD_TURN_OFF ends the last operation run. True when everything succeeded. When
  // report.m_address is known (a read came first), the module is checked to be that one as
  // check says (Edges unless ExpectEverySetting was called), and the verifying read compares
  // the address before anything else: another module ends the run with ModuleChanged.
  bool Program(const CModuleSettings& values, bool turnOff, bool verify, CModuleReport& report);
  // Where modules are swapped as part of the work (station, pair): check before every
  // setting as well.
  void CheckEverySetting() { m_eCheck = CSetupOperations::EIdentityCheck::EverySetting; }
  // Who is on the port now: the module's own address, or nothing when none answered (the
  // port gone, no module, or a failed exchange).
  std::optional<CModuleAddress> Identify();

 private:
  enum class EOperation { Read, Program };

  bool RunRead(bool turnOff, CModuleReport& report);
  // The operations expect the module report was first read to be, if it was.
  void Expect(const CModuleReport& report);
  // How the run that just ended went; sets report's outcome, port and message.
  bool Conclude(CModuleReport& report);
  CModuleSettings ViewSettings();

  void OnProgress(int pos);
  void OnOpen(const std::string& portName);
  void Tell(int step, const std::string& doing);

  const CInterrupt& m_interrupt;
  CProgressSink* m_pSink;
  CSessionCommApi m_api;
  CSerialPort m_serial;
  CHeadlessView m_view;
  CSetupOperations m_ops;
  EOperation m_operation = EOperation::Read;
  bool m_bSearching = false;
  bool m_bTurnOff = false;
  CSetupOperations::EIdentityCheck m_eCheck = CSetupOperations::EIdentityCheck::Edges;
};
