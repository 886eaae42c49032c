#include "engine/values/Plan.h"

#include <algorithm>
#include <set>
#include <sstream>
#include <vector>

#include "engine/os/Platform.h"
#include "engine/values/Csv.h"

namespace {

constexpr const char kByteOrderMark[] = "\xEF\xBB\xBF";

bool CheckHeader(const std::vector<std::string>& cells, const std::string& at, std::string* error) {
  static const std::set<std::string> kKnown = {"name", "pin", "role", "peer"};
  if (cells.empty() || cells[0] != "address") {
    *error = at + "the header starts with address (address,name,pin,role,peer)";
    return false;
  }
  for (size_t k = 1; k < cells.size(); ++k) {
    const auto before = cells.begin() + static_cast<long>(k);
    if (kKnown.count(cells[k]) == 0 || std::find(cells.begin(), before, cells[k]) != before) {
      *error = at + "unknown or repeated column \"" + Printable(cells[k]) +
               "\" (the columns are address,name,pin,role,peer)";
      return false;
    }
  }
  return true;
}

// One cell into row; the rule it breaks, or empty.
std::string TakeCell(const std::string& column, const std::string& cell, CPlanRow* row) {
  if (column == "name") {
    row->m_name = cell;
    return CheckName(cell);
  }
  if (column == "pin") {
    row->m_pin = cell;
    return CheckPin(cell);
  }
  if (column == "role") {
    bool master = false;
    if (ParseRole(cell, &master)) row->m_master = master;
    return CheckRole(cell);
  }
  CAddress peer;
  if (ParsePeer(cell, &peer)) row->m_peer = peer;
  return CheckPeer(cell);
}

}  // namespace

bool ParsePlan(const std::string& text, CPlan* plan, std::string* error) {
  plan->clear();
  const bool marked = text.compare(0, 3, kByteOrderMark) == 0;
  std::stringstream lines(marked ? text.substr(3) : text);
  std::string line;
  std::vector<std::string> cells;
  std::vector<std::string> columns;
  // Which line gave each name, to say where a name repeats.
  std::map<std::string, int> nameLines;
  int number = 0;
  while (std::getline(lines, line)) {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::string at = "line " + std::to_string(number) + ": ";
    if (!SplitCsvLine(line, &cells)) {
      *error = at + "a quoted field is not closed";
      return false;
    }
    if (columns.empty()) {
      if (!CheckHeader(cells, at, error)) return false;
      columns = cells;
      continue;
    }
    if (line.empty()) continue;
    if (cells.size() != columns.size()) {
      *error = at + "has " + std::to_string(cells.size()) + " fields, the header " +
               std::to_string(columns.size());
      return false;
    }
    CAddress address;
    if (!ParsePeer(cells[0], &address)) {
      *error = at + "the address \"" + Printable(cells[0]) + "\" is not six hex bytes";
      return false;
    }
    CPlanRow row;
    for (size_t k = 1; k < cells.size(); ++k) {
      if (cells[k].empty()) continue;
      const std::string rule = TakeCell(columns[k], cells[k], &row);
      if (!rule.empty()) {
        *error = at + columns[k] + " \"" + Printable(cells[k]) + "\": " + rule;
        return false;
      }
    }
    if (!plan->emplace(CModuleAddress(address).Digits(), row).second) {
      *error = at + "the address " + FormatAddress(address) + " is planned twice";
      return false;
    }
    if (row.m_name) {
      const auto taken = nameLines.emplace(*row.m_name, number);
      if (!taken.second) {
        *error = at + "the name \"" + Printable(*row.m_name) + "\" is already planned on line " +
                 std::to_string(taken.first->second);
        return false;
      }
    }
  }
  if (columns.empty()) {
    *error = "the plan is empty (it starts with the header address,name,pin,role,peer)";
    return false;
  }
  return true;
}

bool LoadPlan(const std::string& path, const CInterrupt& interrupt, CPlan* plan,
              std::string* error) {
  std::string text;
  if (!ReadSmallFile(path, kPlanMaxBytes, interrupt, &text, error)) return false;
  return ParsePlan(text, plan, error);
}
