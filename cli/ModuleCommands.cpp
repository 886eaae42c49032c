#include "cli/ModuleCommands.h"

#include "cli/LedgerProgram.h"
#include "cli/ModuleSession.h"
#include "cli/Output.h"
#include "cli/Profile.h"
#include "cli/Progress.h"
#include "cli/RunFiles.h"
#include "platform/AtomicFile.h"

namespace {

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
  // Text shows the address as the dialog does; JSON in the form of every other output.
  const std::string address = report.m_address ? report.m_address->DialogText() : std::string();

  if (options.m_strFormat == "json") {
    env.m_out << DumpJson(ReportJson(port, report, program, options.m_bVerify)) << "\n";
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
      break;
    case EOutcome::NoModule:
      env.m_err << MSG_CANNOT_CONNECT << "\n";
      break;
    case EOutcome::Busy:
    case EOutcome::NoPermission:
      env.m_err << "corvane: " << Printable(port.empty() ? report.m_strBusyPort : port)
                << (report.m_outcome == EOutcome::Busy ? " is busy: another program holds it"
                                                       : ": no permission to open it")
                << "; run `corvane doctor --port "
                << Printable(port.empty() ? report.m_strBusyPort : port) << "`\n";
      break;
    case EOutcome::VerifyDiffers:
      PrintDifferences(env.m_err, report);
      break;
    case EOutcome::Interrupted:
      env.m_err << "corvane: interrupted; the port is closed.";
      if (program) {
        env.m_err << " The module had acknowledged: " << JoinSettings(report.m_acked) << ".";
      }
      env.m_err << "\n";
      break;
    case EOutcome::AlreadyProgrammed:
      env.m_err << "corvane: already programmed: the ledger's last attempt at this module ended "
                   "ok (--again programs it once more)\n";
      break;
    case EOutcome::DiffersFromLedger:
      env.m_err << report.m_strMessage << "\n";
      break;
    case EOutcome::ModuleChanged:
    case EOutcome::CommError:
    case EOutcome::NotInPlan:
    case EOutcome::NotInLedger:
    case EOutcome::Refused:
      env.m_err << report.m_strMessage << "\n";
      if (program) {
        env.m_err << "corvane: the module had acknowledged: "
                  << JoinSettings(ConfirmedSettings(report)) << "\n";
      }
      break;
  }
  return OutcomeExitCode(report.m_outcome);
}

// A dry run: what the module holds and what program would make of it, old -> new per setting.
int FinishDryRun(const CModuleOptions& options, CCliEnv& env, const CModuleReport& report,
                 const CSettingChanges& changes, const std::string& shownPort) {
  if (report.m_outcome != EOutcome::Ok) return Finish(options, env, false, report, shownPort);
  const CModuleSettings now = changes.Over(*report.m_read);
  return ShowDryRun(options, env, report, shownPort, &now, "", CJson::object());
}

}  // namespace

int ShowDryRun(const CModuleOptions& options, CCliEnv& env, const CModuleReport& report,
               const std::string& shownPort, const CModuleSettings* now, const std::string& lead,
               const CJson& more) {
  const CModuleSettings& old = *report.m_read;
  const std::string port = shownPort.empty() ? report.m_strPort : shownPort;
  CJson json = {{"port", port}, {"address", KnownAddress(report)}};
  json.update(more);
  if (options.m_strFormat != "json") {
    env.m_out << lead;
    if (now) PrintChanges(env.m_out, old, *now);
    return kExitOk;
  }
  json["changes"] = now ? ChangesJson(old, *now) : CJson();
  if (!json.contains("result")) json["result"] = "dry run";
  env.m_out << DumpJson(json) << "\n";
  return kExitOk;
}

CLI::App* AddReadCommand(CLI::App& app, CModuleOptions& options, bool pathsAllowed) {
  CLI::App* read = app.add_subcommand("read", "Read the module's settings");
  AddPortOption(read, options.m_strPort, pathsAllowed);
  read->add_flag("--turn-off", options.m_bTurnOff, "Turn Bluetooth off after reading");
  read->add_option("--save", options.m_strSave, "Save the settings read as a JSON profile")
      ->type_name("FILE");
  AddPaceOption(read, options.m_pace);
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
  program
      ->add_option("--from", options.m_strFrom,
                   "Start from a profile (read --save); options given override its fields")
      ->type_name("FILE");
  program->add_flag("--dry-run", options.m_bDryRun,
                    "Read the module and show the change; send no setting");
  AddPaceOption(program, options.m_pace);
  AddFormatOption(program, options.m_strFormat);
  AddQuietOption(program, options.m_bQuiet);
  options.m_ledger.Add(program);
  return program;
}

int RunRead(const CModuleOptions& options, CCliEnv& env) {
  // The profile's file is made before any port is opened, so a folder that cannot take it
  // refuses the run with nothing sent.
  CAtomicFile profile;
  std::string error;
  if (!options.m_strSave.empty() && !profile.Open(options.m_strSave, &error)) {
    env.m_err << "corvane: --save: " << error << "\n";
    return kExitUsage;
  }
  CModuleRun run(options, env);
  CModuleReport report;
  run.m_session.Read(options.m_bTurnOff, report);
  run.m_progress.Finish();
  const int code = Finish(options, env, false, report, run.m_port.m_strShown);
  if (code != kExitOk || !profile.IsOpen()) return code;
  if (!profile.Append(ProfileText(*report.m_read)) || !profile.Commit(&error)) {
    env.m_err << "corvane: cannot write the profile " << options.m_strSave << ": "
              << (error.empty() ? "the disk refused the write" : error) << "\n";
    return kExitOutput;
  }
  return kExitOk;
}

int RunProgram(const CModuleOptions& options, CCliEnv& env) {
  CSettingChanges changes;
  std::string error;
  const std::string ledger = options.m_ledger.Given() ? options.m_ledger.m_strLocation : "";
  int code = kExitUsage;
  if (!CheckRunFiles({{"--from", options.m_strFrom, CRunFile::EUse::Read},
                      {"--ledger", ledger, CRunFile::EUse::Ledger}},
                     &error, &code)) {
    env.m_err << "corvane: " << error << "\n";
    return code;
  }
  if (!options.m_strFrom.empty() &&
      !LoadProfile(options.m_strFrom, env.m_interrupt, &changes, &error)) {
    env.m_err << "corvane: --from: " << error << "\n";
    return env.m_interrupt.IsSet() ? kExitInterrupted : kExitUsage;
  }
  // The profile's values are the options' for a module new to the ledger.
  if (options.m_ledger.Any()) return RunProgramWithLedger(options, changes, env);
  changes = options.m_settings.Changes().Over(changes);
  CModuleRun run(options, env);
  CModuleReport report;
  // Settings left out keep what the module holds: read them first.
  CModuleSettings values = changes.Over(CModuleSettings());
  if (options.m_bDryRun) {
    run.m_session.Read(false, report);
    run.m_progress.Finish();
    return FinishDryRun(options, env, report, changes, run.m_port.m_strShown);
  }
  if (!changes.All()) {
    if (!run.m_session.Read(false, report)) {
      run.m_progress.Finish();
      return Finish(options, env, true, report, run.m_port.m_strShown);
    }
    values = changes.Over(*report.m_read);
  }
  run.m_session.Program(values, options.m_bTurnOff, options.m_bVerify, report);
  run.m_progress.Finish();
  return Finish(options, env, true, report, run.m_port.m_strShown);
}

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

}  // namespace

CModuleRun::CModuleRun(const CModuleOptions& options, CCliEnv& env)
    : m_port(ChooseOptionPort(options, env)),
      m_progress(env.m_err, env.m_bErrIsTerminal && !options.m_bQuiet),
      m_session(*m_port.m_pApi, env.m_interrupt, &m_progress) {
  if (!m_port.m_strListed.empty()) m_session.ListOnly(m_port.m_strListed);
  m_session.SetPace(options.m_pace);
}

int FinishProgram(const CModuleOptions& options, CCliEnv& env, const CModuleReport& report,
                  const std::string& shownPort) {
  // A dry run's module was only read.
  return Finish(options, env, !options.m_bDryRun, report, shownPort);
}
