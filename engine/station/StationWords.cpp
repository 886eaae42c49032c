#include "engine/station/StationWords.h"

#include <cstdio>

#include "engine/report/Output.h"
#include "engine/values/Settings.h"

const char* SlotStateText(ESlotState state) {
  switch (state) {
    case ESlotState::Waiting:
      return "waiting";
    case ESlotState::NoPort:
      return "no port";
    case ESlotState::Busy:
      return "busy: another program holds it";
    case ESlotState::Denied:
      return "no permission to open it";
    case ESlotState::NoThread:
      return "no thread could be started for this slot";
    default:
      return "";
  }
}

std::string StationSummary(const CRunCounts& counts) {
  std::string text =
      "ok " + std::to_string(counts.m_nOk) + "  failed " + std::to_string(counts.m_nFailed);
  if (counts.m_nSkipped > 0) text += "  already programmed " + std::to_string(counts.m_nSkipped);
  if (counts.m_dHours > 0) {
    char rate[32];
    std::snprintf(rate, sizeof rate, "%.0f", static_cast<double>(counts.m_nOk) / counts.m_dHours);
    text += "  " + std::string(rate) + " modules per hour";
  }
  return text;
}

std::string FailureText(const CModuleReport& report) {
  std::string why = report.m_strMessage;
  if (why.compare(0, 9, "corvane: ") == 0) why.erase(0, 9);
  if (report.m_outcome == EOutcome::VerifyDiffers) why = JoinSettings(report.m_differs);
  return std::string(OutcomeText(report.m_outcome)) +
         (why.empty() ? "" : ": " + Printable(OneLine(why)));
}

std::string KnownName(const CModuleReport& report) {
  const CSettingChanges known = KnownSettings(report);
  return known.m_name ? *known.m_name : std::string();
}

std::string AttemptResult(const CAttemptEnded& ended) {
  const CModuleReport& report = ended.m_report;
  if (report.m_outcome == EOutcome::Ok) {
    const CSettingChanges known = KnownSettings(report);
    return "OK " + (known.m_name ? Printable(*known.m_name) : std::string());
  }
  if (report.m_outcome == EOutcome::AlreadyProgrammed) return OutcomeText(report.m_outcome);
  std::string result = "FAILED " + FailureText(report);
  if (ended.m_bTried) result += " (acknowledged: " + JoinSettings(ConfirmedSettings(report)) + ")";
  return result;
}
