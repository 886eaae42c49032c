// The dashboard's pages as HTML, from what the ledger answered: pure functions, every text from
// the ledger escaped, no inline script or style (classes only; /assets/ledger-dashboard.css).
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "ledger/LedgerQueries.h"
#include "web/dashboard/DashboardQuery.h"

using CLinkParams = std::vector<std::pair<std::string, std::string>>;

// path with the non-empty params as its query, escaped for an attribute.
std::string Href(const std::string& path, const CLinkParams& params);
// A whole page: head (title, the dashboard's CSS and script), a header with the search box,
// and body.
std::string Page(const std::string& title, const std::string& body);
// The span's links (24h, 7d, 30d), the chart is put in by the caller.
std::string SpanLinks(const CDashboardQuery& query);
std::string YieldTable(const std::vector<CLedgerYield>& yields);
// The filters' form and the attempts under it, with a link to the older ones when the page is
// full.
std::string AttemptsSection(const CDashboardQuery& query,
                            const std::vector<CLedgerAttemptRow>& rows);
std::string FoundTable(const std::vector<CLedgerFound>& found);
// A module: its binding (when bound; values but never its PIN) and its attempts, oldest first.
std::string ModuleSection(const std::string& address, const CLedgerModule* module,
                          const std::vector<CLedgerAttempt>& attempts);
