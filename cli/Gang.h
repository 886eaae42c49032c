// Gang programming: every module on every port at once, one worker per module, each running
// the command line's operations on its own port, channel and view. Workers share nothing but
// the report; one module failing never stops or slows the others.
//
// Contract: RunGang checks the options, the value templates and the plan before any port is
// opened; the values each module gets are checked before any of them is programmed. It blocks
// until every worker has ended and every port is closed, prints the report and returns the
// exit code.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "cli/CliApp.h"
#include "cli/Settings.h"

namespace CLI {
class App;
class Option;
}  // namespace CLI

struct CGangOptions {
  std::string m_strPorts = "all";
  std::string m_strName, m_strPin, m_strRole, m_strPeer;
  CLI::Option* m_pName = nullptr;
  CLI::Option* m_pPin = nullptr;
  CLI::Option* m_pRole = nullptr;
  CLI::Option* m_pPeer = nullptr;
  int m_nStart = 1;
  std::string m_strPlan;
  std::string m_strReport;
  std::string m_strFormat = "text";
  bool m_bVerify = false;
  bool m_bTurnOff = false;
  bool m_bQuiet = false;
};

CLI::App* AddGangCommand(CLI::App& app, CGangOptions& options);
int RunGang(const CGangOptions& options, CCliEnv& env);

// A value with placeholders: {seq} (the module's number), {seq:0N} (zero-padded to N
// digits), {addr} (its own address as 12 hex digits) and {addr4} (their last four).
class CValueTemplate {
 public:
  // The first thing wrong with the template's form, or empty.
  static std::string Check(const std::string& text);
  explicit CValueTemplate(std::string text) : m_strText(std::move(text)) {}

  bool HasPlaceholder() const;
  bool NeedsAddress() const;
  // A well-formed template with seq and the address digits put in.
  std::string Expand(int seq, const std::string& addressDigits) const;

 private:
  std::string m_strText;
};

// One row of a plan file: what a module with this address gets; absent cells keep the value
// the command line or the module gives.
struct CPlanRow {
  std::optional<std::string> m_name;
  std::optional<std::string> m_pin;
  std::optional<bool> m_master;
  std::optional<CAddress> m_peer;
};
// Plan rows by address (12 upper-case hex digits).
using CPlan = std::map<std::string, CPlanRow>;

// Reads CSV text with the header "address,name,pin,role,peer" (the columns after address
// optional, in any order). False with the line and the rule broken in *error.
bool ParsePlan(const std::string& text, CPlan* plan, std::string* error);
