#include "cli/ModuleCommands.h"

#include "cli/LedgerProgram.h"
#include "cli/ModuleRun.h"
#include "engine/os/RunFiles.h"
#include "engine/values/Profile.h"
#include "platform/AtomicFile.h"

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

int RunRead(const CModuleOptions& options, CRunEnv& env) {
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
  const int code = FinishRun(options, env, false, report, run.m_port.m_strShown);
  if (code != kExitOk || !profile.IsOpen()) return code;
  if (!profile.Append(ProfileText(*report.m_read)) || !profile.Commit(&error)) {
    env.m_err << "corvane: cannot write the profile " << options.m_strSave << ": "
              << (error.empty() ? "the disk refused the write" : error) << "\n";
    return kExitOutput;
  }
  return kExitOk;
}

int RunProgram(const CModuleOptions& options, CRunEnv& env) {
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
      return FinishRun(options, env, true, report, run.m_port.m_strShown);
    }
    values = changes.Over(*report.m_read);
  }
  run.m_session.Program(values, options.m_bTurnOff, options.m_bVerify, report);
  run.m_progress.Finish();
  return FinishRun(options, env, true, report, run.m_port.m_strShown);
}
