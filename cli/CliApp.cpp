#include "cli/CliApp.h"

#include <exception>
#include <memory>

#include "cli/CommonOptions.h"
#include "cli/DoctorCommand.h"
#include "cli/GangCommand.h"
#include "cli/LedgerCommand.h"
#include "cli/ModuleCommands.h"
#include "cli/PairCommand.h"
#include "cli/PortsCommand.h"
#include "engine/values/Settings.h"
#include "cli/station/StationCommand.h"
#include "ledger/LedgerSecrets.h"

namespace {

constexpr const char* kVersion = kCorvaneVersion;
constexpr const char kCommands[] = "ports, read, program, gang, station, pair, doctor, ledger";

bool IsCommand(const std::string& word) {
  return word == "ports" || word == "read" || word == "program" || word == "gang" ||
         word == "station" || word == "pair" || word == "doctor" || word == "ledger";
}

// CLI11 writes an option's value as its type and its check ("TEXT:PORTS", "INT:N"); the
// check's word is the one that says what to give, so it alone is shown.
class CHelpFormatter : public CLI::Formatter {
 public:
  std::string make_option_opts(const CLI::Option* option) const override {
    std::string text = CLI::Formatter::make_option_opts(option);
    const std::string type = option->get_type_name();
    const size_t colon = type.find(':');
    const size_t at = text.find(type);
    if (colon != std::string::npos && at != std::string::npos) {
      text.replace(at, type.size(), type.substr(colon + 1));
    }
    return text;
  }
};

constexpr char kExitCodesStart[] =
    "Exit codes: 0 success, 1 no module found or port cannot be opened (or busy), ";
constexpr char kExitCodesEnd[] =
    "4 ledger unavailable, 64 usage, 70 internal error, 74 output could not be written, 130 "
    "interrupted.";

bool TakesLedger(const CLI::App* command) {
  if (command->get_option_no_throw("--ledger") != nullptr) return true;
  for (const CLI::App* sub : command->get_subcommands({})) {
    if (TakesLedger(sub)) return true;
  }
  return false;
}

// What a command's help ends with: what --ledger takes, where the command has one, and the exit
// codes as the command gives them. Gang and station run many modules; any that fails, by a
// --verify difference too, is their 2.
void SetFooter(CLI::App* command) {
  const std::string name = command->get_name();
  const bool many = name == "gang" || name == "station";
  std::string footer = TakesLedger(command) ? std::string(LedgerKinds()) + ".\n" : "";
  footer += kExitCodesStart;
  footer += many ? "2 a module failed (a --verify difference is a failure too), "
                 : "2 communication error, 3 --verify found a difference, ";
  command->footer(footer + kExitCodesEnd);
  for (CLI::App* sub : command->get_subcommands({})) SetFooter(sub);
}

int Parse(CLI::App& app, int argc, const char* const* argv, CRunEnv& env) {
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    env.m_out << app.help();
    return kExitOk;
  } catch (const CLI::CallForAllHelp&) {
    env.m_out << app.help("", CLI::AppFormatMode::All);
    return kExitOk;
  } catch (const CLI::CallForVersion&) {
    env.m_out << kVersion << "\n";
    return kExitOk;
  } catch (const CLI::ParseError& error) {
    // CLI11 quotes the arguments it did not expect, a ledger URL among them perhaps.
    env.m_err << "corvane: " << RedactSecrets(error.what(), {}) << "\n";
    return kExitUsage;
  }
  return -1;
}

int Run(int argc, const char* const* argv, CRunEnv& env) {
  CLI::App app("Reads and programs a Corvane Bluetooth serial module over a serial port.",
               "corvane");
  app.set_version_flag("--version", kVersion);
  app.require_subcommand(1);
  app.formatter(std::make_shared<CHelpFormatter>());

  const bool paths = static_cast<bool>(env.m_fnPathApi);
  CPortsOptions portsOptions;
  CModuleOptions readOptions, programOptions;
  CGangOptions gangOptions;
  CLI::App* ports = AddPortsCommand(app, portsOptions);
  CLI::App* read = AddReadCommand(app, readOptions, paths);
  CLI::App* program = AddProgramCommand(app, programOptions, paths);
  CLI::App* gang = AddGangCommand(app, gangOptions);
  CStationOptions stationOptions;
  CLI::App* station = AddStationCommand(app, stationOptions, paths);
  CPairOptions pairOptions;
  CLI::App* pair = AddPairCommand(app, pairOptions, paths);
  CDoctorOptions doctorOptions;
  CLI::App* doctor = AddDoctorCommand(app, doctorOptions, paths);
  CLedgerCommandOptions ledgerOptions;
  CLI::App* ledger = AddLedgerCommand(app, ledgerOptions);
  // The whole program's help tells what a ledger can be, as the commands that take one do.
  for (CLI::App* command : app.get_subcommands({})) SetFooter(command);
  app.footer(std::string(LedgerKinds()) + ".\n" + kExitCodesStart +
             "2 communication error, 3 --verify found a difference, " + kExitCodesEnd);

  // CLI11 words a missing or unknown command as a stray argument; say what it is.
  if (argc < 2) {
    env.m_err << "corvane: a command is required: " << kCommands << "\n";
    return kExitUsage;
  }
  const std::string first = argv[1];
  if (!first.empty() && first[0] != '-' && !IsCommand(first)) {
    env.m_err << "corvane: unknown command \"" << Printable(first) << "\" (commands: " << kCommands
              << ")\n";
    return kExitUsage;
  }
  const int parsed = Parse(app, argc, argv, env);
  if (parsed >= 0) return parsed;

  if (ports->parsed()) return RunPorts(portsOptions, env);
  if (read->parsed()) return RunRead(readOptions, env);
  if (program->parsed()) return RunProgram(programOptions, env);
  if (gang->parsed()) return RunGang(gangOptions, env);
  if (station->parsed()) return RunStation(stationOptions, env);
  if (pair->parsed()) return RunPair(pairOptions, env);
  if (doctor->parsed()) return RunDoctor(doctorOptions, env);
  if (ledger->parsed()) return RunLedger(ledgerOptions, env);
  return kExitUsage;
}

}  // namespace

int RunCli(int argc, const char* const* argv, CRunEnv& env) {
  int code = kExitInternal;
  // Exceptions stop here: the options library and the standard library may throw, nothing of
  // ours does; one that arrives is a fault of the program, not of the module.
  try {
    code = Run(argc, argv, env);
  } catch (const std::exception& error) {
    env.m_err << "corvane: internal error: " << error.what() << "\n";
    return kExitInternal;
  }
  // A closed or full stdout loses the results: that is no success.
  if (!env.m_out.flush()) {
    env.m_err << "corvane: the results could not be written to the standard output\n";
    if (code == kExitOk) code = kExitOutput;
  }
  return code;
}
