#include "engine/events/EventStream.h"

#include "ledger/Ledger.h"

namespace {

CWriterThread::COptions Options(CWriterThread::CStarter start) {
  CWriterThread::COptions options;
  options.m_nBound = CEventStream::kBound;
  options.m_full = CWriterThread::EFull::Lose;
  options.m_fnStart = std::move(start);
  return options;
}

}  // namespace

CEventStream::CEventStream(CWriter write, CWriterThread::CStarter start)
    : m_writer(std::move(write), Options(std::move(start))) {}

void CEventStream::Post(const CEventPlace& at, const char* event, CJson fields) {
  CJson line = {
      {"time", LedgerTimeNow()}, {"slot", at.m_strLabel}, {"port", at.m_strPort}, {"event", event}};
  for (auto& field : fields.items()) line[field.key()] = field.value();
  m_writer.Post(DumpJson(line) + "\n");
}

void CEventStream::OnArrived(const CModuleArrived& event) {
  Post(event.m_at, "arrived", CJson::object());
}

void CEventStream::OnProgrammingStarted(const CProgrammingStarted& event) {
  const std::string address = event.m_at.m_address ? event.m_at.m_address->Text() : "";
  CJson values = SettingsJson(event.m_at.m_strPort, address, CSettingChanges::Of(event.m_values));
  values.erase("port");
  values.erase("address");
  CJson started = {{"address", address}, {"values", values}};
  if (event.m_number) started["number"] = *event.m_number;
  Post(event.m_at, "started", started);
}

void CEventStream::OnAttemptEnded(const CAttemptEnded& event) {
  const CModuleReport& report = event.m_report;
  CJson fields = ReportJson(event.m_at.m_strPort, report, event.m_bTried, event.m_bVerify);
  fields.erase("port");
  if (report.m_ledgerNumber) fields["number"] = *report.m_ledgerNumber;
  fields["seconds"] = static_cast<double>(static_cast<long long>(event.m_dSeconds * 10 + 0.5)) / 10;
  const bool ok =
      report.m_outcome == EOutcome::Ok || report.m_outcome == EOutcome::AlreadyProgrammed;
  Post(event.m_at, ok ? "ok" : "failed", fields);
}

void CEventStream::OnRemoved(const CModuleRemoved& event) {
  CJson fields = CJson::object();
  if (event.m_at.m_address) fields["address"] = event.m_at.m_address->Text();
  Post(event.m_at, "removed", fields);
}

bool CEventStream::Lost() const {
  return m_writer.Lost() != CWriterThread::ELost::No;
}

std::string CEventStream::LostText() const {
  switch (m_writer.Lost()) {
    case CWriterThread::ELost::Behind:
      return "their reader fell " + std::to_string(kBound) + " events behind";
    case CWriterThread::ELost::OutputGone:
      return "the output would take no more";
    case CWriterThread::ELost::NoThread:
      return "no thread could be started to write them";
    case CWriterThread::ELost::Stalled:
      return "their reader did not take them in time";
    case CWriterThread::ELost::No:
      break;
  }
  return std::string();
}
