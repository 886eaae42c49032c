#include "cli/ModuleCommands.h"

#include "cli/LedgerProgram.h"
#include "cli/ModuleSession.h"
#include "cli/Output.h"
#include "cli/Progress.h"

namespace {

// The channel for --port; every port when it was not given.
CPortChoice ChooseOptionPort(const CModuleOptions& options, CCliEnv& env) {
  if (options.m_strPort.empty()) {
    CPortChoice every;
    every.m_pApi = &env.m_api;
    return every;
  }
  return ChoosePort(options.m_strPort, env);
}

void PrintDifferences(std::ostream& err, const CModuleReport& report) {
  err << "corvane: the module holds other values than were written:";
  for (const std::string& setting : report.m_differs) {
    err << " " << setting;
    if (setting == "name" || setting == "pin") {
      const bool name = setting == "name";
      err << " (wrote \""
          << Printable(name ? report.m_written->m_strName : report.m_written->m_strPin)
          << "\", read \""
          << Printable(name ? report.m_readBack->m_strName : report.m_readBack->m_strPin) << "\")";
    }
  }
  err << "\n";
}

// Prints the outcome of a read or program and returns its exit code.
int Finish(const CModuleOptions& options, CCliEnv& env, bool program, const CModuleReport& report,
           const std::string& shownPort) {
  const std::string port = shownPort.empty() ? report.m_strPort : shownPort;
  const bool ok = report.m_outcome == EOutcome::Ok;
  // Only what the module was read to hold or acknowledged: a value merely sent is not shown.
  const CSettingChanges known = KnownSettings(report);
  const std::string address = KnownAddress(report);

  if (options.m_strFormat == "json") {
    CJson json = SettingsJson(port, address, known);
    if (program) {
      json["written"] = report.m_acked;
      if (options.m_bVerify && report.m_verified) json["verified"] = *report.m_verified;
    }
    if (report.m_ledgerNumber) json["number"] = *report.m_ledgerNumber;
    json["result"] = OutcomeText(report.m_outcome);
    if (!report.m_differs.empty()) json["differs"] = report.m_differs;
    if (!ok && !report.m_strMessage.empty()) json["message"] = report.m_strMessage;
    env.m_out << DumpJson(json) << "\n";
  } else if (ok || report.m_outcome == EOutcome::VerifyDiffers ||
             report.m_outcome == EOutcome::AlreadyProgrammed) {
    PrintSettingsText(env.m_out, port, address, known);
    if (report.m_ledgerNumber) env.m_out << "Number:         " << *report.m_ledgerNumber << "\n";
    if (program && options.m_bVerify) {
      env.m_out << "Verified:       " << (ok ? "yes" : "no") << "\n";
    }
  }

  switch (report.m_outcome) {
    case EOutcome::Ok:
      return kExitOk;
    case EOutcome::NoModule:
      env.m_err << MSG_CANNOT_CONNECT << "\n";
      return kExitNoModule;
    case EOutcome::Busy:
      env.m_err << "corvane: " << Printable(report.m_strBusyPort)
                << " is busy: another program holds it\n";
      return kExitNoModule;
    case EOutcome::VerifyDiffers:
      PrintDifferences(env.m_err, report);
      return kExitVerifyDiffers;
    case EOutcome::Interrupted:
      env.m_err << "corvane: interrupted; the port is closed.";
      if (program) {
        env.m_err << " The module had acknowledged: " << JoinSettings(report.m_acked) << ".";
      }
      env.m_err << "\n";
      return kExitInterrupted;
    case EOutcome::AlreadyProgrammed:
      env.m_err << "corvane: already programmed: the ledger's last attempt at this module ended "
                   "ok (--again programs it once more)\n";
      return kExitOk;
    case EOutcome::CommError:
    case EOutcome::NotInPlan:
    case EOutcome::NotInLedger:
      break;
  }
  env.m_err << report.m_strMessage << "\n";
  if (program) {
    env.m_err << "corvane: the module had acknowledged: " << JoinSettings(report.m_acked) << "\n";
  }
  return kExitCommError;
}

}  // namespace

CLI::App* AddReadCommand(CLI::App& app, CModuleOptions& options, bool pathsAllowed) {
  CLI::App* read = app.add_subcommand("read", "Read the module's settings");
  AddPortOption(read, options.m_strPort, pathsAllowed);
  read->add_flag("--turn-off", options.m_bTurnOff, "Turn Bluetooth off after reading");
  AddFormatOption(read, options.m_strFormat);
  AddQuietOption(read, options.m_bQuiet);
  return read;
}

CLI::App* AddProgramCommand(CLI::App& app, CModuleOptions& options, bool pathsAllowed) {
  CLI::App* program = app.add_subcommand(
      "program", "Write the module's settings; those not given keep their current values");
  AddPortOption(program, options.m_strPort, pathsAllowed);
  options.m_settings.Add(program);
  program->add_flag("--turn-off", options.m_bTurnOff, "Turn Bluetooth off at the end");
  program->add_flag("--verify", options.m_bVerify, "Read back and compare");
  AddFormatOption(program, options.m_strFormat);
  AddQuietOption(program, options.m_bQuiet);
  options.m_ledger.Add(program);
  return program;
}

int RunRead(const CModuleOptions& options, CCliEnv& env) {
  const CPortChoice port = ChooseOptionPort(options, env);
  CTerminalProgress progress(env.m_err, env.m_bErrIsTerminal && !options.m_bQuiet);
  CModuleSession session(*port.m_pApi, env.m_interrupt, &progress);
  if (!port.m_strListed.empty()) session.ListOnly(port.m_strListed);
  CModuleReport report;
  session.Read(options.m_bTurnOff, report);
  progress.Finish();
  return Finish(options, env, false, report, port.m_strShown);
}

int RunProgram(const CModuleOptions& options, CCliEnv& env) {
  if (options.m_ledger.Any()) return RunProgramWithLedger(options, env);
  const CSettingChanges changes = options.m_settings.Changes();
  const CPortChoice port = ChooseOptionPort(options, env);
  CTerminalProgress progress(env.m_err, env.m_bErrIsTerminal && !options.m_bQuiet);
  CModuleSession session(*port.m_pApi, env.m_interrupt, &progress);
  if (!port.m_strListed.empty()) session.ListOnly(port.m_strListed);
  CModuleReport report;
  // Settings left out keep what the module holds: read them first.
  CModuleSettings values = changes.Over(CModuleSettings());
  if (!changes.All()) {
    if (!session.Read(false, report)) {
      progress.Finish();
      return Finish(options, env, true, report, port.m_strShown);
    }
    values = changes.Over(*report.m_read);
  }
  session.Program(values, options.m_bTurnOff, options.m_bVerify, report);
  progress.Finish();
  return Finish(options, env, true, report, port.m_strShown);
}

CPortChoice ChooseModulePort(const CModuleOptions& options, CCliEnv& env) {
  return ChooseOptionPort(options, env);
}

int FinishProgram(const CModuleOptions& options, CCliEnv& env, const CModuleReport& report,
                  const std::string& shownPort) {
  return Finish(options, env, true, report, shownPort);
}
