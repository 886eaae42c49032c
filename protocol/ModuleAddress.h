// A module's own Bluetooth address: the six bytes of its device-address reply, in the order
// they travel. Made once from the wire and carried unchanged to every output, so two texts of
// one address can never disagree.
#pragma once

#include <array>
#include <cctype>
#include <cstdio>
#include <optional>
#include <string>

#include "protocol/CommandSet.h"

class CModuleAddress {
 public:
  using Bytes = std::array<BYTE, ADDRESS_BYTES>;

  CModuleAddress() = default;
  explicit CModuleAddress(const Bytes& bytes) : m_bytes(bytes) {}
  // The first ADDRESS_BYTES bytes of a reply's payload.
  static CModuleAddress FromWire(const BYTE* payload) {
    Bytes bytes{};
    for (int k = 0; k < ADDRESS_BYTES; ++k) bytes[k] = payload[k];
    return CModuleAddress(bytes);
  }
  // Twelve hex digits in either case, in pairs optionally parted by ':', '-' or the dialog's
  // " : "; nothing else.
  static std::optional<CModuleAddress> Parse(const std::string& text) {
    std::string digits;
    for (char c : text) {
      if (c == ':' || c == '-' || c == ' ') continue;
      if (!std::isxdigit(static_cast<unsigned char>(c))) return std::nullopt;
      digits.push_back(c);
    }
    if (digits.size() != 2 * ADDRESS_BYTES) return std::nullopt;
    Bytes bytes{};
    for (int k = 0; k < ADDRESS_BYTES; ++k) {
      bytes[k] = static_cast<BYTE>(std::stoi(digits.substr(2 * k, 2), nullptr, 16));
    }
    return CModuleAddress(bytes);
  }

  const Bytes& Raw() const { return m_bytes; }
  // "00:1A:7D:DA:71:13": the form of every output and of the ledger's key.
  std::string Text() const { return Join(":"); }
  // "001A7DDA7113": for templates ({addr}) and plans.
  std::string Digits() const { return Join(""); }
  // "00 : 1A : 7D : DA : 71 : 13": as the dialog shows it.
  std::string DialogText() const { return Join(" : "); }

  bool operator==(const CModuleAddress& other) const { return m_bytes == other.m_bytes; }
  bool operator!=(const CModuleAddress& other) const { return m_bytes != other.m_bytes; }
  bool operator<(const CModuleAddress& other) const { return m_bytes < other.m_bytes; }

 private:
  std::string Join(const char* between) const {
    std::string text;
    for (int k = 0; k < ADDRESS_BYTES; ++k) {
      char pair[4];
      std::snprintf(pair, sizeof pair, "%02X", m_bytes[k]);
      if (k > 0) text += between;
      text += pair;
    }
    return text;
  }

  Bytes m_bytes{};
};
