#include "cli/station/StationContext.h"

#include <cstdio>

#include "ledger/Ledger.h"

namespace {

bool Fine(EOutcome outcome) {
  return outcome == EOutcome::Ok || outcome == EOutcome::AlreadyProgrammed ||
         outcome == EOutcome::NotInLedger;
}

}  // namespace

CStationContext::CStationContext(const CStationOptions& options, CCliEnv& env, CStationBoard& board,
                                 CEventStream& events, CLedgerRun* ledger, const CPlan* plan)
    : m_options(options),
      m_env(env),
      m_board(board),
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
  const std::string key = LedgerAddress(read.m_strAddress);
  if (key.empty()) {
    CSlotTurn turn;
    turn.m_strWhy = "the module's own address \"" + Printable(read.m_strAddress) +
                    "\" is no address a station can keep";
    return turn;
  }
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
  if (tried && m_pLedger) {
    m_pLedger->Record(port, report, seconds, again);
    if (m_pLedger->Lost()) Stop(EStop::LedgerLost);
  }
  if (report.m_outcome == EOutcome::Ok) {
    if (!m_pLedger && report.m_read) {
      std::lock_guard<std::mutex> lock(m_mutex);
      m_programmed.insert(LedgerAddress(report.m_read->m_strAddress));
    }
    const long long ok = ++m_nOk;
    if (m_options.m_nCount > 0 && ok >= m_options.m_nCount) Stop(EStop::Count);
  } else if (Fine(report.m_outcome)) {
    ++m_nSkipped;
  } else {
    ++m_nFailed;
  }
  m_board.SetSummary(Summary());
}

void CStationContext::Post(const std::string& slot, const std::string& port, const char* event,
                           CJson fields) {
  CJson line = {{"time", LedgerTimeNow()}, {"slot", slot}, {"port", port}, {"event", event}};
  for (auto& field : fields.items()) line[field.key()] = field.value();
  m_events.Post(line);
}

std::string CStationContext::Summary() const {
  const double hours = std::chrono::duration<double>(Clock::now() - m_start).count() / 3600.0;
  std::string text =
      "ok " + std::to_string(m_nOk.load()) + "  failed " + std::to_string(m_nFailed.load());
  if (m_nSkipped.load() > 0) {
    text += "  already programmed " + std::to_string(m_nSkipped.load());
  }
  if (hours > 0) {
    char rate[32];
    std::snprintf(rate, sizeof rate, "%.0f", static_cast<double>(m_nOk.load()) / hours);
    text += "  " + std::string(rate) + " modules per hour";
  }
  return text;
}
