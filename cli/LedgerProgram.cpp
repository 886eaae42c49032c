#include "cli/LedgerProgram.h"

#include <chrono>

#include "engine/ledgerturn/LedgerRun.h"
#include "engine/report/Output.h"
#include "cli/Progress.h"
#include "engine/values/ValueTemplate.h"

namespace {

using Clock = std::chrono::steady_clock;

int Usage(CRunEnv& env, const std::string& text) {
  env.m_err << "corvane: " << text << "\n";
  return kExitUsage;
}

// The rule the options break with a ledger, or empty.
std::string CheckOptions(const CModuleOptions& options) {
  std::string rule = options.m_ledger.CheckUse();
  if (!rule.empty()) return rule;
  const CSettingOptions& settings = options.m_settings;
  if (settings.NameGiven()) rule = CValueTemplate::Check(settings.m_strName);
  if (!rule.empty()) return "--name: " + rule;
  if (settings.PinGiven()) rule = CValueTemplate::Check(settings.m_strPin);
  if (!rule.empty()) return "--pin: " + rule;
  return std::string();
}

// The values the options (over the profile's) give a module read to hold read, as number.
CValuesMaker MakeValues(const CModuleOptions& options, const CSettingChanges& profile,
                        const CModuleSettings& read) {
  return [&options, profile, read](long long number, CModuleSettings* values, bool* named,
                                   std::string* why) {
    CSettingChanges given = options.m_settings.Changes();
    const std::string digits = read.m_address ? read.m_address->Digits() : std::string();
    const long long seq = number;
    if (given.m_name) given.m_name = CValueTemplate(*given.m_name).Expand(seq, digits);
    if (given.m_pin) given.m_pin = CValueTemplate(*given.m_pin).Expand(seq, digits);
    // A profile's values are plain ones; a name it gives is bound like --name's.
    given = given.Over(profile);
    *named = static_cast<bool>(given.m_name);
    *values = given.Over(read);
    std::string rule = CheckName(values->m_strName);
    if (rule.empty()) rule = CheckPin(values->m_strPin);
    if (rule.empty()) return EValues::Ok;
    *why = "as number " + std::to_string(number) + " the module would get the name \"" +
           Printable(values->m_strName) + "\" and the PIN \"" + Printable(values->m_strPin) +
           "\": " + rule;
    return EValues::Refused;
  };
}

std::string ShownPort(const CModuleRun& run, const CModuleReport& report) {
  return run.m_port.m_strShown.empty() ? report.m_strPort : run.m_port.m_strShown;
}

// The dry run's result: the module's number (bound, or the one it would get) and what would be
// sent, or that nothing would.
int ShowTurn(const CModuleOptions& options, CRunEnv& env, const CModuleReport& report,
             const std::string& port, const CLedgerTurn& turn) {
  std::string lead;
  CJson more = CJson::object();
  more["number"] = turn.m_nNumber >= 0 ? CJson(turn.m_nNumber) : CJson();
  more["bound"] = turn.m_nNumber >= 0 && !turn.m_bNew;
  if (turn.m_bNew) {
    lead = "number: would get " + std::to_string(turn.m_nNumber) +
           " (the next free number now; nothing is bound)\n";
  } else if (turn.m_nNumber >= 0) {
    lead = "number: " + std::to_string(turn.m_nNumber) + " (bound to this module)\n";
  }
  if (!turn.m_bProgram) {
    more["result"] = OutcomeText(turn.m_skip);
    lead +=
        OutcomeText(turn.m_skip) + std::string(": nothing would be sent") +
        (turn.m_skip == EOutcome::AlreadyProgrammed ? " (--again programs it once more)\n" : "\n");
  }
  return ShowDryRun(options, env, report, port, turn.m_bProgram ? &turn.m_values : nullptr, lead,
                    more);
}

// Looks the module up and shows its turn; binds, sends and records nothing.
int DryRun(const CModuleOptions& options, CRunEnv& env, CLedgerRun& ledger,
           const std::string& address, const CModuleReport& report, const std::string& port,
           const CValuesMaker& make) {
  CLedgerTurn turn;
  CLedgerError failure;
  if (ledger.Preview(address, *report.m_read, make, &turn, &failure)) {
    return ShowTurn(options, env, report, port, turn);
  }
  env.m_err << "corvane: " << failure.m_strText << "; a run would program nothing\n";
  return failure.m_bUnavailable ? kExitLedger : kExitUsage;
}

}  // namespace

int RunProgramWithLedger(const CModuleOptions& options, const CSettingChanges& profile,
                         CRunEnv& env) {
  const std::string rule = CheckOptions(options);
  if (!rule.empty()) return Usage(env, rule);
  std::string error;
  const std::unique_ptr<CLedgerRun> ledger = options.m_bDryRun
                                                 ? CLedgerRun::OpenToLook(options.m_ledger, &error)
                                                 : CLedgerRun::Open(options.m_ledger, &error);
  if (!ledger) {
    env.m_err << "corvane: " << error << "\n";
    return kExitLedger;
  }

  CModuleRun run(options, env);
  CModuleReport report;
  const Clock::time_point start = Clock::now();
  // The module's own address keys the ledger: a Read first, whatever the options give.
  if (!run.m_session.Read(false, report)) {
    run.m_progress.Finish();
    // A module whose read failed after its address came was there: its failure is counted.
    if (report.m_address && !options.m_bDryRun) {
      const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
      ledger->Record(ShownPort(run, report), report, seconds, false);
    }
    return FinishProgram(options, env, report, run.m_port.m_strShown);
  }
  const std::string address = report.m_address->Text();

  CLedgerTurn turn;
  CLedgerError failure;
  const CValuesMaker make = MakeValues(options, profile, *report.m_read);
  if (options.m_bDryRun) {
    run.m_progress.Finish();
    return DryRun(options, env, *ledger, address, report, run.m_port.m_strShown, make);
  }
  if (!ledger->Turn(address, *report.m_read, make, &turn, &failure)) {
    run.m_progress.Finish();
    env.m_err << "corvane: " << failure.m_strText << "; nothing was programmed\n";
    return failure.m_bUnavailable ? kExitLedger : kExitUsage;
  }
  if (turn.m_nNumber >= 0) report.m_ledgerNumber = turn.m_nNumber;
  if (!turn.m_bProgram || env.m_interrupt.IsSet()) {
    // Interrupted while the ledger answered: the module is bound, but nothing was sent to it.
    run.m_progress.Finish();
    report.m_outcome = turn.m_bProgram ? EOutcome::Interrupted : turn.m_skip;
    if (report.m_outcome == EOutcome::DiffersFromLedger) report.m_strMessage = DiffersText(turn);
    return FinishProgram(options, env, report, run.m_port.m_strShown);
  }
  run.m_session.Program(turn.m_values, options.m_bTurnOff, options.m_bVerify, report);
  run.m_progress.Finish();
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  const bool recorded = ledger->Record(ShownPort(run, report), report, seconds, turn.m_bAgain);
  const int code = FinishProgram(options, env, report, run.m_port.m_strShown);
  if (recorded) return code;
  env.m_err << "corvane: " << ledger->LostText()
            << "; this attempt was not recorded: " << Printable(ledger->Unrecorded().front())
            << "\n";
  return code == kExitInterrupted ? code : kExitLedger;
}
