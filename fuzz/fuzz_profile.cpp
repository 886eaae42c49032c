// libFuzzer target: any bytes as the text of a profile (`program --from`). The parser either
// gives settings that keep the options' rules or refuses with one printable line; no input
// nests deep enough to exhaust the stack.
#include <cstddef>
#include <cstdint>
#include <string>

#include "FuzzCheck.h"
#include "engine/values/Profile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  CSettingChanges values;
  std::string error;
  if (!ParseProfile(text, &values, &error)) {
    Check(IsOnePrintableLine(error), "a refusal is one printable line");
    Check(!values.m_name && !values.m_pin && !values.m_master && !values.m_peer,
          "a refused profile gives no value");
    return 0;
  }
  Check(!values.m_name || CheckName(*values.m_name).empty(), "the name keeps its rule");
  Check(!values.m_pin || CheckPin(*values.m_pin).empty(), "the PIN keeps its rule");
  return 0;
}
