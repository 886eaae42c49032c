#include "engine/report/Output.h"

#include <cstdio>

namespace {

std::string PeerAsShown(const CAddress& peer) {
  char text[24];
  std::snprintf(text, sizeof text, "%02X %02X %02X %02X %02X %02X", peer[0], peer[1], peer[2],
                peer[3], peer[4], peer[5]);
  return text;
}

}  // namespace

void PrintSettingsText(std::ostream& out, const std::string& port, const std::string& address,
                       const CSettingChanges& values) {
  auto shown = [](const auto& value, auto text) { return value ? text(*value) : std::string("-"); };
  out << "Port:           " << Printable(port) << "\n"
      << "Device Address: " << (address.empty() ? "-" : Printable(address)) << "\n"
      << "Device Name:    " << shown(values.m_name, Printable) << "\n"
      << "Peer Address:   " << shown(values.m_peer, PeerAsShown) << "\n"
      << "Pin Code:       " << shown(values.m_pin, Printable) << "\n"
      << "Role:           "
      << shown(values.m_master, [](bool master) { return master ? "Master" : "Slave"; }) << "\n";
}

CJson SettingsJson(const std::string& port, const std::string& address,
                   const CSettingChanges& values) {
  CJson json;
  json["port"] = port;
  json["address"] = address.empty() ? CJson() : CJson(address);
  json["name"] = values.m_name ? CJson(*values.m_name) : CJson();
  json["pin"] = values.m_pin ? CJson(*values.m_pin) : CJson();
  json["role"] = values.m_master ? CJson(*values.m_master ? "master" : "slave") : CJson();
  json["peer"] = values.m_peer ? CJson(FormatAddress(*values.m_peer)) : CJson();
  return json;
}

CJson ReportJson(const std::string& port, const CModuleReport& report, bool program, bool verify) {
  CJson json = SettingsJson(port, KnownAddress(report), KnownSettings(report));
  if (program) {
    json["written"] = ConfirmedSettings(report).Names();
    if (!report.m_unconfirmed.Empty()) json["unconfirmed"] = report.m_unconfirmed.Names();
    if (verify && report.m_verified) json["verified"] = *report.m_verified;
  }
  if (report.m_ledgerNumber) json["number"] = *report.m_ledgerNumber;
  json["result"] = OutcomeText(report.m_outcome);
  json["pace"] = PaceText(report.m_pace);
  json["fell_back"] = report.m_bFellBack;
  if (!report.m_differs.Empty()) json["differs"] = report.m_differs.Names();
  if (report.m_otherAddress) json["other_address"] = report.m_otherAddress->Text();
  if (report.m_outcome != EOutcome::Ok && !report.m_strMessage.empty()) {
    json["message"] = report.m_strMessage;
  }
  return json;
}

CJson ChangesJson(const CModuleSettings& old, const CModuleSettings& now) {
  const CJson before = SettingsJson("", "", CSettingChanges::Of(old));
  const CJson after = SettingsJson("", "", CSettingChanges::Of(now));
  CJson changes = CJson::object();
  for (const char* field : {"name", "pin", "role", "peer"}) {
    changes[field] = {{"old", before[field]}, {"new", after[field]}};
  }
  return changes;
}

void PrintChanges(std::ostream& out, const CModuleSettings& old, const CModuleSettings& now,
                  const std::string& indent) {
  const CJson changes = ChangesJson(old, now);
  for (const auto& field : changes.items()) {
    const std::string from = Printable(field.value()["old"].get<std::string>());
    const std::string to = Printable(field.value()["new"].get<std::string>());
    out << indent << field.key() << ": " << from << (from == to ? " (unchanged)" : " -> " + to)
        << "\n";
  }
}

std::string DumpJson(const CJson& json) {
  return json.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::string CheckFormat(const std::string& text) {
  return text == "text" || text == "json" ? std::string() : "the format is text or json";
}
