#include "cli/CliApp.h"

#include <exception>
#include <vector>

#include "cli/Gang.h"
#include "cli/ModuleSession.h"
#include "cli/Options.h"
#include "cli/Output.h"
#include "cli/Progress.h"
#include "serial/ComPortName.h"
#include "serial/SerialPort.h"

namespace {

constexpr const char kVersion[] = "corvane 1.2.0";

}  // namespace

std::string CheckPortOption(const std::string& value, bool pathsAllowed) {
  int number = 0;
  if (ParseExactComPortName(value.c_str(), &number) && number >= 1) return std::string();
  if (pathsAllowed && !value.empty() && value[0] == '/') return std::string();
  return pathsAllowed ? "the port is a name COM1, COM2, ... or a device path such as /dev/ttyUSB0"
                      : "the port is a name COM1, COM2, ...";
}

CPortChoice ChoosePort(const std::string& value, CCliEnv& env) {
  CPortChoice choice;
  choice.m_pApi = &env.m_api;
  int number = 0;
  if (ParseExactComPortName(value.c_str(), &number)) {
    choice.m_strListed = ComPortName(number);
    choice.m_strShown = choice.m_strListed;
  } else if (env.m_fnPathApi) {
    choice.m_owned = env.m_fnPathApi(value);
    choice.m_pApi = choice.m_owned.get();
    choice.m_strListed = "COM1";
    choice.m_strShown = value;
  }
  return choice;
}

namespace {

struct COptions {
  std::string m_strFormat = "text";
  std::string m_strPort;
  bool m_bTurnOff = false;
  bool m_bVerify = false;
  bool m_bQuiet = false;
  std::string m_strName, m_strPin, m_strRole, m_strPeer;
  // Given or not: an empty name is a value too.
  CLI::Option* m_pName = nullptr;
  CLI::Option* m_pPin = nullptr;
  CLI::Option* m_pRole = nullptr;
  CLI::Option* m_pPeer = nullptr;
};

class CCommandLine {
 public:
  explicit CCommandLine(CCliEnv& env) : m_env(env) {}

  int Run(int argc, const char* const* argv);

 private:
  void AddFormat(CLI::App* command);
  void AddPort(CLI::App* command);
  void AddQuiet(CLI::App* command) {
    command->add_flag("--quiet,-q", m_options.m_bQuiet, "No progress bar");
  }
  // The channel for --port; every port when it was not given.
  CPortChoice ChoosePort();
  bool Json() const { return m_options.m_strFormat == "json"; }

  int Ports();
  int Read();
  int Program();
  // Prints the outcome of a read or program and returns its exit code.
  int Finish(bool program, const CModuleReport& report, const std::string& shownPort);

  CCliEnv& m_env;
  COptions m_options;
  CGangOptions m_gang;
};

void CCommandLine::AddFormat(CLI::App* command) {
  command->add_option("--format", m_options.m_strFormat, "Output: text (default) or json")
      ->check(Rule(CheckFormat, "text|json"));
}

void CCommandLine::AddPort(CLI::App* command) {
  const bool paths = static_cast<bool>(m_env.m_fnPathApi);
  command
      ->add_option("--port,-p", m_options.m_strPort,
                   paths ? "Port name (COM3) or device path; default: search every port"
                         : "Port name (COM3); default: search every port")
      ->check(CLI::Validator([paths](std::string& value) { return CheckPortOption(value, paths); },
                             "PORT"));
}

CPortChoice CCommandLine::ChoosePort() {
  if (m_options.m_strPort.empty()) {
    CPortChoice every;
    every.m_pApi = &m_env.m_api;
    return every;
  }
  return ::ChoosePort(m_options.m_strPort, m_env);
}

int CCommandLine::Run(int argc, const char* const* argv) {
  CLI::App app("Reads and programs a Corvane Bluetooth serial module over a serial port.",
               "corvane");
  app.set_version_flag("--version", kVersion);
  app.require_subcommand(1);
  app.footer(
      "Exit codes: 0 success, 1 no module found or port cannot be opened, 2 communication "
      "error, 3 --verify found a difference, 64 usage, 130 interrupted.");

  CLI::App* ports = app.add_subcommand("ports", "List the serial ports in search order");
  AddFormat(ports);

  CLI::App* read = app.add_subcommand("read", "Read the module's settings");
  AddPort(read);
  read->add_flag("--turn-off", m_options.m_bTurnOff, "Turn Bluetooth off after reading");
  AddFormat(read);
  AddQuiet(read);

  CLI::App* program = app.add_subcommand(
      "program", "Write the module's settings; those not given keep their current values");
  AddPort(program);
  m_options.m_pName =
      program->add_option("--name", m_options.m_strName, "Device name, at most 16 characters")
          ->check(Rule(CheckName, "TEXT"));
  m_options.m_pPin = program->add_option("--pin", m_options.m_strPin, "PIN code, 1 to 8 characters")
                         ->check(Rule(CheckPin, "TEXT"));
  m_options.m_pRole = program->add_option("--role", m_options.m_strRole, "master or slave")
                          ->check(Rule(CheckRole, "master|slave"));
  m_options.m_pPeer =
      program->add_option("--peer", m_options.m_strPeer, "Peer address XX:XX:XX:XX:XX:XX")
          ->check(Rule(CheckPeer, "ADDRESS"));
  program->add_flag("--turn-off", m_options.m_bTurnOff, "Turn Bluetooth off at the end");
  program->add_flag("--verify", m_options.m_bVerify, "Read back and compare");
  AddFormat(program);
  AddQuiet(program);

  CLI::App* gang = AddGangCommand(app, m_gang);

  // CLI11 words a missing or unknown command as a stray argument; say what it is.
  if (argc < 2) {
    m_env.m_err << "corvane: a command is required: ports, read, program or gang\n";
    return kExitUsage;
  }
  const std::string first = argv[1];
  if (first[0] != '-' && first != "ports" && first != "read" && first != "program" &&
      first != "gang") {
    m_env.m_err << "corvane: unknown command \"" << Printable(first)
                << "\" (commands: ports, read, program, gang)\n";
    return kExitUsage;
  }
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    m_env.m_out << app.help();
    return kExitOk;
  } catch (const CLI::CallForAllHelp&) {
    m_env.m_out << app.help("", CLI::AppFormatMode::All);
    return kExitOk;
  } catch (const CLI::CallForVersion&) {
    m_env.m_out << kVersion << "\n";
    return kExitOk;
  } catch (const CLI::ParseError& error) {
    m_env.m_err << "corvane: " << error.what() << "\n";
    return kExitUsage;
  }

  if (ports->parsed()) return Ports();
  if (read->parsed()) return Read();
  if (program->parsed()) return Program();
  if (gang->parsed()) return RunGang(m_gang, m_env);
  return kExitUsage;
}

int CCommandLine::Ports() {
  CSerialPort serial(m_env.m_api);
  std::vector<std::string> names;
  serial.ListPorts(names);
  CJson list = CJson::array();
  for (const std::string& name : names) {
    std::vector<char> target(4096, '\0');
    const DWORD got = m_env.m_api.QueryDosDeviceA(name.c_str(), target.data(),
                                                  static_cast<DWORD>(target.size() - 1));
    const std::string device = got != 0 ? std::string(target.data()) : std::string();
    if (Json()) {
      list.push_back({{"port", name}, {"device", device}});
    } else {
      m_env.m_out << name << (device.empty() ? "" : "\t" + Printable(device)) << "\n";
    }
  }
  if (Json()) m_env.m_out << DumpJson({{"ports", list}}) << "\n";
  return kExitOk;
}

int CCommandLine::Read() {
  const CPortChoice port = ChoosePort();
  CTerminalProgress progress(m_env.m_err, m_env.m_bErrIsTerminal && !m_options.m_bQuiet);
  CModuleSession session(*port.m_pApi, m_env.m_interrupt, &progress);
  if (!port.m_strListed.empty()) session.ListOnly(port.m_strListed);
  CModuleReport report;
  session.Read(m_options.m_bTurnOff, report);
  progress.Finish();
  return Finish(false, report, port.m_strShown);
}

int CCommandLine::Program() {
  CSettingChanges changes;
  if (m_options.m_pName->count() > 0) changes.m_name = m_options.m_strName;
  if (m_options.m_pPin->count() > 0) changes.m_pin = m_options.m_strPin;
  bool master = false;
  if (m_options.m_pRole->count() > 0 && ParseRole(m_options.m_strRole, &master)) {
    changes.m_master = master;
  }
  CAddress peer;
  if (m_options.m_pPeer->count() > 0 && ParsePeer(m_options.m_strPeer, &peer)) {
    changes.m_peer = peer;
  }

  const CPortChoice port = ChoosePort();
  CTerminalProgress progress(m_env.m_err, m_env.m_bErrIsTerminal && !m_options.m_bQuiet);
  CModuleSession session(*port.m_pApi, m_env.m_interrupt, &progress);
  if (!port.m_strListed.empty()) session.ListOnly(port.m_strListed);
  CModuleReport report;
  // Settings left out keep what the module holds: read them first.
  CModuleSettings values = changes.Over(CModuleSettings());
  if (!changes.All()) {
    if (!session.Read(false, report)) {
      progress.Finish();
      return Finish(true, report, port.m_strShown);
    }
    values = changes.Over(*report.m_read);
  }
  session.Program(values, m_options.m_bTurnOff, m_options.m_bVerify, report);
  progress.Finish();
  return Finish(true, report, port.m_strShown);
}

int CCommandLine::Finish(bool program, const CModuleReport& report, const std::string& shownPort) {
  const std::string port = shownPort.empty() ? report.m_strPort : shownPort;
  const bool ok = report.m_outcome == EOutcome::Ok;
  // What the module now holds, as far as this run knows it.
  const std::optional<CModuleSettings>& values = program ? report.m_written : report.m_read;
  CModuleSettings shown;
  if (values) shown = *values;
  if (program && report.m_read) shown.m_strAddress = report.m_read->m_strAddress;

  if (Json()) {
    CJson json = values ? SettingsJson(port, shown) : CJson{{"port", port}};
    if (program) {
      json["written"] = report.m_acked;
      if (m_options.m_bVerify && report.m_verified) json["verified"] = *report.m_verified;
    }
    json["result"] = OutcomeText(report.m_outcome);
    if (!report.m_differs.empty()) json["differs"] = report.m_differs;
    if (!ok && !report.m_strMessage.empty()) json["message"] = report.m_strMessage;
    m_env.m_out << DumpJson(json) << "\n";
  } else if (ok || report.m_outcome == EOutcome::VerifyDiffers) {
    PrintSettingsText(m_env.m_out, port, shown);
    if (program && m_options.m_bVerify) {
      m_env.m_out << "Verified:       " << (ok ? "yes" : "no") << "\n";
    }
  }

  switch (report.m_outcome) {
    case EOutcome::Ok:
      return kExitOk;
    case EOutcome::NoModule:
      m_env.m_err << MSG_CANNOT_CONNECT << "\n";
      return kExitNoModule;
    case EOutcome::VerifyDiffers:
      m_env.m_err << "corvane: the module holds other values than were written:";
      for (const std::string& setting : report.m_differs) {
        m_env.m_err << " " << setting;
        if (setting == "name" || setting == "pin") {
          const bool name = setting == "name";
          m_env.m_err << " (wrote \""
                      << Printable(name ? report.m_written->m_strName : report.m_written->m_strPin)
                      << "\", read \""
                      << Printable(name ? report.m_readBack->m_strName
                                        : report.m_readBack->m_strPin)
                      << "\")";
        }
      }
      m_env.m_err << "\n";
      return kExitVerifyDiffers;
    case EOutcome::Interrupted:
      m_env.m_err << "corvane: interrupted; the port is closed.";
      if (program)
        m_env.m_err << " The module had acknowledged: " << JoinSettings(report.m_acked) << ".";
      m_env.m_err << "\n";
      return kExitInterrupted;
    case EOutcome::CommError:
    case EOutcome::NotInPlan:
      break;
  }
  m_env.m_err << report.m_strMessage << "\n";
  if (program) {
    m_env.m_err << "corvane: the module had acknowledged: " << JoinSettings(report.m_acked) << "\n";
  }
  return kExitCommError;
}

}  // namespace

int RunCli(int argc, const char* const* argv, CCliEnv& env) {
  // Exceptions stop here: the options library and the streams may throw, nothing else does.
  try {
    CCommandLine commandLine(env);
    return commandLine.Run(argc, argv);
  } catch (const std::exception& error) {
    env.m_err << "corvane: " << error.what() << "\n";
    return kExitCommError;
  }
}
