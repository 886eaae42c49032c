#include "cli/Profile.h"

#include "cli/CliPlatform.h"
#include "cli/Output.h"

namespace {

// One text field of the profile into value; false with the rule it breaks.
bool TakeText(const CJson& profile, const char* field, std::string (*check)(const std::string&),
              std::optional<std::string>* value, std::string* error) {
  const auto found = profile.find(field);
  if (found == profile.end() || found->is_null()) return true;
  if (!found->is_string()) {
    *error = std::string("\"") + field + "\" is not a text";
    return false;
  }
  const std::string text = found->get<std::string>();
  const std::string rule = check(text);
  if (!rule.empty()) {
    *error = std::string("\"") + field + "\": " + rule;
    return false;
  }
  *value = text;
  return true;
}

}  // namespace

std::string ProfileText(const CModuleSettings& values) {
  CJson profile = SettingsJson("", values.m_address ? values.m_address->Text() : std::string(),
                               CSettingChanges::Of(values));
  profile.erase("port");
  return profile.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

bool LoadProfile(const std::string& path, const CInterrupt& interrupt, CSettingChanges* values,
                 std::string* error) {
  std::string text;
  if (!ReadSmallFile(path, kProfileMaxBytes, interrupt, &text, error)) return false;
  const CJson profile = CJson::parse(text, nullptr, false);
  if (profile.is_discarded() || !profile.is_object()) {
    *error = path + " is not a profile (one JSON object, as read --save writes it)";
    return false;
  }
  std::optional<std::string> role, peer;
  if (!TakeText(profile, "name", CheckName, &values->m_name, error) ||
      !TakeText(profile, "pin", CheckPin, &values->m_pin, error) ||
      !TakeText(profile, "role", CheckRole, &role, error) ||
      !TakeText(profile, "peer", CheckPeer, &peer, error)) {
    *error = path + ": " + *error;
    return false;
  }
  bool master = false;
  if (role && ParseRole(*role, &master)) values->m_master = master;
  CAddress address;
  if (peer && ParsePeer(*peer, &address)) values->m_peer = address;
  return true;
}
