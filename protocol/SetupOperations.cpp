#include "protocol/SetupOperations.h"

#include <cstdio>
#include <utility>
#include <vector>

#include "res/resource.h"

namespace {

// Left to right, the order the address bytes travel in.
constexpr int kPeerAddrIds[ADDRESS_BYTES] = {IDC_PEER_ADDR1, IDC_PEER_ADDR2, IDC_PEER_ADDR3,
                                             IDC_PEER_ADDR4, IDC_PEER_ADDR5, IDC_PEER_ADDR6};

// After the handshake the module takes a moment before it answers queries.
constexpr DWORD kAfterHandshakeMs = 400;
// After the name the module needs a moment before it takes the next command.
constexpr DWORD kAfterNameMs = 100;
// Keeps the full bar visible for a moment, the only sign of success.
constexpr DWORD kBeforeEndMs = 500;
// The command line's look at who is on the port is made while an operator may be taking the
// module off: one try of each exchange at the probe's time-out, so a module gone is known at
// once instead of after the operation's tries.
constexpr CCommandTiming kTimingLook{1, 0, 0};

bool HexDigit(char c, BYTE* value) {
  // Plain char comparisons: bytes from 0x80 up never fall in these ranges, signed or not.
  if (c >= '0' && c <= '9') {
    *value = static_cast<BYTE>(c - '0');
  } else if (c >= 'A' && c <= 'F') {
    *value = static_cast<BYTE>(c - 'A' + 10);
  } else if (c >= 'a' && c <= 'f') {
    *value = static_cast<BYTE>(c - 'a' + 10);
  } else {
    return false;
  }
  return true;
}

// The payload as text: up to its first NUL, which the exchange guarantees within the payload.
std::string PayloadText(const BYTE* payload) {
  char text[REPLY_PAYLOAD_MAX + 1];
  std::snprintf(text, sizeof text, "%s", reinterpret_cast<const char*>(payload));
  return text;
}

}  // namespace

CSetupOperations::CSetupOperations(CSerialPort& serial, CSetupView& view, SleepFn sleep)
    : CCommandExchange(serial, std::move(sleep)), m_nRetry(0), m_view(view) {}

void CSetupOperations::OnRead() {
  ForgetFallBack();
  Run(EOperation::Read);
}

void CSetupOperations::OnProgram() {
  ForgetFallBack();
  Run(EOperation::Program);
}

void CSetupOperations::OnIdentify() {
  ForgetFallBack();
  Run(EOperation::Identify);
}

void CSetupOperations::ExpectAddress(const CModuleAddress& address, EIdentityCheck check) {
  m_expected = address;
  m_eCheck = check;
}

BYTE CSetupOperations::ParseHexByte(const char* text) {
  if (text == nullptr) return 0;
  BYTE high = 0;
  BYTE low = 0;
  // The second character is looked at only after a digit, so a NUL is never read past.
  if (!HexDigit(text[0], &high) || !HexDigit(text[1], &low)) return 0;
  return static_cast<BYTE>(high * 16 + low);
}

bool CSetupOperations::ProbePort(const std::string& portName) {
  if (!m_serial.Open(portName.c_str(), LINE_BAUD, READ_TIMEOUT_PROBE_MS)) return false;
  const bool bAnswered = ExchangeProbe();
  m_serial.Close();
  return bAnswered;
}

bool CSetupOperations::FindModulePort() {
  std::vector<std::string> ports;
  m_serial.ListPorts(ports);
  for (const std::string& port : ports) {
    if (ProbePort(port)) {
      m_strPortName = port;
      return true;
    }
  }
  return false;
}

void CSetupOperations::Run(EOperation op) {
  if (Begin(op)) {
    if (op == EOperation::Read) {
      ReadSettings();
    } else if (op == EOperation::Program) {
      ProgramSettings();
    } else if (CheckIdentity(op)) {
      m_outcome.m_eStep = EStep::Done;
      EndNormally(op);
    }
  }
  m_outcome.m_bFellBack = FellBack();
}

bool CSetupOperations::Begin(EOperation op) {
  // The rerun after a failed handshake happens once per press; its own failed handshake
  // lands here and stops.
  if (m_nRetry > 1) return false;

  // A rerun starts the account afresh: only how it ends counts.
  m_outcome = COperationOutcome();
  m_outcome.m_eStep = EStep::Search;
  m_view.BeginWaitCursor();
  const bool bFound = FindModulePort();
  m_view.EndWaitCursor();
  if (!bFound) {
    m_outcome.m_eResult = EResult::NoModule;
    m_view.ShowMessage(MSG_CANNOT_CONNECT);
    return false;
  }

  // The port may have been taken by another program since its probe.
  m_outcome.m_eStep = EStep::OpenPort;
  const bool look = op == EOperation::Identify;
  if (!m_serial.Open(m_strPortName.c_str(), LINE_BAUD,
                     look ? READ_TIMEOUT_PROBE_MS : READ_TIMEOUT_OPERATION_MS)) {
    m_outcome.m_eResult = EResult::NoModule;
    m_view.ShowMessage(MSG_CANNOT_CONNECT);
    UnlockButtons(op);
    return false;
  }

  if (op != EOperation::Program) {
    m_view.DisableControl(IDC_PROGRAM);
  } else {
    m_view.DisableControl(IDC_READ);
  }
  m_view.DisableControl(IDCANCEL);
  m_view.StepProgress();

  m_outcome.m_eStep = EStep::Handshake;
  if (!ExchangeAck(CFrame::Plain(CMD_OPEN), look ? kTimingLook : TIMING_OPEN)) {
    m_outcome.m_eResult = EResult::CommError;
    if (look) {
      m_serial.Close();
      m_view.ResetProgress();
      UnlockButtons(op);
      return false;
    }
    // A module that missed the handshake often answers after a fresh opening of the port,
    // which also clears a line error: run the whole operation once more.
    m_serial.Close();
    m_view.ResetProgress();
    ++m_nRetry;
    Run(op);
    // Only the rerun sees the counter above 1: its handshake failed as well. Tell the user
    // once, with the port closed and the bar empty.
    if (m_nRetry > 1) m_view.ShowMessage(MSG_COMM_ERROR);
    m_nRetry = 0;
    UnlockButtons(op);
    return false;
  }

  m_view.StepProgress();
  Pause(kAfterHandshakeMs);
  return true;
}

bool CSetupOperations::Query(EStep step, BYTE command, BYTE tag, const CCommandTiming& timing,
                             const ReplyConsumer& consumer) {
  m_outcome.m_eStep = step;
  if (!ExchangeQuery(command, tag, timing, consumer)) {
    EndWithFailure(EOperation::Read);
    return false;
  }
  m_outcome.m_read.emplace_back(StepSetting(step));
  return true;
}

bool CSetupOperations::Write(EStep step, const FrameSource& frame, const CCommandTiming& timing) {
  m_outcome.m_eStep = step;
  if (!ExchangeAck(frame, timing)) {
    // The frame went out, so the module may hold the value with its answer lost on the line
    // (an adapter pulled mid-exchange): a setting sent and never acknowledged is doubtful,
    // not unwritten.
    if (const char* setting = StepSetting(step)) m_outcome.m_unconfirmed.emplace_back(setting);
    EndWithFailure(EOperation::Program);
    return false;
  }
  m_outcome.m_acked.emplace_back(StepSetting(step));
  return true;
}

void CSetupOperations::ReadSettings() {
  if (!Query(EStep::GetPeerAddr, CMD_GET_PEER_ADDR, RSP_PEER_ADDR, TIMING_GET_PEER_ADDR,
             [this](const BYTE* payload) {
               for (int k = 0; k < ADDRESS_BYTES; ++k) {
                 char text[8];
                 std::snprintf(text, sizeof text, "%02X", payload[k]);
                 m_view.SetControlText(kPeerAddrIds[k], text);
               }
             })) {
    return;
  }
  m_view.StepProgress();

  if (!Query(EStep::GetDeviceAddr, CMD_GET_DEVICE_ADDR, RSP_DEVICE_ADDR, TIMING_GET_DEVICE_ADDR,
             [this](const BYTE* p) {
               char text[48];
               std::snprintf(text, sizeof text, "%02X : %02X : %02X : %02X : %02X : %02X", p[0],
                             p[1], p[2], p[3], p[4], p[5]);
               m_view.SetControlText(IDC_DEVICE_ADDRESS, text);
               m_outcome.m_address = CModuleAddress::FromWire(p);
             })) {
    return;
  }
  if (m_expected && *m_outcome.m_address != *m_expected) {
    EndWithChange(EOperation::Read, *m_outcome.m_address);
    return;
  }
  m_view.StepProgress();

  if (!Query(EStep::GetName, CMD_GET_NAME, RSP_NAME, TIMING_GET_NAME, [this](const BYTE* payload) {
        m_view.SetControlText(IDC_DEVICE_NAME, PayloadText(payload));
      })) {
    return;
  }
  m_view.StepProgress();
  Pause(kAfterNameMs);
  Pause(kAfterNameMs);

  // The PIN is shown as the module sent it, unpadded, so a Program sends it back unchanged.
  if (!Query(EStep::GetPin, CMD_GET_PIN, RSP_PIN, TIMING_GET_PIN, [this](const BYTE* payload) {
        m_view.SetControlText(IDC_PIN_CODE, PayloadText(payload));
      })) {
    return;
  }
  m_view.StepProgress();

  if (!Query(EStep::GetRole, CMD_GET_ROLE, RSP_ROLE, TIMING_GET_ROLE, [this](const BYTE* payload) {
        const bool bMaster = payload[0] == ROLE_MASTER;
        m_view.SetCheck(IDC_MASTER, bMaster);
        m_view.SetCheck(IDC_SLAVE, !bMaster);
      })) {
    return;
  }
  m_view.StepProgress();

  Finish(EOperation::Read);
}

void CSetupOperations::ProgramSettings() {
  m_nConfirmed = 0;
  if (!CheckBefore(0)) return;
  // Every try takes the boxes as they stand, as the user left them.
  if (!Write(
          EStep::SetName,
          [this] { return CFrame::Text(CMD_SET_NAME, m_view.GetControlText(IDC_DEVICE_NAME)); },
          TIMING_SET_NAME)) {
    return;
  }
  m_view.StepProgress();
  Pause(kAfterNameMs);
  m_view.StepProgress();

  if (!CheckBefore(1)) return;
  if (!Write(
          EStep::SetPin,
          [this] { return CFrame::Text(CMD_SET_PIN, m_view.GetControlText(IDC_PIN_CODE)); },
          TIMING_SET_PIN)) {
    return;
  }
  m_view.StepProgress();

  // Only the Master box decides; the dialog keeps exactly one of the two checked.
  if (!CheckBefore(2)) return;
  if (!Write(
          EStep::SetRole,
          [this] {
            return CFrame::Plain(m_view.IsChecked(IDC_MASTER) ? CMD_SET_MASTER : CMD_SET_SLAVE);
          },
          TIMING_SET_ROLE)) {
    return;
  }
  m_view.StepProgress();

  if (!CheckBefore(3)) return;
  if (!Write(
          EStep::SetPeerAddr,
          [this] {
            std::vector<BYTE> address;
            for (int id : kPeerAddrIds) {
              address.push_back(ParseHexByte(m_view.GetControlText(id).c_str()));
            }
            return CFrame::Raw(CMD_SET_PEER_ADDR, std::move(address));
          },
          TIMING_SET_PEER_ADDR)) {
    return;
  }
  m_view.StepProgress();
  // The last acknowledgement is known to be the expected module's only once it answers again.
  if (m_expected && m_eCheck != EIdentityCheck::None && !CheckIdentity(EOperation::Program)) {
    return;
  }

  Finish(EOperation::Program);
}

bool CSetupOperations::CheckBefore(int index) {
  if (!m_expected || m_eCheck == EIdentityCheck::None) return true;
  if (index > 0 && m_eCheck != EIdentityCheck::EverySetting) return true;
  return CheckIdentity(EOperation::Program);
}

bool CSetupOperations::CheckIdentity(EOperation op) {
  m_outcome.m_eStep = EStep::CheckAddress;
  CModuleAddress found;
  const CCommandTiming& timing = op == EOperation::Identify ? kTimingLook : TIMING_GET_DEVICE_ADDR;
  if (!ExchangeQuery(CMD_GET_DEVICE_ADDR, RSP_DEVICE_ADDR, timing,
                     [&found](const BYTE* p) { found = CModuleAddress::FromWire(p); })) {
    // Only the command line looks like this; its own words say what the failure was.
    m_outcome.m_eResult = EResult::CommError;
    m_serial.Close();
    m_view.ResetProgress();
    UnlockButtons(op);
    return false;
  }
  if (op != EOperation::Identify && m_expected && found != *m_expected) {
    EndWithChange(op, found);
    return false;
  }
  m_outcome.m_address = found;
  m_nConfirmed = m_outcome.m_acked.size();
  return true;
}

void CSetupOperations::EndWithChange(EOperation op, const CModuleAddress& found) {
  m_outcome.m_eResult = EResult::ModuleChanged;
  m_outcome.m_otherAddress = found;
  if (op == EOperation::Program) {
    m_outcome.m_unconfirmed.assign(m_outcome.m_acked.begin() + m_nConfirmed,
                                   m_outcome.m_acked.end());
  }
  m_serial.Close();
  m_view.ResetProgress();
  UnlockButtons(op);
}

void CSetupOperations::Finish(EOperation op) {
  // A turn-off that goes unanswered is reported, but the settings are in: end normally.
  if (m_view.IsChecked(IDC_TURN_OFF)) {
    m_outcome.m_eStep = EStep::TurnOff;
    if (!ExchangeAck(CFrame::Plain(CMD_TURN_OFF), TIMING_TURN_OFF)) {
      m_outcome.m_eResult = EResult::CommError;
      m_view.ShowMessage(MSG_COMM_ERROR);
    }
  }
  if (m_outcome.m_eResult == EResult::Ok) m_outcome.m_eStep = EStep::Done;
  EndNormally(op);
}

void CSetupOperations::EndNormally(EOperation op) {
  m_serial.Close();
  // Only the dialog's own operations show the full bar; a look at who is there ends at once.
  if (op != EOperation::Identify) Pause(kBeforeEndMs);
  m_view.ResetProgress();
  UnlockButtons(op);
}

void CSetupOperations::EndWithFailure(EOperation op) {
  m_outcome.m_eResult = EResult::CommError;
  m_serial.Close();
  m_view.ResetProgress();
  // The buttons stay locked until the user has read the message.
  m_view.ShowMessage(MSG_COMM_ERROR);
  UnlockButtons(op);
}

void CSetupOperations::UnlockButtons(EOperation op) {
  m_view.EnableControl(op == EOperation::Program ? IDC_READ : IDC_PROGRAM);
  m_view.EnableControl(IDCANCEL);
}
