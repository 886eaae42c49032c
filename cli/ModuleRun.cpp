#include "cli/ModuleRun.h"

#include "engine/report/Output.h"

namespace {

void PrintDifferences(std::ostream& err, const CModuleReport& report) {
  err << "corvane: the module holds other values than were written:";
  for (ESetting setting : report.m_differs.Each()) {
    err << " " << SettingName(setting);
    if (setting == ESetting::Name || setting == ESetting::Pin) {
      const bool name = setting == ESetting::Name;
      err << " (wrote \""
          << Printable(name ? report.m_written->m_strName : report.m_written->m_strPin)
          << "\", read \""
          << Printable(name ? report.m_readBack->m_strName : report.m_readBack->m_strPin) << "\")";
    }
  }
  err << "\n";
}

}  // namespace

int FinishRun(const CModuleOptions& options, CRunEnv& env, bool program,
              const CModuleReport& report, const std::string& shownPort) {
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

int FinishDryRun(const CModuleOptions& options, CRunEnv& env, const CModuleReport& report,
                 const CSettingChanges& changes, const std::string& shownPort) {
  if (report.m_outcome != EOutcome::Ok) return FinishRun(options, env, false, report, shownPort);
  const CModuleSettings now = changes.Over(*report.m_read);
  return ShowDryRun(options, env, report, shownPort, &now, "", CJson::object());
}

int ShowDryRun(const CModuleOptions& options, CRunEnv& env, const CModuleReport& report,
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

namespace {

// The channel for --port; every port when it was not given.
CPortChoice ChooseOptionPort(const CModuleOptions& options, CRunEnv& env) {
  if (options.m_strPort.empty()) {
    CPortChoice every;
    every.m_pApi = &env.m_api;
    return every;
  }
  return ChoosePort(options.m_strPort, env);
}

}  // namespace

CModuleRun::CModuleRun(const CModuleOptions& options, CRunEnv& env)
    : m_port(ChooseOptionPort(options, env)),
      m_progress(env.m_err, env.m_bErrIsTerminal && !options.m_bQuiet),
      m_session(*m_port.m_pApi, env.m_interrupt, &m_progress) {
  if (!m_port.m_strListed.empty()) m_session.ListOnly(m_port.m_strListed);
  m_session.SetPace(options.m_pace);
}

int FinishProgram(const CModuleOptions& options, CRunEnv& env, const CModuleReport& report,
                  const std::string& shownPort) {
  // A dry run's module was only read.
  return FinishRun(options, env, !options.m_bDryRun, report, shownPort);
}
