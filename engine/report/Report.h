// The report of a gang run: one row per port, shown as a table on stdout, as JSON, and written
// to a CSV or JSON-lines file.
#pragma once

#include <mutex>
#include <ostream>
#include <string>
#include <vector>

#include "platform/AtomicFile.h"
#include "engine/session/ModuleSession.h"
#include "engine/report/Output.h"

// One port's cells, in the order of ReportColumns().
using CReportRow = std::vector<std::string>;

const std::vector<std::string>& ReportColumns();
// The port as the report names it, what was read (old_...), what the module acknowledged
// (new_...), the result, the seconds spent on it and, with a ledger, the module's number.
CReportRow MakeReportRow(const std::string& port, const CModuleReport& report, double seconds);
CJson RowJson(const CReportRow& row);
// The rows under their column names, aligned, every cell made printable.
void PrintTable(std::ostream& out, const std::vector<CReportRow>& rows);
// One module of a gang dry run: its port, address and number where known, and the change it
// would get old -> new per setting (target null: it would be left alone, as result says).
CJson DryRunJson(const std::string& port, const CModuleReport& report,
                 const CModuleSettings* target);
void PrintDryRun(std::ostream& out, const std::string& port, const CModuleReport& report,
                 const CModuleSettings* target);
// Empty when path names a report file (FILE.csv or FILE.jsonl), else the rule.
std::string CheckReportPath(const std::string& path);

// The report file. Open comes before any port is opened, so a report that cannot be written
// refuses the run. Each row is appended to a journal beside the file as its module ends, so a
// run that is killed leaves its finished rows there. Finish writes every row in port order to
// a file of its own and puts it in place; the journal is removed only once that has worked.
//
// Contract: Append may be called from any worker thread; it blocks on the disk only.
class CReportFile {
 public:
  bool Open(const std::string& path, std::string* error);
  bool IsOpen() const { return m_journal.IsOpen(); }
  void Append(const CReportRow& row);
  bool Finish(const std::vector<CReportRow>& rows, std::string* error);
  // Where the finished rows are until Finish has put the report in place.
  const std::string& JournalPath() const { return m_strJournal; }

 private:
  std::string Header() const;
  std::string Line(const CReportRow& row) const;

  std::mutex m_mutex;
  std::string m_strPath;
  std::string m_strJournal;
  CAtomicFile m_journal;
  bool m_bJsonLines = false;
};
