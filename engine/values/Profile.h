// A profile: a module's settings saved as JSON by `read --save` and programmed again by
// `program --from`. The fields are those of `read --format json`; the address is kept for the
// record but never written (it is the module's own), and the port, result, pace and message a
// read shows are taken and ignored. Any other field, or one given twice, refuses the profile:
// a typing error there would otherwise leave a setting quietly unchanged.
#pragma once

#include <string>

#include "engine/os/Interrupt.h"
#include "engine/values/Settings.h"

// The largest profile read; a profile is a few hundred bytes.
constexpr size_t kProfileMaxBytes = 64u << 10;

// The profile of what a module holds, as one JSON object and a line end.
std::string ProfileText(const CModuleSettings& values);
// Parses the text of a profile: name, pin, role and peer, each checked by the rules of the
// options; null or absent fields are not given. Never nests deeper than the one object, so no
// input exhausts the stack. False with the field and its rule, or what is not a profile, in
// *error; *values is set only on success.
bool ParseProfile(const std::string& text, CSettingChanges* values, std::string* error);
// Reads the profile at path: name, pin, role and peer, each checked by the rules of the options;
// null or absent fields are not given. False with the file or the field and its rule in *error.
bool LoadProfile(const std::string& path, const CInterrupt& interrupt, CSettingChanges* values,
                 std::string* error);
