#include "engine/values/Settings.h"

#include <cctype>
#include <cstdio>

namespace {

bool IsPrintableAscii(const std::string& text) {
  for (char c : text) {
    if (c < 0x20 || c > 0x7E) return false;
  }
  return true;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

}  // namespace

CSettingChanges CSettingChanges::Of(const CModuleSettings& values) {
  CSettingChanges all;
  all.m_name = values.m_strName;
  all.m_pin = values.m_strPin;
  all.m_master = values.m_bMaster;
  all.m_peer = values.m_peer;
  return all;
}

CSettingChanges CSettingChanges::Over(CSettingChanges base) const {
  if (m_name) base.m_name = m_name;
  if (m_pin) base.m_pin = m_pin;
  if (m_master) base.m_master = m_master;
  if (m_peer) base.m_peer = m_peer;
  return base;
}

CModuleSettings CSettingChanges::Over(CModuleSettings current) const {
  if (m_name) current.m_strName = *m_name;
  if (m_pin) current.m_strPin = *m_pin;
  if (m_master) current.m_bMaster = *m_master;
  if (m_peer) current.m_peer = *m_peer;
  return current;
}

std::string CheckName(const std::string& name) {
  // A CR would end the frame early, and the module's name field takes 16 characters.
  if (name.size() > kNameMaxChars || !IsPrintableAscii(name)) {
    return "the name is at most 16 printable ASCII characters (0x20-0x7E)";
  }
  return std::string();
}

std::string CheckPin(const std::string& pin) {
  if (pin.empty() || pin.size() > kPinMaxChars || !IsPrintableAscii(pin)) {
    return "the PIN is 1 to 8 printable ASCII characters (0x20-0x7E)";
  }
  return std::string();
}

bool ParseRole(const std::string& text, bool* master) {
  const std::string role = Lower(text);
  if (role != "master" && role != "slave") return false;
  *master = role == "master";
  return true;
}

std::string CheckRole(const std::string& text) {
  bool master = false;
  return ParseRole(text, &master) ? std::string() : "the role is master or slave";
}

bool ParsePeer(const std::string& text, CAddress* address) {
  // Either twelve digits, or six pairs with the same separator between each.
  size_t stride = 2;
  char separator = 0;
  if (text.size() == 17 && (text[2] == ':' || text[2] == '-')) {
    stride = 3;
    separator = text[2];
  } else if (text.size() != 12) {
    return false;
  }
  CAddress bytes{};
  for (size_t k = 0; k < bytes.size(); ++k) {
    const size_t at = k * stride;
    const int high = HexValue(text[at]);
    const int low = HexValue(text[at + 1]);
    if (high < 0 || low < 0) return false;
    if (separator != 0 && k + 1 < bytes.size() && text[at + 2] != separator) return false;
    bytes[k] = static_cast<BYTE>(high * 16 + low);
  }
  *address = bytes;
  return true;
}

std::string CheckPeer(const std::string& text) {
  CAddress address;
  return ParsePeer(text, &address)
             ? std::string()
             : "the peer address is six hex bytes: 01:02:0A:0B:C0:FF, 01-02-0A-0B-C0-FF or "
               "01020A0BC0FF";
}

std::string FormatAddress(const CAddress& address) {
  char text[24];
  std::snprintf(text, sizeof text, "%02X:%02X:%02X:%02X:%02X:%02X", address[0], address[1],
                address[2], address[3], address[4], address[5]);
  return text;
}

namespace {

// text with every byte that escaped() picks written as \xHH.
template <typename Escaped>
std::string EscapeBytes(const std::string& text, Escaped escaped) {
  std::string out;
  for (char c : text) {
    const unsigned char b = static_cast<unsigned char>(c);
    if (escaped(b)) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", b);
      out += hex;
    } else {
      out.push_back(c);
    }
  }
  return out;
}

}  // namespace

std::string Printable(const std::string& text) {
  return EscapeBytes(text, [](unsigned char b) { return b < 0x20 || b > 0x7E || b == '\\'; });
}

std::string PrintableName(const std::string& text) {
  return EscapeBytes(text, [](unsigned char b) { return b < 0x20 || b == 0x7F; });
}

std::string OneLine(const std::string& text) {
  std::string out;
  bool lineBreak = false;
  for (char c : text) {
    if (c == '\r' || c == '\n') {
      lineBreak = true;
      continue;
    }
    if (lineBreak && c == ' ') continue;
    if (lineBreak && !out.empty() && out.back() != ' ') out.push_back(' ');
    lineBreak = false;
    out.push_back(c);
  }
  return out;
}

CSettingSet Differences(const CModuleSettings& wanted, const CModuleSettings& got) {
  CSettingSet differs;
  if (wanted.m_strName != got.m_strName) differs.Add(ESetting::Name);
  if (wanted.m_strPin != got.m_strPin) differs.Add(ESetting::Pin);
  if (wanted.m_bMaster != got.m_bMaster) differs.Add(ESetting::Role);
  if (wanted.m_peer != got.m_peer) differs.Add(ESetting::Peer);
  return differs;
}

std::string JoinSettings(CSettingSet settings) {
  const std::vector<std::string> names = settings.Names();
  if (names.empty()) return "nothing";
  std::string text;
  for (const std::string& name : names) {
    if (!text.empty()) text += ", ";
    text += name;
  }
  return text;
}
