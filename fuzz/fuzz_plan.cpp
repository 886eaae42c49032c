// libFuzzer target: any bytes as a plan's CSV (`gang --plan`). The parser either gives rows
// keyed by twelve upper-case hex digits whose values keep the options' rules, no name planned
// twice, or refuses with one printable line.
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>

#include "FuzzCheck.h"
#include "engine/values/Plan.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  CPlan plan;
  std::string error;
  if (!ParsePlan(text, &plan, &error)) {
    Check(IsOnePrintableLine(error), "a refusal is one printable line");
    return 0;
  }
  std::set<std::string> names;
  for (const auto& row : plan) {
    Check(row.first.size() == 12 &&
              row.first.find_first_not_of("0123456789ABCDEF") == std::string::npos,
          "a row's key is twelve upper-case hex digits");
    const CPlanRow& values = row.second;
    Check(!values.m_name || CheckName(*values.m_name).empty(), "the name keeps its rule");
    Check(!values.m_pin || CheckPin(*values.m_pin).empty(), "the PIN keeps its rule");
    Check(!values.m_name || names.insert(*values.m_name).second, "no name planned twice");
  }
  return 0;
}
