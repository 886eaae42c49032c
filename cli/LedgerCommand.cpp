#include "cli/LedgerCommand.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

#include "engine/report/LedgerExport.h"
#include "engine/report/Output.h"
#include "engine/values/Settings.h"
#include "ledger/Ledger.h"

namespace {

// Columns aligned over rows that need not all be in memory: every row is first shown to
// Widen, then printed with PrintRow; every cell made printable.
void Widen(std::vector<size_t>* widths, const std::vector<std::string>& row) {
  widths->resize(std::max(widths->size(), row.size()));
  for (size_t k = 0; k < row.size(); ++k)
    (*widths)[k] = std::max((*widths)[k], Printable(row[k]).size());
}

void PrintRow(std::ostream& out, const std::vector<size_t>& widths,
              const std::vector<std::string>& row) {
  std::string line;
  for (size_t k = 0; k < row.size(); ++k) {
    const std::string cell = Printable(row[k]);
    line += cell;
    if (k + 1 < row.size() && k < widths.size() && widths[k] > cell.size())
      line.append(widths[k] - cell.size(), ' ');
    if (k + 1 < row.size()) line.append(2, ' ');
  }
  line.erase(line.find_last_not_of(' ') + 1);
  out << line << "\n";
}

// Rows under their column names, aligned.
void PrintColumns(std::ostream& out, const std::vector<std::vector<std::string>>& rows) {
  std::vector<size_t> widths;
  for (const auto& row : rows) Widen(&widths, row);
  for (const auto& row : rows) PrintRow(out, widths, row);
}

std::string Shown(const std::optional<std::string>& value) {
  return value ? Printable(*value) : "-";
}

std::unique_ptr<CLedger> Open(const CLedgerOptions& options, CRunEnv& env) {
  // Opened to read: a mistyped path gets no empty ledger, and a ledger this user may only
  // read can be looked at.
  CLedgerError error;
  std::unique_ptr<CLedger> ledger =
      OpenLedger(options.m_strLocation, options.Station(), &error, ELedgerAccess::Read);
  if (!ledger) env.m_err << "corvane: " << error.m_strText << "\n";
  return ledger;
}

int Failed(CRunEnv& env, const CLedgerError& error) {
  env.m_err << "corvane: " << error.m_strText << "\n";
  return kExitLedger;
}

void PrintModule(std::ostream& out, const CLedgerModule& module) {
  const CLedgerValues& v = module.m_values;
  out << "Number:         " << module.m_nNumber << "\n"
      << "Address:        " << module.m_strAddress << "\n"
      << "Device Name:    " << Shown(v.m_name) << "\n"
      << "Pin Code:       " << Shown(v.m_pin) << "\n"
      << "Role:           " << Shown(v.m_role) << "\n"
      << "Peer Address:   " << Shown(v.m_peer) << "\n"
      << "Bound:          " << module.m_strBoundAt << " by " << Printable(module.m_strBoundBy)
      << "\n"
      << "Attempts:       " << module.m_attempts.size() << "\n";
  std::vector<std::vector<std::string>> rows = {
      {"  time", "station", "port", "result", "seconds", "message"}};
  for (const CLedgerAttempt& a : module.m_attempts) {
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.2f", a.m_nDurationMs / 1000.0);
    rows.push_back({"  " + a.m_strTime, a.m_strStation, a.m_strPort, a.m_strResult, seconds,
                    OneLine(a.m_strMessage)});
  }
  if (!module.m_attempts.empty()) PrintColumns(out, rows);
}

CJson ModuleJson(const CLedgerModule& module) {
  const CLedgerValues& v = module.m_values;
  auto value = [](const std::optional<std::string>& text) {
    return text ? CJson(*text) : CJson(nullptr);
  };
  CJson attempts = CJson::array();
  for (const CLedgerAttempt& attempt : module.m_attempts)
    attempts.push_back(LedgerAttemptJson(attempt));
  return {{"number", module.m_nNumber},
          {"address", module.m_strAddress},
          {"name", value(v.m_name)},
          {"pin", value(v.m_pin)},
          {"role", value(v.m_role)},
          {"peer", value(v.m_peer)},
          {"bound_at", module.m_strBoundAt},
          {"bound_by", module.m_strBoundBy},
          {"attempts", attempts}};
}

std::vector<std::string> LatestRow(const CLedgerAttempt& a, long long attempts) {
  const std::string name = a.m_written.m_name.value_or(a.m_before.m_name.value_or(""));
  return {a.m_number ? std::to_string(*a.m_number) : "-",
          a.m_strAddress,
          name,
          std::to_string(attempts),
          a.m_strResult,
          a.m_strTime,
          a.m_strStation};
}

// Every module that has attempts, by its last one, streamed as the ledger reads them.
int ShowAllJson(CRunEnv& env, CLedger& ledger, const CLedgerStats& stats) {
  CLedgerError error;
  const char* separator = "";
  env.m_out << "{\"modules\":[";
  if (!ledger.Latest(
          [&](const CLedgerAttempt& last, long long attempts) {
            CJson row = LedgerAttemptJson(last);
            row["attempts"] = attempts;
            env.m_out << separator << DumpJson(row);
            separator = ",";
          },
          &error)) {
    env.m_out << "\n";
    return Failed(env, error);
  }
  env.m_out << "],\"never_tried\":" << stats.m_nNeverTried << "}\n";
  return kExitOk;
}

// Every module that has attempts, by its last one; then what Stats knows of the rest. Two
// passes over the rows, neither keeping them: the first finds the columns' widths.
int ShowAll(const CLedgerCommandOptions& options, CRunEnv& env, CLedger& ledger) {
  CLedgerStats stats;
  CLedgerError error;
  if (!ledger.Stats(&stats, &error)) return Failed(env, error);
  if (options.m_strShowFormat == "json") return ShowAllJson(env, ledger, stats);
  const std::vector<std::string> header = {"number",      "address", "name",   "attempts",
                                           "last result", "time",    "station"};
  std::vector<size_t> widths;
  Widen(&widths, header);
  if (!ledger.Latest([&](const CLedgerAttempt& a, long long n) { Widen(&widths, LatestRow(a, n)); },
                     &error))
    return Failed(env, error);
  PrintRow(env.m_out, widths, header);
  if (!ledger.Latest([&](const CLedgerAttempt& a,
                         long long n) { PrintRow(env.m_out, widths, LatestRow(a, n)); },
                     &error))
    return Failed(env, error);
  env.m_out << stats.m_nModules << " modules bound, " << stats.m_nNeverTried
            << " of them never tried; the next number is " << stats.m_nNextNumber << "\n";
  return kExitOk;
}

int Show(const CLedgerCommandOptions& options, CRunEnv& env, CLedger& ledger) {
  if (options.m_strKey.empty()) return ShowAll(options, env, ledger);
  CLedgerModule module;
  bool found = false;
  CLedgerError error;
  CAddress address;
  if (ParsePeer(options.m_strKey, &address) &&
      !ledger.FindByAddress(FormatAddress(address), &found, &module, &error)) {
    return Failed(env, error);
  }
  if (!found && !ledger.FindByName(options.m_strKey, &found, &module, &error)) {
    return Failed(env, error);
  }
  if (!found) {
    env.m_err << "corvane: the ledger holds no module with the address or name \""
              << Printable(options.m_strKey) << "\"\n";
    return kExitNoModule;
  }
  if (options.m_strShowFormat == "json") {
    env.m_out << DumpJson(ModuleJson(module)) << "\n";
  } else {
    PrintModule(env.m_out, module);
  }
  return kExitOk;
}

int Export(const CLedgerCommandOptions& options, CRunEnv& env, CLedger& ledger) {
  CLedgerFilter filter;
  filter.m_strSince = options.m_strSince;
  filter.m_strStation = options.m_strStation;
  const bool csv = options.m_strExportFormat == "csv";
  if (csv) env.m_out << LedgerExportCsvHeader();
  CLedgerError error;
  const bool ok = ledger.Export(
      filter,
      [&](const CLedgerAttempt& attempt) {
        env.m_out << (csv ? LedgerExportCsvLine(attempt) : LedgerExportJsonLine(attempt));
      },
      &error);
  return ok ? kExitOk : Failed(env, error);
}

int Stats(const CLedgerCommandOptions& options, CRunEnv& env, CLedger& ledger) {
  CLedgerStats stats;
  CLedgerError error;
  if (!ledger.Stats(&stats, &error)) return Failed(env, error);
  auto perHour = [](const CLedgerStationStats& s) {
    return s.m_modulesPerHour ? CJson(*s.m_modulesPerHour) : CJson(nullptr);
  };
  if (options.m_strStatsFormat == "json") {
    CJson stations = CJson::array();
    for (const CLedgerStationStats& s : stats.m_stations) {
      stations.push_back({{"station", s.m_strStation},
                          {"attempts", s.m_nAttempts},
                          {"attempts_ok", s.m_nAttemptsOk},
                          {"modules_ok", s.m_nModulesOk},
                          {"modules_failed", s.m_nModulesFailed},
                          {"first", s.m_strFirst},
                          {"last", s.m_strLast},
                          {"modules_per_hour", perHour(s)}});
    }
    env.m_out << DumpJson({{"modules", stats.m_nModules},
                           {"last_ok", stats.m_nLastOk},
                           {"last_failed", stats.m_nLastFailed},
                           {"never_tried", stats.m_nNeverTried},
                           {"next_number", stats.m_nNextNumber},
                           {"stations", stations}})
              << "\n";
    return kExitOk;
  }
  env.m_out << "Modules:        " << stats.m_nModules << " (last attempt ok " << stats.m_nLastOk
            << ", failed " << stats.m_nLastFailed << ", never tried " << stats.m_nNeverTried
            << ")\n"
            << "Next number:    " << stats.m_nNextNumber << "\n";
  std::vector<std::vector<std::string>> rows = {
      {"station", "attempts", "ok", "modules ok", "modules failed", "per hour", "first", "last"}};
  for (const CLedgerStationStats& s : stats.m_stations) {
    char rate[32] = "-";
    if (s.m_modulesPerHour) std::snprintf(rate, sizeof rate, "%.1f", *s.m_modulesPerHour);
    rows.push_back({s.m_strStation, std::to_string(s.m_nAttempts), std::to_string(s.m_nAttemptsOk),
                    std::to_string(s.m_nModulesOk), std::to_string(s.m_nModulesFailed), rate,
                    s.m_strFirst, s.m_strLast});
  }
  if (!stats.m_stations.empty()) PrintColumns(env.m_out, rows);
  return kExitOk;
}

// A time for --since: the ledger's UTC form, or a prefix of it down to the day, naming a real
// time.
std::string CheckSince(const std::string& text) {
  long long ms = 0;
  if (LedgerTimeMs(text, &ms)) return std::string();
  return "not a UTC time: \"" + Printable(text) +
         "\" (such as 2025-05-20, 2025-05-20T10:00 or 2025-05-20T10:00:00Z)";
}

// The one subcommand that may write: a database's owner sets up the tables once, and the
// stations' role needs no right to create them.
int Init(const CLedgerOptions& options, CRunEnv& env) {
  CLedgerError error;
  const std::unique_ptr<CLedger> ledger =
      OpenLedger(options.m_strLocation, options.Station(), &error);
  long long next = 0;
  if (!ledger || !ledger->NextNumber(&next, &error)) return Failed(env, error);
  env.m_out << "ledger " << Printable(ledger->Location()) << ": ready; the next number is " << next
            << "\n";
  return kExitOk;
}

}  // namespace

CLI::App* AddLedgerCommand(CLI::App& app, CLedgerCommandOptions& options) {
  CLI::App* ledger = app.add_subcommand("ledger", "What the ledger holds: show, export, stats");
  ledger->require_subcommand(1);
  options.m_pShow = ledger->add_subcommand("show",
                                           "A module's number, values and attempts; "
                                           "without one, every module tried");
  options.m_pShow->add_option("module", options.m_strKey, "The module's address or name");
  options.m_show.AddLocation(options.m_pShow);
  AddFormatOption(options.m_pShow, options.m_strShowFormat);

  options.m_pExport = ledger->add_subcommand("export", "Every attempt, oldest first, to stdout");
  options.m_export.AddLocation(options.m_pExport);
  options.m_pExport->add_option("--format", options.m_strExportFormat, "csv or jsonl")
      ->required()
      ->check(CLI::IsMember({"csv", "jsonl"}));
  options.m_pExport->add_option("--since", options.m_strSince, "Attempts at or after TIME (UTC)")
      ->check(CLI::Validator([](std::string& v) { return CheckSince(v); }, "TIME"));
  options.m_pExport->add_option("--station", options.m_strStation, "Attempts at this station");

  options.m_pStats =
      ledger->add_subcommand("stats", "Modules ok and failed, by station, and modules per hour");
  options.m_stats.AddLocation(options.m_pStats);
  AddFormatOption(options.m_pStats, options.m_strStatsFormat);

  options.m_pInit = ledger->add_subcommand(
      "init", "Make the ledger (a new file, or the tables of an empty database)");
  options.m_init.AddLocation(options.m_pInit);
  return ledger;
}

int RunLedger(const CLedgerCommandOptions& options, CRunEnv& env) {
  const CLedgerOptions& chosen = options.m_pShow->parsed()     ? options.m_show
                                 : options.m_pExport->parsed() ? options.m_export
                                 : options.m_pInit->parsed()   ? options.m_init
                                                               : options.m_stats;
  if (!chosen.Given()) {
    env.m_err << "corvane: --ledger LOCATION (or CORVANE_LEDGER) is required\n";
    return kExitUsage;
  }
  if (options.m_pInit->parsed()) return Init(chosen, env);
  const std::unique_ptr<CLedger> ledger = Open(chosen, env);
  if (!ledger) return kExitLedger;
  if (options.m_pShow->parsed()) return Show(options, env, *ledger);
  if (options.m_pExport->parsed()) return Export(options, env, *ledger);
  return Stats(options, env, *ledger);
}
