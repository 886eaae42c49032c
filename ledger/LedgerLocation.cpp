// What kind of place a ledger location names, by its text alone: nothing is opened here.
#include <cctype>

#include "ledger/Ledger.h"

namespace {

bool StartsWithNoCase(const std::string& text, const char* prefix) {
  size_t i = 0;
  for (; prefix[i]; ++i) {
    if (i >= text.size() ||
        std::tolower(static_cast<unsigned char>(text[i])) != static_cast<unsigned char>(prefix[i]))
      return false;
  }
  return true;
}

}  // namespace

bool IsSqliteSpecialName(const std::string& location) {
  return StartsWithNoCase(location, "file:") || location == ":memory:";
}

bool IsPostgresLocation(const std::string& location) {
  return StartsWithNoCase(location, "postgresql://") || StartsWithNoCase(location, "postgres://");
}
