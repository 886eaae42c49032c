#include "web/dashboard/Dashboard.h"

#include "engine/report/LedgerExport.h"
#include "ledger/LedgerQueries.h"
#include "web/dashboard/DashboardPages.h"
#include "web/dashboard/HourlyChart.h"
#include "web/dashboard/Html.h"

namespace {

constexpr long long kHourMs = 3600 * 1000;

void Line(CWebReply* reply, int status, const std::string& text) {
  reply->m_nStatus = status;
  reply->m_strType = "text/plain; charset=utf-8";
  reply->m_strBody = text + "\n";
  reply->m_strDownload.clear();
}

// The chart's hours: the span's last hour is the one holding until (or now).
struct CHours {
  long long m_nFirstMs = 0;
  long long m_nCount = 0;
  CLedgerSpan m_span;
};

CHours HoursOf(const CDashboardQuery& query) {
  long long until = 0;
  if (query.m_strUntil.empty() || !LedgerTimeMs(query.m_strUntil, &until))
    LedgerTimeMs(LedgerTimeNow(), &until);
  const long long end = (until / kHourMs + 1) * kHourMs;
  CHours hours;
  hours.m_nCount = query.m_nSpanHours;
  hours.m_nFirstMs = end - hours.m_nCount * kHourMs;
  hours.m_span = {LedgerTimeText(hours.m_nFirstMs), LedgerTimeText(end)};
  return hours;
}

bool DrawChart(CLedger& ledger, const CHours& hours, std::string* svg, CLedgerError* error) {
  std::vector<CLedgerHourCount> counts;
  if (!ledger.Queries().HourlyOk(hours.m_span, &counts, error)) return false;
  *svg = DrawHourlyChart(counts, hours.m_nFirstMs, hours.m_nCount);
  return true;
}

}  // namespace

bool CDashboard::Handle(const CWebRequest& request, CWebReply* reply) {
  const std::string& path = request.m_strPath;
  enum { Overview, Chart, Search, Module, Csv, Jsonl } page;
  if (path == "/ledger" || path == "/ledger/") {
    page = Overview;
  } else if (path == "/ledger/chart.svg") {
    page = Chart;
  } else if (path == "/ledger/search") {
    page = Search;
  } else if (path == "/ledger/module") {
    page = Module;
  } else if (path == "/ledger/export.csv") {
    page = Csv;
  } else if (path == "/ledger/export.jsonl") {
    page = Jsonl;
  } else {
    return false;
  }
  CDashboardQuery query;
  std::string refusal;
  if (!ReadDashboardQuery(request, &query, &refusal)) {
    Line(reply, 400, refusal);
    return true;
  }
  *reply = CWebReply();
  CLedgerError error;
  bool ok = false;
  switch (page) {
    case Overview:
      ok = this->Overview(query, reply, &error);
      break;
    case Chart:
      reply->m_strType = "image/svg+xml";
      ok = DrawChart(m_ledger, HoursOf(query), &reply->m_strBody, &error);
      break;
    case Search:
      ok = this->Search(query, reply, &error);
      break;
    case Module:
      ok = this->Module(query, reply, &error);
      break;
    case Csv:
      ok = Export(query, true, reply, &error);
      break;
    case Jsonl:
      ok = Export(query, false, reply, &error);
      break;
  }
  if (!ok) Line(reply, error.m_bUnavailable ? 503 : 400, error.m_strText);
  return true;
}

bool CDashboard::Overview(const CDashboardQuery& query, CWebReply* reply, CLedgerError* error) {
  // One span for the chart and the yield, though the hour may turn between their queries.
  const CHours hours = HoursOf(query);
  std::string chart;
  std::vector<CLedgerYield> yields;
  std::vector<CLedgerAttemptRow> rows;
  if (!DrawChart(m_ledger, hours, &chart, error) ||
      !m_ledger.Queries().YieldByStation(hours.m_span, &yields, error) ||
      !m_ledger.Queries().LatestAttempts(query.m_attempts, &rows, error))
    return false;
  const std::string body =
      SpanLinks(query) + "<section class=\"chart\"><h2>Modules ok per hour, " +
      HtmlText(hours.m_span.m_strSince.substr(0, 16)) + " to " +
      HtmlText(hours.m_span.m_strUntil.substr(0, 16)) + " UTC</h2>" + chart +
      "</section><section><h2>Yield per station</h2>" + YieldTable(yields) +
      "</section><section><h2>Latest attempts</h2>" + AttemptsSection(query, rows) +
      "<p class=\"downloads\">Export: <a href=\"" +
      Href("/ledger/export.csv",
           {{"station", query.m_attempts.m_strStation}, {"since", query.m_attempts.m_strSince}}) +
      "\" download>CSV</a> <a href=\"" +
      Href("/ledger/export.jsonl",
           {{"station", query.m_attempts.m_strStation}, {"since", query.m_attempts.m_strSince}}) +
      "\" download>JSON lines</a></p></section>";
  reply->m_strBody = Page("Ledger " + m_ledger.Location(), body);
  return true;
}

bool CDashboard::Search(const CDashboardQuery& query, CWebReply* reply, CLedgerError* error) {
  std::vector<CLedgerFound> found;
  if (!query.m_strSearch.empty() &&
      !m_ledger.Queries().Search(query.m_strSearch, 100, &found, error))
    return false;
  reply->m_strBody = Page("Search: " + query.m_strSearch,
                          query.m_strSearch.empty() ? "<p>Type an address, a name or a number.</p>"
                                                    : FoundTable(found));
  return true;
}

bool CDashboard::Module(const CDashboardQuery& query, CWebReply* reply, CLedgerError* error) {
  if (query.m_strAddress.empty()) {
    Line(reply, 400, "parameter address is required");
    return true;
  }
  bool found = false;
  CLedgerModule module;
  if (!m_ledger.FindByAddress(query.m_strAddress, &found, &module, error)) return false;
  std::vector<CLedgerAttempt> attempts;
  if (found) {
    attempts = module.m_attempts;
  } else {
    // An address tried and never bound: its attempts are all the ledger has of it.
    CLedgerFilter filter;
    filter.m_strAddress = query.m_strAddress;
    if (!m_ledger.Export(
            filter,
            [&attempts](const CLedgerAttempt& a) {
              if (attempts.size() < static_cast<size_t>(kLedgerQueryMaxRows)) attempts.push_back(a);
            },
            error))
      return false;
  }
  if (!found && attempts.empty()) reply->m_nStatus = 404;
  reply->m_strBody =
      Page("Module " + query.m_strAddress,
           !found && attempts.empty()
               ? "<p>The ledger holds no module with this address.</p>"
               : ModuleSection(query.m_strAddress, found ? &module : nullptr, attempts));
  return true;
}

bool CDashboard::Export(const CDashboardQuery& query, bool csv, CWebReply* reply,
                        CLedgerError* error) {
  CLedgerFilter filter;
  filter.m_strSince = query.m_attempts.m_strSince;
  filter.m_strStation = query.m_attempts.m_strStation;
  std::string body = csv ? LedgerExportCsvHeader() : std::string();
  if (!m_ledger.Export(
          filter,
          [&body, csv](const CLedgerAttempt& a) {
            body += csv ? LedgerExportCsvLine(a) : LedgerExportJsonLine(a);
          },
          error))
    return false;
  reply->m_strType = csv ? "text/csv; charset=utf-8" : "application/jsonl; charset=utf-8";
  reply->m_strDownload = csv ? "ledger.csv" : "ledger.jsonl";
  reply->m_strBody = std::move(body);
  return true;
}
