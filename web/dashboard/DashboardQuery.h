// The dashboard's parameters, read once from a request into typed values, each bounded: a
// value too long or not of its form is refused with one line (the page answers 400), so no
// query of any size or shape reaches the ledger.
#pragma once

#include <string>

#include "ledger/LedgerQueries.h"
#include "web/WebReply.h"

// The longest span a chart covers: 90 days of hourly bars.
constexpr long long kDashboardMaxSpanHours = 90 * 24;

struct CDashboardQuery {
  std::string m_strSpan = "24h";  // as given ("24h", "7d"), for the page's links
  long long m_nSpanHours = 24;
  std::string m_strUntil;  // the span's end in the ledger's form; empty: now
  // The latest attempts' filters (station, result, since, paging).
  CLedgerAttemptQuery m_attempts;
  std::string m_strSearch;   // q
  std::string m_strAddress;  // a module's page
};

// Every parameter the request gives, checked; unknown ones are ignored. False with one line in
// *error naming the parameter.
bool ReadDashboardQuery(const CWebRequest& request, CDashboardQuery* query, std::string* error);
