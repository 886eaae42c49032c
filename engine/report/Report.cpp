#include "engine/report/Report.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "engine/values/Csv.h"

namespace {

bool EndsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() &&
         text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// Acknowledged by this module for certain: a setting either of two swapped modules may have
// taken is not.
bool Acked(const CModuleReport& report, ESetting setting) {
  return ConfirmedSettings(report).Has(setting);
}

constexpr size_t kPaceColumn = 11;
constexpr size_t kFellBackColumn = 12;

}  // namespace

const std::vector<std::string>& ReportColumns() {
  static const std::vector<std::string> kColumns = {
      "port",     "address",  "old_name", "old_pin", "old_role",  "old_peer", "new_name", "new_pin",
      "new_role", "new_peer", "result",   "pace",    "fell_back", "seconds",  "number"};
  return kColumns;
}

CReportRow MakeReportRow(const std::string& port, const CModuleReport& report, double seconds) {
  CReportRow row(ReportColumns().size());
  row[0] = port;
  row[1] = KnownAddress(report);
  if (report.m_read) {
    const CModuleSettings& old = *report.m_read;
    row[2] = old.m_strName;
    row[3] = old.m_strPin;
    row[4] = old.m_bMaster ? "master" : "slave";
    row[5] = FormatAddress(old.m_peer);
  }
  if (report.m_written) {
    const CModuleSettings& now = *report.m_written;
    // Only what the module acknowledged counts as written.
    if (Acked(report, ESetting::Name)) row[6] = now.m_strName;
    if (Acked(report, ESetting::Pin)) row[7] = now.m_strPin;
    if (Acked(report, ESetting::Role)) row[8] = now.m_bMaster ? "master" : "slave";
    if (Acked(report, ESetting::Peer)) row[9] = FormatAddress(now.m_peer);
  }
  row[10] = OutcomeText(report.m_outcome);
  row[11] = PaceText(report.m_pace);
  row[12] = report.m_bFellBack ? "true" : "false";
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", seconds);
  row[13] = text;
  if (report.m_ledgerNumber) row[14] = std::to_string(*report.m_ledgerNumber);
  return row;
}

CJson RowJson(const CReportRow& row) {
  CJson json;
  for (size_t k = 0; k < row.size(); ++k) json[ReportColumns()[k]] = row[k];
  json["fell_back"] = row[12] == "true";
  json["seconds"] = std::stod(row[13]);
  // A number only with a ledger; null without one.
  json["number"] = row[14].empty() ? CJson() : CJson(std::stoll(row[14]));
  return json;
}

void PrintTable(std::ostream& out, const std::vector<CReportRow>& rows) {
  // A person reads the fall-back beside the pace ("fast, fell back"), not as a column of its own.
  CReportRow header = ReportColumns();
  header.erase(header.begin() + kFellBackColumn);
  std::vector<size_t> widths;
  for (const std::string& column : header) widths.push_back(column.size());
  std::vector<CReportRow> shown;
  for (CReportRow row : rows) {
    if (row[kFellBackColumn] == "true") row[kPaceColumn] += ", fell back";
    row.erase(row.begin() + kFellBackColumn);
    shown.emplace_back();
    for (size_t k = 0; k < row.size(); ++k) {
      shown.back().push_back(Printable(row[k]));
      widths[k] = std::max(widths[k], shown.back().back().size());
    }
  }
  auto line = [&](const CReportRow& cells) {
    std::string text;
    for (size_t k = 0; k < cells.size(); ++k) {
      text += cells[k];
      if (k + 1 < cells.size()) text.append(widths[k] - cells[k].size() + 2, ' ');
    }
    out << text << "\n";
  };
  line(header);
  for (const CReportRow& cells : shown) line(cells);
}

CJson DryRunJson(const std::string& port, const CModuleReport& report,
                 const CModuleSettings* target) {
  CJson json = {{"port", port}};
  json["address"] = report.m_address ? CJson(report.m_address->Text()) : CJson();
  if (report.m_ledgerNumber) json["number"] = *report.m_ledgerNumber;
  if (target != nullptr) json["changes"] = ChangesJson(*report.m_read, *target);
  json["result"] = target != nullptr ? "dry run" : OutcomeText(report.m_outcome);
  return json;
}

void PrintDryRun(std::ostream& out, const std::string& port, const CModuleReport& report,
                 const CModuleSettings* target) {
  out << Printable(port);
  if (report.m_address) out << " (" << report.m_address->Text() << ")";
  if (report.m_ledgerNumber) out << ", number " << *report.m_ledgerNumber;
  out << ": " << (target != nullptr ? "dry run" : OutcomeText(report.m_outcome)) << "\n";
  if (target != nullptr) PrintChanges(out, *report.m_read, *target, "  ");
}

std::string CheckReportPath(const std::string& path) {
  if (EndsWith(path, ".csv") || EndsWith(path, ".jsonl")) return std::string();
  return "the report file ends in .csv or .jsonl";
}

bool CReportFile::Open(const std::string& path, std::string* error) {
  m_bJsonLines = EndsWith(path, ".jsonl");
  m_strPath = path;
  if (!m_journal.Open(path, error)) return false;
  m_strJournal = m_journal.TemporaryPath();
  if (m_journal.Append(Header())) return true;
  *error = "cannot write to " + m_strJournal;
  return false;
}

std::string CReportFile::Header() const {
  return m_bJsonLines ? std::string() : CsvLine(ReportColumns()) + "\r\n";
}

std::string CReportFile::Line(const CReportRow& row) const {
  return m_bJsonLines ? DumpJson(RowJson(row)) + "\n" : CsvLine(row) + "\r\n";
}

void CReportFile::Append(const CReportRow& row) {
  std::lock_guard<std::mutex> lock(m_mutex);
  // A failed write shows at Finish, which writes everything again.
  m_journal.Append(Line(row));
}

bool CReportFile::Finish(const std::vector<CReportRow>& rows, std::string* error) {
  std::lock_guard<std::mutex> lock(m_mutex);
  std::string text = Header();
  for (const CReportRow& row : rows) text += Line(row);
  CAtomicFile report;
  if (report.Open(m_strPath, error) && report.Append(text) && report.Commit(error)) return true;
  if (error->empty()) *error = "the disk refused the write";
  m_journal.Keep();
  return false;
}
