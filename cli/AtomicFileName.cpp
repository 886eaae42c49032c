#include <random>

#include "cli/AtomicFile.h"

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
