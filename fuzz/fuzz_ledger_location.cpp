// libFuzzer target: any bytes as a `--ledger` location. Telling a PostgreSQL URL from a file
// path and hiding a URL's password must hold for every text, and the hidden form must be
// told the same way as the location itself.
#include <cstddef>
#include <cstdint>
#include <string>

#include "FuzzCheck.h"
#include "ledger/Ledger.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string location(reinterpret_cast<const char*>(data), size);
  const bool postgres = IsPostgresLocation(location);
  const std::string shown = RedactLocation(location);
  Check(IsPostgresLocation(shown) == postgres, "the shown location names the same engine");
  return 0;
}
