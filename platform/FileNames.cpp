#include <algorithm>
#include <cctype>
#include <random>

#include "platform/FilePolicy.h"

void SplitPath(const std::string& path, std::string* folder, std::string* name) {
  const size_t slash = path.find_last_of("/\\");
  if (slash == std::string::npos) {
    *folder = ".";
    *name = path;
    return;
  }
  *folder = slash == 0 ? path.substr(0, 1) : path.substr(0, slash);
  *name = path.substr(slash + 1);
}

std::string RandomSuffix() {
  static const char kAlphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::random_device device;
  std::string suffix;
  for (int k = 0; k < 8; ++k) suffix.push_back(kAlphabet[device() % (sizeof kAlphabet - 1)]);
  return suffix;
}

bool IsReservedDeviceName(const std::string& name) {
  // Windows looks at the name before its first dot, with trailing spaces dropped.
  std::string stem = name.substr(0, name.find('.'));
  while (!stem.empty() && stem.back() == ' ') stem.pop_back();
  std::transform(stem.begin(), stem.end(), stem.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  if (stem == "CON" || stem == "PRN" || stem == "AUX" || stem == "NUL" || stem == "CONIN$" ||
      stem == "CONOUT$") {
    return true;
  }
  return stem.size() == 4 && (stem.compare(0, 3, "COM") == 0 || stem.compare(0, 3, "LPT") == 0) &&
         std::isdigit(static_cast<unsigned char>(stem[3])) != 0;
}

std::string ShownPath(const std::string& path) {
  std::string shown = path;
  for (char& c : shown) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  }
  return shown;
}

bool CFileRoles::Add(const std::string& role, const std::string& path, std::string* error) {
  const std::string identity = FileIdentity(path);
  if (identity.empty()) return true;
  for (const auto& held : m_identities) {
    if (held.second == identity) {
      *error = role + ": " + ShownPath(path) + " is the file of " + held.first +
               " as well; one file cannot serve both";
      return false;
    }
  }
  m_identities.emplace_back(role, identity);
  return true;
}
