// The CSV of plans and reports (RFC 4180): comma-separated fields, double quotes around a
// field that holds a comma, a quote or a line break, a quote inside doubled.
#pragma once

#include <string>
#include <vector>

// The fields of one line. False on a quote left open or text after a closing quote.
bool SplitCsvLine(const std::string& line, std::vector<std::string>* fields);
// One field as written. A cell that a spreadsheet would take for a formula (it begins with =,
// +, -, @, a tab or a CR: a module's name can) gets a leading apostrophe, so opening a report
// never runs what a module sent.
std::string CsvField(const std::string& text);
// The fields joined by commas, without the line end.
std::string CsvLine(const std::vector<std::string>& fields);
