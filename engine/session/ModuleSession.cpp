#include "engine/session/ModuleSession.h"

#include <cstdio>

#include "res/resource.h"

namespace {

constexpr int kPeerIds[6] = {IDC_PEER_ADDR1, IDC_PEER_ADDR2, IDC_PEER_ADDR3,
                             IDC_PEER_ADDR4, IDC_PEER_ADDR5, IDC_PEER_ADDR6};

// What each operation is doing while the bar stands at a position (index) before the last.
const char* const kReadSteps[] = {"",
                                  "opening the link",
                                  "reading the peer address",
                                  "reading the device address",
                                  "reading the name",
                                  "reading the PIN",
                                  "reading the role"};
const char* const kProgramSteps[] = {"",
                                     "opening the link",
                                     "writing the name",
                                     "storing the name",
                                     "writing the PIN",
                                     "writing the role",
                                     "writing the peer address"};

}  // namespace

namespace {

// Each outcome's words and the exit code a command gives for a module that ended so (the
// command line's codes: 0 ok, 1 nothing to talk to, 2 a failure, 3 a verify difference, 130
// interrupted).
struct COutcomeRow {
  EOutcome m_outcome;
  const char* m_pszText;
  int m_nExitCode;
};

constexpr COutcomeRow kOutcomes[] = {
    {EOutcome::Ok, "ok", 0},
    {EOutcome::NoModule, "no module", 1},
    {EOutcome::Busy, "busy", 1},
    {EOutcome::NoPermission, "no permission", 1},
    {EOutcome::CommError, "communication error", 2},
    {EOutcome::VerifyDiffers, "verify differs", 3},
    {EOutcome::Interrupted, "interrupted", 130},
    {EOutcome::NotInPlan, "not in plan", 2},
    {EOutcome::AlreadyProgrammed, "already programmed", 0},
    {EOutcome::NotInLedger, "not in ledger", 2},
    {EOutcome::Refused, "refused", 2},
    {EOutcome::ModuleChanged, "module changed", 2},
    {EOutcome::DiffersFromLedger, "differs from the ledger", 2},
};

constexpr bool EveryOutcomeInOrder() {
  size_t k = 0;
  for (; k < sizeof kOutcomes / sizeof kOutcomes[0]; ++k) {
    if (static_cast<size_t>(kOutcomes[k].m_outcome) != k) return false;
  }
  return k == static_cast<size_t>(EOutcome::DiffersFromLedger) + 1;
}
static_assert(EveryOutcomeInOrder(), "one row per outcome, in the order of EOutcome");

const COutcomeRow& RowOf(EOutcome outcome) {
  return kOutcomes[static_cast<size_t>(outcome)];
}

}  // namespace

const char* OutcomeText(EOutcome outcome) {
  return RowOf(outcome).m_pszText;
}

int OutcomeExitCode(EOutcome outcome) {
  return RowOf(outcome).m_nExitCode;
}

const char* PaceText(EPace pace) {
  return pace == EPace::Fast ? "fast" : "standard";
}

std::string PaceShown(const CModuleReport& report) {
  if (report.m_pace == EPace::Standard) return PaceText(report.m_pace);
  return report.m_bFellBack ? "fast, fell back" : "fast";
}

CModuleSession::CModuleSession(CommApi& base, const CInterrupt& interrupt, CProgressSink* sink)
    : m_interrupt(interrupt),
      m_pSink(sink),
      m_api(base, interrupt),
      m_serial(m_api),
      m_view([this](bool searching) { m_bSearching = searching; },
             [this](int pos) { OnProgress(pos); }),
      m_ops(m_serial, m_view, [&interrupt](DWORD ms) { interrupt.Wait(ms); }) {
  m_api.m_fnOnOpen = [this](const std::string& portName) { OnOpen(portName); };
}

bool CModuleSession::Probe(const std::string& portName) {
  m_bSearching = true;
  const bool answered = m_ops.ProbePort(portName);
  m_bSearching = false;
  return answered;
}

bool CModuleSession::Read(bool turnOff, CModuleReport& report) {
  if (!RunRead(turnOff, report)) return false;
  report.m_read = ViewSettings();
  return true;
}

bool CModuleSession::RunRead(bool turnOff, CModuleReport& report) {
  m_operation = EOperation::Read;
  m_bTurnOff = turnOff;
  m_view.SetCheck(IDC_TURN_OFF, turnOff);
  m_view.BeginRun();
  Expect(report);
  m_ops.OnRead();
  return Conclude(report);
}

void CModuleSession::Expect(const CModuleReport& report) {
  if (report.m_address) {
    m_ops.ExpectAddress(*report.m_address, m_eCheck);
  } else {
    m_ops.ForgetExpectedAddress();
  }
}

std::optional<CModuleAddress> CModuleSession::Identify() {
  m_ops.ForgetExpectedAddress();
  m_view.SetCheck(IDC_TURN_OFF, false);
  m_view.BeginRun();
  m_ops.OnIdentify();
  if (m_interrupt.IsSet() || m_ops.Outcome().m_eResult != EResult::Ok) return std::nullopt;
  return m_ops.Outcome().m_address;
}

bool CModuleSession::Program(const CModuleSettings& values, bool turnOff, bool verify,
                             CModuleReport& report) {
  report.m_written = values;
  m_view.SetControlText(IDC_DEVICE_NAME, values.m_strName);
  m_view.SetControlText(IDC_PIN_CODE, values.m_strPin);
  m_view.SetCheck(IDC_MASTER, values.m_bMaster);
  m_view.SetCheck(IDC_SLAVE, !values.m_bMaster);
  for (size_t k = 0; k < values.m_peer.size(); ++k) {
    char text[4];
    std::snprintf(text, sizeof text, "%02X", values.m_peer[k]);
    m_view.SetControlText(kPeerIds[k], text);
  }

  m_operation = EOperation::Program;
  // With a verifying read, the turn-off waits for it: the module must still be on to answer.
  m_bTurnOff = turnOff && !verify;
  m_view.SetCheck(IDC_TURN_OFF, m_bTurnOff);
  m_view.BeginRun();
  Expect(report);
  m_ops.OnProgram();
  report.m_acked = CSettingSet::FromNames(m_ops.Outcome().m_acked);
  report.m_unconfirmed = CSettingSet::FromNames(m_ops.Outcome().m_unconfirmed);
  if (!Conclude(report) || !verify) return report.m_outcome == EOutcome::Ok;

  if (!RunRead(turnOff, report)) return false;
  report.m_readBack = ViewSettings();
  report.m_differs = Differences(values, *report.m_readBack);
  report.m_verified = report.m_differs.Empty();
  if (!report.m_differs.Empty()) report.m_outcome = EOutcome::VerifyDiffers;
  return report.m_differs.Empty();
}

bool CModuleSession::Conclude(CModuleReport& report) {
  const std::vector<std::string>& messages = m_view.Messages();
  if (!messages.empty() && report.m_strMessage.empty()) report.m_strMessage = messages.front();
  const EResult result = m_ops.Outcome().m_eResult;
  // The first address read is the module's identity for the rest of the attempt.
  if (!report.m_address) report.m_address = m_ops.Outcome().m_address;
  report.m_pace = m_ops.Pace();
  if (report.m_pace == EPace::Fast) report.m_bFellBack |= m_ops.Outcome().m_bFellBack;
  if (m_interrupt.IsSet()) {
    // The dialog's "Communication Error" is only what cutting the run short did to the
    // exchange: the module is not at fault, so no message blames it.
    report.m_outcome = EOutcome::Interrupted;
    report.m_strMessage.clear();
  } else if (result == EResult::NoModule) {
    // Nothing answered; a port another program holds may be where the module is.
    report.m_outcome = EOutcome::NoModule;
    if (!m_api.DeniedPort().empty()) {
      report.m_outcome = EOutcome::NoPermission;
      report.m_strBusyPort = m_api.DeniedPort();
    }
    if (!m_api.BusyPort().empty()) {
      report.m_outcome = EOutcome::Busy;
      report.m_strBusyPort = m_api.BusyPort();
    }
  } else if (result == EResult::ModuleChanged) {
    report.m_outcome = EOutcome::ModuleChanged;
    report.m_otherAddress = m_ops.Outcome().m_otherAddress;
    report.m_strMessage = "corvane: another module answered (" + report.m_otherAddress->Text() +
                          ") in place of " + report.m_address->Text();
    if (!report.m_unconfirmed.Empty()) {
      report.m_strMessage += "; either may have taken: " + JoinSettings(report.m_unconfirmed);
    }
  } else if (result == EResult::CommError) {
    // A run that ended short without a word (a handshake missed twice) failed all the same.
    report.m_outcome = EOutcome::CommError;
    if (report.m_strMessage.empty()) report.m_strMessage = MSG_COMM_ERROR;
  } else {
    report.m_outcome = EOutcome::Ok;
  }
  if (report.m_outcome != EOutcome::NoModule && !m_ops.m_strPortName.empty()) {
    report.m_strPort = m_ops.m_strPortName;
    // Whatever follows talks to this module, not to another one found first meanwhile.
    m_api.ListOnly(m_ops.m_strPortName);
  }
  if (m_pSink != nullptr) {
    m_pSink->OnProgress(m_view.Reached(), OutcomeText(report.m_outcome));
  }
  return report.m_outcome == EOutcome::Ok;
}

CSettingChanges KnownSettings(const CModuleReport& report) {
  if (report.m_readBack) return CSettingChanges::Of(*report.m_readBack);
  CSettingChanges known;
  if (report.m_read) known = CSettingChanges::Of(*report.m_read);
  if (!report.m_written) return known;
  const CModuleSettings& sent = *report.m_written;
  const CSettingSet confirmed = ConfirmedSettings(report);
  if (confirmed.Has(ESetting::Name)) known.m_name = sent.m_strName;
  if (confirmed.Has(ESetting::Pin)) known.m_pin = sent.m_strPin;
  if (confirmed.Has(ESetting::Role)) known.m_master = sent.m_bMaster;
  if (confirmed.Has(ESetting::Peer)) known.m_peer = sent.m_peer;
  return known;
}

std::string KnownAddress(const CModuleReport& report) {
  return report.m_address ? report.m_address->Text() : std::string();
}

CSettingSet ConfirmedSettings(const CModuleReport& report) {
  return report.m_acked.Without(report.m_unconfirmed);
}

CModuleSettings CModuleSession::ViewSettings() {
  CModuleSettings settings;
  settings.m_address = m_ops.Outcome().m_address;
  settings.m_strName = m_view.GetControlText(IDC_DEVICE_NAME);
  settings.m_strPin = m_view.GetControlText(IDC_PIN_CODE);
  settings.m_bMaster = m_view.IsChecked(IDC_MASTER);
  for (size_t k = 0; k < settings.m_peer.size(); ++k) {
    settings.m_peer[k] = CSetupOperations::ParseHexByte(m_view.GetControlText(kPeerIds[k]).c_str());
  }
  return settings;
}

void CModuleSession::OnOpen(const std::string& portName) {
  Tell(0, (m_bSearching ? "searching " : "opening ") + portName);
}

void CModuleSession::OnProgress(int pos) {
  if (pos <= 0) return;
  if (pos >= CHeadlessView::kProgressSteps) {
    Tell(pos, m_bTurnOff ? "turning Bluetooth off" : "closing the port");
    return;
  }
  Tell(pos, m_operation == EOperation::Read ? kReadSteps[pos] : kProgramSteps[pos]);
}

void CModuleSession::Tell(int step, const std::string& doing) {
  if (m_pSink != nullptr) m_pSink->OnProgress(step, doing);
}
