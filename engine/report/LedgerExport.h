// The ledger's attempts as the export writes them, one format for every front end (`corvane
// ledger export` on stdout, the dashboard's downloads): CSV with a header line (CRLF line ends,
// cells made safe for a spreadsheet by CsvField), or one JSON object a line.
#pragma once

#include <string>
#include <vector>

#include "engine/report/Output.h"
#include "ledger/Ledger.h"

// The export's columns, in order; the JSON objects' keys are the same names.
const std::vector<std::string>& LedgerExportColumns();
// The CSV's header line and one attempt's line, each with its "\r\n".
std::string LedgerExportCsvHeader();
std::string LedgerExportCsvLine(const CLedgerAttempt& attempt);
// One attempt as a JSON object (absent values null, numbers and flags typed), and as its line.
CJson LedgerAttemptJson(const CLedgerAttempt& attempt);
std::string LedgerExportJsonLine(const CLedgerAttempt& attempt);
