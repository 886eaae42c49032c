// The chart of modules ok per hour and station, drawn here as SVG: one stacked bar an hour, one
// colour a station, a scale of round numbers, and the counts in the markup (data-hour,
// data-total, data-count and a title on each bar) so a reader or a test can take them from it.
//
// Contract: pure; every text from the ledger is escaped; hours outside [first, first + hours)
// are left out. The same markup serves as a file (chart.svg) and inside a page.
#pragma once

#include <string>
#include <vector>

#include "ledger/LedgerQueries.h"

// firstHourMs: the first bar's hour (ms since 1970, on the hour); hours: how many bars.
std::string DrawHourlyChart(const std::vector<CLedgerHourCount>& counts, long long firstHourMs,
                            long long hours);
