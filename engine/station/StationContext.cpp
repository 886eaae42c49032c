#include "engine/station/StationContext.h"

#include "ledger/Ledger.h"

namespace {

bool Fine(EOutcome outcome) {
  return outcome == EOutcome::Ok || outcome == EOutcome::AlreadyProgrammed ||
         outcome == EOutcome::NotInLedger;
}

}  // namespace

CStationContext::CStationContext(const CStationSetup& options, CRunEnv& env,
                                 CEngineEventSink& events, CLedgerRun* ledger, const CPlan* plan)
    : m_options(options),
      m_env(env),
      m_events(events),
      m_pLedger(ledger),
      m_pPlan(plan),
      m_nLastArrival(0) {}

void CStationContext::Stop(EStop why) {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_stopReason == EStop::None) m_stopReason = why;
  }
  m_stop.Set();
}

EStop CStationContext::StopReason() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_stopReason;
}

void CStationContext::NoteArrival() {
  m_nLastArrival =
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - m_start).count();
}

double CStationContext::IdleSeconds() const {
  const double now = std::chrono::duration<double>(Clock::now() - m_start).count();
  return now - static_cast<double>(m_nLastArrival.load()) / 1000.0;
}

CSlotTurn CStationContext::Turn(const std::string& port, const CModuleSettings& read) {
  const std::string key = read.m_address->Text();
  return m_pLedger ? TurnWithLedger(port, key, read) : TurnWithoutLedger(port, key, read);
}

CSlotTurn CStationContext::TurnWithLedger(const std::string& port, const std::string& key,
                                          const CModuleSettings& read) {
  const CValuesMaker make = [this, &port, &read](long long number, CModuleSettings* values,
                                                 bool* named, std::string* why) {
    return MakeModuleValues(m_options.m_settings, m_pPlan, port, &read, number, values, named, why);
  };
  CLedgerTurn ledgerTurn;
  CLedgerError failure;
  CSlotTurn turn;
  if (!m_pLedger->Turn(key, read, make, &ledgerTurn, &failure)) {
    turn.m_strWhy = failure.m_strText;
    // Nothing is programmed once the ledger is gone: no number could be kept for it.
    if (m_pLedger->Lost()) Stop(EStop::LedgerLost);
    return turn;
  }
  turn.m_nNumber = ledgerTurn.m_nNumber;
  turn.m_bAgain = ledgerTurn.m_bAgain;
  if (ledgerTurn.m_skip == EOutcome::DiffersFromLedger && !ledgerTurn.m_bProgram) {
    turn.m_strWhy = DiffersText(ledgerTurn).substr(9);  // without "corvane: "
    turn.m_failure = EOutcome::DiffersFromLedger;
    return turn;
  }
  if (!ledgerTurn.m_bProgram) {
    turn.m_kind = CSlotTurn::EKind::Skip;
    turn.m_skip = ledgerTurn.m_skip;
    return turn;
  }
  turn.m_kind = CSlotTurn::EKind::Program;
  turn.m_values = ledgerTurn.m_values;
  return turn;
}

CSlotTurn CStationContext::TurnWithoutLedger(const std::string& port, const std::string& key,
                                             const CModuleSettings& read) {
  CSlotTurn turn;
  std::lock_guard<std::mutex> lock(m_mutex);
  if (m_programmed.count(key) > 0) {
    turn.m_kind = CSlotTurn::EKind::Skip;
    return turn;
  }
  bool named = false;
  switch (MakeModuleValues(m_options.m_settings, m_pPlan, port, &read, 0, &turn.m_values, &named,
                           &turn.m_strWhy)) {
    case EValues::Refused:
      return turn;
    case EValues::NotInPlan:
      turn.m_kind = CSlotTurn::EKind::Skip;
      turn.m_skip = EOutcome::NotInPlan;
      return turn;
    case EValues::Ok:
      break;
  }
  if (named) {
    // A name once given stays with its module, even if programming it failed.
    const auto given = m_names.emplace(turn.m_values.m_strName, key);
    if (given.first->second != key) {
      turn.m_strWhy = "the name \"" + Printable(turn.m_values.m_strName) + "\" was given to " +
                      given.first->second + " already";
      return turn;
    }
  }
  turn.m_kind = CSlotTurn::EKind::Program;
  return turn;
}

void CStationContext::Ended(const std::string& port, const CModuleReport& report, double seconds,
                            bool tried, bool again) {
  // A read that failed once the address had come is an attempt too: it has its row.
  const bool readFailed = report.m_address && !report.m_read;
  if ((tried || readFailed) && m_pLedger) {
    m_pLedger->Record(port, report, seconds, again);
    if (m_pLedger->Lost()) Stop(EStop::LedgerLost);
  }
  const EFate fate = report.m_outcome == EOutcome::Ok ? EFate::Ok
                     : Fine(report.m_outcome)         ? EFate::Skipped
                                                      : EFate::Failed;
  long long ok = 0;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (fate == EFate::Ok && !m_pLedger) m_programmed.insert(report.m_address->Text());
    if (report.m_address) {
      // A module left as it is was not attempted: its last attempt still stands.
      if (fate == EFate::Skipped) {
        m_fates.emplace(report.m_address->Text(), fate);
      } else {
        m_fates[report.m_address->Text()] = fate;
      }
      // The module put on in its place was there and was not programmed.
      if (report.m_otherAddress) m_fates.emplace(report.m_otherAddress->Text(), EFate::Failed);
    } else if (fate == EFate::Failed) {
      ++m_nNamelessFailures;
    }
    for (const auto& module : m_fates) ok += module.second == EFate::Ok ? 1 : 0;
  }
  if (fate == EFate::Ok && m_options.m_nCount > 0 && ok >= m_options.m_nCount) Stop(EStop::Count);
  m_events.OnCounts(Counts());
}

CRunCounts CStationContext::Counts() const {
  const double hours = std::chrono::duration<double>(Clock::now() - m_start).count() / 3600.0;
  std::lock_guard<std::mutex> lock(m_mutex);
  CRunCounts counts;
  counts.m_dHours = hours;
  counts.m_nFailed = m_nNamelessFailures;
  for (const auto& module : m_fates) {
    if (module.second == EFate::Ok) ++counts.m_nOk;
    if (module.second == EFate::Failed) ++counts.m_nFailed;
    if (module.second == EFate::Skipped) ++counts.m_nSkipped;
  }
  return counts;
}

long long CStationContext::Failed() const {
  return Counts().m_nFailed;
}
