#include "engine/values/Profile.h"

#include "engine/os/Platform.h"
#include "engine/report/Output.h"

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
  if (ParseProfile(text, values, error)) return true;
  *error = path + ": " + *error;
  return false;
}
