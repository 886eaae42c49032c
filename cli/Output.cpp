#include "cli/Output.h"

#include <cstdio>

namespace {

std::string PeerAsShown(const CAddress& peer) {
  char text[24];
  std::snprintf(text, sizeof text, "%02X %02X %02X %02X %02X %02X", peer[0], peer[1], peer[2],
                peer[3], peer[4], peer[5]);
  return text;
}

}  // namespace

void PrintSettingsText(std::ostream& out, const std::string& port, const CModuleSettings& values) {
  out << "Port:           " << Printable(port) << "\n"
      << "Device Address: " << (values.m_strAddress.empty() ? "-" : Printable(values.m_strAddress))
      << "\n"
      << "Device Name:    " << Printable(values.m_strName) << "\n"
      << "Peer Address:   " << PeerAsShown(values.m_peer) << "\n"
      << "Pin Code:       " << Printable(values.m_strPin) << "\n"
      << "Role:           " << (values.m_bMaster ? "Master" : "Slave") << "\n";
}

CJson SettingsJson(const std::string& port, const CModuleSettings& values) {
  CJson json;
  json["port"] = port;
  json["address"] =
      values.m_strAddress.empty() ? CJson() : CJson(AddressWithColons(values.m_strAddress));
  json["name"] = values.m_strName;
  json["pin"] = values.m_strPin;
  json["role"] = values.m_bMaster ? "master" : "slave";
  json["peer"] = FormatAddress(values.m_peer);
  return json;
}

std::string DumpJson(const CJson& json) {
  return json.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::string CheckFormat(const std::string& text) {
  return text == "text" || text == "json" ? std::string() : "the format is text or json";
}

std::string JoinSettings(const std::vector<std::string>& names) {
  if (names.empty()) return "nothing";
  std::string text;
  for (const std::string& name : names) {
    if (!text.empty()) text += ", ";
    text += name;
  }
  return text;
}
