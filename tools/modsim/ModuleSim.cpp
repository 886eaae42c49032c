#include "tools/modsim/ModuleSim.h"

#include <cstdio>
#include <cstring>

namespace {

bool TakesNoPayload(char letter) {
  return std::strchr("OGLAHTMSF", letter) != nullptr;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

CModuleSim::CModuleSim(const CModuleState& state, const CFaults& faults, uint8_t trailer)
    : m_state(state), m_faults(faults), m_nTrailer(trailer) {}

const char* CModuleSim::CommandName(char letter) {
  switch (letter) {
    case 'O':
      return "CMD_OPEN";
    case 'G':
      return "CMD_GET_PEER_ADDR";
    case 'L':
      return "CMD_GET_DEVICE_ADDR";
    case 'A':
      return "CMD_GET_NAME";
    case 'H':
      return "CMD_GET_PIN";
    case 'T':
      return "CMD_GET_ROLE";
    case 'N':
      return "CMD_SET_NAME";
    case 'I':
      return "CMD_SET_PIN";
    case 'M':
      return "CMD_SET_MASTER";
    case 'S':
      return "CMD_SET_SLAVE";
    case 'E':
      return "CMD_SET_PEER_ADDR";
    case 'F':
      return "CMD_TURN_OFF";
    default:
      return "unknown";
  }
}

bool CModuleSim::TakeStateChanged() {
  bool changed = m_bChanged;
  m_bChanged = false;
  return changed;
}

void CModuleSim::Reset() {
  m_parse = EParse::Idle;
  m_cCommand = 0;
  m_payload.clear();
}

bool CModuleSim::OnByte(uint8_t b, CAnswer& answer, long long nowMs) {
  answer = CAnswer();
  m_nNowMs = nowMs;
  switch (m_parse) {
    case EParse::Idle:
    case EParse::ProbeSpace:
      if (b == FRAME_START) {
        m_parse = EParse::Start;
      } else if (b == PROBE_1) {
        m_parse = EParse::ProbeSpace;
      } else if (b == PROBE_2 && m_parse == EParse::ProbeSpace) {
        Reset();
        OnProbe(answer);
        return true;
      } else {
        // Line noise between commands is ignored, as a module waiting for a frame would.
        m_parse = EParse::Idle;
      }
      return false;
    case EParse::Start:
      if (b < 'A' || b > 'Z') {
        OnMalformed("no command letter after FRAME_START", answer);
        return true;
      }
      m_cCommand = static_cast<char>(b);
      m_parse = EParse::Command;
      return false;
    case EParse::Command:
      if (b != FRAME_MARK) {
        OnMalformed("FRAME_MARK missing", answer);
        return true;
      }
      m_parse = EParse::Payload;
      return false;
    case EParse::Payload:
      // The peer address is six raw bytes, so a 0x0D among them is data, not the frame's end.
      if (m_cCommand == 'E') {
        m_payload.push_back(b);
        if (m_payload.size() == 6) m_parse = EParse::PeerEnd;
        return false;
      }
      if (b == FRAME_END) {
        OnFrame(answer);
        return true;
      }
      m_payload.push_back(b);
      if (m_payload.size() > MAX_TEXT) {
        OnMalformed("payload too long", answer);
        return true;
      }
      return false;
    case EParse::PeerEnd:
      if (b != FRAME_END) {
        OnMalformed("peer address not six bytes", answer);
        return true;
      }
      OnFrame(answer);
      return true;
  }
  return false;
}

void CModuleSim::OnMalformed(const char* why, CAnswer& answer) {
  char note[96];
  std::snprintf(note, sizeof note, "malformed frame (%s), ignored", why);
  answer.m_strNote = note;
  ++m_state.m_nMalformed;
  m_bChanged = true;
  Reset();
}

bool CModuleSim::FaultHits(char letter) {
  if (m_faults.m_strOnly.empty() ? letter == '0'
                                 : m_faults.m_strOnly.find(letter) == std::string::npos) {
    return false;
  }
  if (m_faults.m_nTimes >= 0 && m_nFaultHits >= m_faults.m_nTimes) return false;
  ++m_nFaultHits;
  return true;
}

void CModuleSim::OnProbe(CAnswer& answer) {
  ++m_state.m_nProbes;
  m_bChanged = true;
  if (m_faults.m_bSilent || m_bStopped) {
    answer.m_strNote = "probe, not answered";
    return;
  }
  answer.m_strNote = "probe";
  Acknowledge('0', answer);
}

void CModuleSim::Acknowledge(char letter, CAnswer& answer) {
  bool relevant =
      m_faults.m_nWrongAck >= 0 || m_faults.m_nExtraAfterAck >= 0 || m_faults.m_nDelayMs > 0;
  bool hit = relevant && FaultHits(letter);
  answer.m_bytes.push_back(
      hit && m_faults.m_nWrongAck >= 0 ? static_cast<uint8_t>(m_faults.m_nWrongAck) : ACK);
  if (hit && m_faults.m_nExtraAfterAck >= 0) {
    answer.m_bytes.push_back(static_cast<uint8_t>(m_faults.m_nExtraAfterAck));
  }
  if (hit) {
    answer.m_nDelayMs = m_faults.m_nDelayMs;
    answer.m_strNote += " [fault]";
  }
}

void CModuleSim::ReplyLine(char letter, uint8_t tag, const std::vector<uint8_t>& payload,
                           CAnswer& answer) {
  bool address = letter == 'G' || letter == 'L';
  bool relevant = m_faults.m_nWrongTag >= 0 || m_faults.m_nCutAfter >= 0 ||
                  m_faults.m_nOverlong > 0 || (m_faults.m_bCrInAddress && address) ||
                  m_faults.m_nDelayMs > 0;
  bool hit = relevant && FaultHits(letter);
  std::vector<uint8_t> body = payload;
  if (hit && m_faults.m_bCrInAddress && address) body[2] = FRAME_END;
  if (hit) {
    for (int i = 0; i < m_faults.m_nOverlong; ++i)
      body.push_back(static_cast<uint8_t>('0' + i % 10));
  }
  bool cut = hit && m_faults.m_nCutAfter >= 0;
  if (cut && static_cast<size_t>(m_faults.m_nCutAfter) < body.size()) {
    body.resize(static_cast<size_t>(m_faults.m_nCutAfter));
  }

  answer.m_bytes.push_back(
      hit && m_faults.m_nWrongTag >= 0 ? static_cast<uint8_t>(m_faults.m_nWrongTag) : tag);
  answer.m_bytes.insert(answer.m_bytes.end(), body.begin(), body.end());
  // A line cut short never gets its CR or the byte after it: the host's read times out.
  if (!cut) {
    answer.m_bytes.push_back(FRAME_END);
    answer.m_bytes.push_back(m_nTrailer);
  }
  if (hit) {
    answer.m_nDelayMs = m_faults.m_nDelayMs;
    answer.m_strNote += " [fault]";
  }
}

void CModuleSim::OnFrame(CAnswer& answer) {
  char letter = m_cCommand;
  std::vector<uint8_t> payload;
  payload.swap(m_payload);
  Reset();

  if (TakesNoPayload(letter) && !payload.empty()) {
    OnMalformed("payload on a command that takes none", answer);
    return;
  }
  if (m_faults.m_nSettleMs > 0 && m_nNowMs < m_nSettledAtMs) {
    char busy[96];
    std::snprintf(busy, sizeof busy, "ignored %c %s (settling)", letter, CommandName(letter));
    answer.m_strNote = busy;
    ++m_state.m_nIgnored;
    m_bChanged = true;
    return;
  }
  ++m_state.m_nCommands;
  m_state.m_cLastCommand = letter;
  if (letter == 'O') ++m_state.m_nOpens;
  m_bChanged = true;

  char note[96];
  std::snprintf(note, sizeof note, "command %d %c %s", m_state.m_nCommands, letter,
                CommandName(letter));
  answer.m_strNote = note;

  if (m_faults.m_nStopAfter >= 0 && m_state.m_nCommands > m_faults.m_nStopAfter) {
    m_bStopped = true;
  }
  if (m_faults.m_bSilent || m_bStopped || (m_faults.m_bNoOpen && letter == 'O')) {
    answer.m_strNote += ", not answered";
    return;
  }

  if (!Answer(letter, payload, answer)) {
    answer.m_strNote += ", not answered";
    return;
  }
  ScheduleFaults(answer);
}

bool CModuleSim::Answer(char letter, const std::vector<uint8_t>& payload, CAnswer& answer) {
  switch (letter) {
    case 'O':
    case 'F':
    case 'M':
    case 'S':
    case 'N':
    case 'I':
    case 'E':
      if (m_faults.m_strNoStore.find(letter) != std::string::npos) {
        answer.m_strNote += " [fault] not stored";
        Acknowledge(letter, answer);
        break;
      }
      if (letter == 'F') m_state.m_bRadioOn = false;
      if (letter == 'M' || letter == 'S') m_state.m_bMaster = letter == 'M';
      if (letter == 'N') m_state.m_strName.assign(payload.begin(), payload.end());
      if (letter == 'I') m_state.m_strPin.assign(payload.begin(), payload.end());
      if (letter == 'E') std::memcpy(m_state.m_abPeer, payload.data(), 6);
      Acknowledge(letter, answer);
      // A setting goes to the module's memory after its acknowledgement.
      if (letter != 'O' && letter != 'F') {
        m_nSettledAtMs = m_nNowMs + answer.m_nDelayMs + m_faults.m_nSettleMs;
      }
      break;
    case 'G':
      ReplyLine(letter, RSP_PEER_ADDR, {m_state.m_abPeer, m_state.m_abPeer + 6}, answer);
      break;
    case 'L':
      ReplyLine(letter, RSP_DEVICE_ADDR, {m_state.m_abAddress, m_state.m_abAddress + 6}, answer);
      break;
    case 'A':
      ReplyLine(letter, RSP_NAME, {m_state.m_strName.begin(), m_state.m_strName.end()}, answer);
      break;
    case 'H':
      ReplyLine(letter, RSP_PIN, {m_state.m_strPin.begin(), m_state.m_strPin.end()}, answer);
      break;
    case 'T':
      ReplyLine(letter, RSP_ROLE, {static_cast<uint8_t>(m_state.m_bMaster ? 'M' : 'S')}, answer);
      break;
    default:
      return false;
  }
  return true;
}

// The hang-up, removal and swap the faults ask for after this command's answer.
void CModuleSim::ScheduleFaults(CAnswer& answer) {
  if (m_faults.m_nVanishAfter >= 0 && m_state.m_nCommands >= m_faults.m_nVanishAfter) {
    answer.m_bHangUp = true;
  }
  if (m_faults.m_nRemoveAfter >= 0 && m_state.m_nCommands >= m_faults.m_nRemoveAfter) {
    answer.m_bRemove = true;
  }
  if (m_faults.m_nSwapAfter >= 0 && m_state.m_nCommands == m_faults.m_nSwapAfter) {
    answer.m_bRemove = true;
    answer.m_bSwap = true;
  }
}

bool ParseAddress(const std::string& text, uint8_t out[6]) {
  std::string digits;
  for (char c : text) {
    if (c == ':') continue;
    if (HexDigit(c) < 0) return false;
    digits += c;
  }
  if (digits.size() != 12) return false;
  for (int i = 0; i < 6; ++i) {
    out[i] = static_cast<uint8_t>(HexDigit(digits[2 * i]) * 16 + HexDigit(digits[2 * i + 1]));
  }
  return true;
}

std::string FormatAddress(const uint8_t address[6]) {
  char text[18];
  std::snprintf(text, sizeof text, "%02X:%02X:%02X:%02X:%02X:%02X", address[0], address[1],
                address[2], address[3], address[4], address[5]);
  return text;
}

std::string EscapeText(const std::string& text) {
  std::string out;
  for (char c : text) {
    unsigned char u = static_cast<unsigned char>(c);
    if (u < 0x20 || u >= 0x7F || c == '\\') {
      char hex[5];
      std::snprintf(hex, sizeof hex, "\\x%02X", u);
      out += hex;
    } else {
      out += c;
    }
  }
  return out;
}

std::string FormatState(const CModuleState& state) {
  std::string out;
  out += "address=" + FormatAddress(state.m_abAddress) + "\n";
  out += "name=" + EscapeText(state.m_strName) + "\n";
  out += "pin=" + EscapeText(state.m_strPin) + "\n";
  out += std::string("role=") + (state.m_bMaster ? "master" : "slave") + "\n";
  out += "peer=" + FormatAddress(state.m_abPeer) + "\n";
  out += std::string("radio=") + (state.m_bRadioOn ? "on" : "off") + "\n";
  out += "probes=" + std::to_string(state.m_nProbes) + "\n";
  out += "commands=" + std::to_string(state.m_nCommands) + "\n";
  out += "opens=" + std::to_string(state.m_nOpens) + "\n";
  out += "malformed=" + std::to_string(state.m_nMalformed) + "\n";
  out += "ignored=" + std::to_string(state.m_nIgnored) + "\n";
  out += "last=" + (state.m_cLastCommand ? std::string(1, state.m_cLastCommand) : std::string()) +
         "\n";
  return out;
}
