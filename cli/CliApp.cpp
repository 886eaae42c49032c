#include "cli/CliApp.h"

#include <exception>
#include <functional>
#include <memory>
#include <vector>

#include "cli/CommonOptions.h"
#include "cli/DoctorCommand.h"
#include "cli/GangCommand.h"
#include "cli/LedgerCommand.h"
#include "cli/ModuleCommands.h"
#include "cli/OptionsFile.h"
#include "cli/PairCommand.h"
#include "cli/PortsCommand.h"
#include "cli/ServeCommand.h"
#include "engine/values/Settings.h"
#include "cli/station/StationCommand.h"
#include "ledger/LedgerSecrets.h"

namespace {

constexpr const char* kVersion = kCorvaneVersion;
// A command as registered: its part of the parser, and what runs it once parsed.
struct CCommand {
  CLI::App* m_pApp = nullptr;
  std::function<int(CRunEnv&)> m_fnRun;
};

// The options live as long as the command that runs with them.
template <typename TOptions>
CCommand Bind(CLI::App* command, std::shared_ptr<TOptions> options,
              int (*run)(const TOptions&, CRunEnv&)) {
  return {command, [options, run](CRunEnv& env) { return run(*options, env); }};
}

template <typename TOptions>
CCommand With(CLI::App& app, bool, CLI::App* (*add)(CLI::App&, TOptions&),
              int (*run)(const TOptions&, CRunEnv&)) {
  auto options = std::make_shared<TOptions>();
  return Bind(add(app, *options), options, run);
}

template <typename TOptions>
CCommand With(CLI::App& app, bool paths, CLI::App* (*add)(CLI::App&, TOptions&, bool),
              int (*run)(const TOptions&, CRunEnv&)) {
  auto options = std::make_shared<TOptions>();
  return Bind(add(app, *options, paths), options, run);
}

// Every command, once: its name, whether it runs many modules (its exit code 2 then covers a
// --verify difference too), and how it is added with its options (and its help) and run.
struct CCommandRow {
  const char* m_pszName;
  bool m_bMany;
  CCommand (*m_fnAdd)(CLI::App& app, bool paths);
};

const CCommandRow kCommandTable[] = {
    {"ports", false, [](CLI::App& a, bool p) { return With(a, p, AddPortsCommand, RunPorts); }},
    {"read", false, [](CLI::App& a, bool p) { return With(a, p, AddReadCommand, RunRead); }},
    {"program", false,
     [](CLI::App& a, bool p) { return With(a, p, AddProgramCommand, RunProgram); }},
    {"gang", true, [](CLI::App& a, bool p) { return With(a, p, AddGangCommand, RunGang); }},
    {"station", true,
     [](CLI::App& a, bool p) { return With(a, p, AddStationCommand, RunStation); }},
    {"pair", false, [](CLI::App& a, bool p) { return With(a, p, AddPairCommand, RunPair); }},
    {"doctor", false, [](CLI::App& a, bool p) { return With(a, p, AddDoctorCommand, RunDoctor); }},
    {"ledger", false, [](CLI::App& a, bool p) { return With(a, p, AddLedgerCommand, RunLedger); }},
    {"serve", false, [](CLI::App& a, bool p) { return With(a, p, AddServeCommand, RunServe); }},
};

const CCommandRow* FindCommand(const std::string& word) {
  for (const CCommandRow& row : kCommandTable) {
    if (word == row.m_pszName) return &row;
  }
  return nullptr;
}

// "ports, read, program, ...", for the line that says which commands there are.
std::string CommandNames() {
  std::string names;
  for (const CCommandRow& row : kCommandTable) {
    names += (names.empty() ? "" : ", ") + std::string(row.m_pszName);
  }
  return names;
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
void SetFooter(CLI::App* command, bool many) {
  std::string footer = TakesLedger(command) ? std::string(LedgerKinds()) + ".\n" : "";
  footer += kExitCodesStart;
  footer += many ? "2 a module failed (a --verify difference is a failure too), "
                 : "2 communication error, 3 --verify found a difference, ";
  command->footer(footer + kExitCodesEnd);
  for (CLI::App* sub : command->get_subcommands({})) SetFooter(sub, many);
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

// A command's options may come from a file (--options-file): read in their place, before the
// parser sees any of them. False after one line on err.
bool ExpandOptionsFiles(const std::vector<CCommand>& commands, std::vector<std::string>* words,
                        CRunEnv& env) {
  const CCommandRow* row = words->size() > 1 ? FindCommand((*words)[1]) : nullptr;
  if (row == nullptr) return true;
  std::vector<std::string> rest(words->begin() + 2, words->end());
  std::string error;
  if (!ExpandOptionsFile(*commands[static_cast<size_t>(row - kCommandTable)].m_pApp,
                         env.m_interrupt, &rest, &error)) {
    env.m_err << "corvane: " << error << "\n";
    return false;
  }
  words->resize(2);
  words->insert(words->end(), rest.begin(), rest.end());
  return true;
}

int Run(int argc, const char* const* argv, CRunEnv& env) {
  CLI::App app("Reads and programs a Corvane Bluetooth serial module over a serial port.",
               "corvane");
  app.set_version_flag("--version", kVersion);
  app.require_subcommand(1);
  app.formatter(std::make_shared<CHelpFormatter>());

  const bool paths = static_cast<bool>(env.m_fnPathApi);
  std::vector<CCommand> commands;
  for (const CCommandRow& row : kCommandTable) {
    commands.push_back(row.m_fnAdd(app, paths));
    // The whole program's help tells what a ledger can be, as the commands that take one do.
    SetFooter(commands.back().m_pApp, row.m_bMany);
  }
  app.footer(std::string(LedgerKinds()) + ".\n" + kExitCodesStart +
             "2 communication error, 3 --verify found a difference, " + kExitCodesEnd);

  // CLI11 words a missing or unknown command as a stray argument; say what it is.
  if (argc < 2) {
    env.m_err << "corvane: a command is required: " << CommandNames() << "\n";
    return kExitUsage;
  }
  const std::string first = argv[1];
  if (!first.empty() && first[0] != '-' && FindCommand(first) == nullptr) {
    env.m_err << "corvane: unknown command \"" << Printable(first)
              << "\" (commands: " << CommandNames() << ")\n";
    return kExitUsage;
  }
  std::vector<std::string> words(argv, argv + argc);
  if (!ExpandOptionsFiles(commands, &words, env)) return kExitUsage;
  std::vector<const char*> expanded;
  for (const std::string& word : words) expanded.push_back(word.c_str());
  const int parsed = Parse(app, static_cast<int>(expanded.size()), expanded.data(), env);
  if (parsed >= 0) return parsed;

  for (const CCommand& command : commands) {
    if (command.m_pApp->parsed()) return command.m_fnRun(env);
  }
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
