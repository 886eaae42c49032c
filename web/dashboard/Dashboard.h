// CDashboard: the ledger's dashboard, pages rendered here from the ledger's read-only queries.
//
// Routes (all GET, all under /ledger/):
//   /ledger/              the chart of modules per hour and station over a span (span=24h, 7d,
//                         ..., until=TIME), the yield per station over it, the latest attempts
//                         (station=, result=ok|failed|WORD, since=TIME, before=ID, limit=N)
//   /ledger/chart.svg     the chart alone (span=, until=)
//   /ledger/search        modules by address, name or number (q=)
//   /ledger/module        one module and all its attempts (address=)
//   /ledger/export.csv    the export, as `corvane ledger export` writes it (station=, since=)
//   /ledger/export.jsonl
//
// Contract: Handle is called from the server's threads, any number at once (the ledger takes
// its own lock); it never writes to the ledger. Any other path is not its own (false). A
// parameter too long or malformed gets 400 and one line; a ledger that fails gets 503 and its
// one line. Every text from the ledger is escaped (HtmlText); pages carry no inline script or
// style (their CSS and script are /assets/ledger-dashboard.css and .js).
#pragma once

#include "ledger/Ledger.h"
#include "web/WebReply.h"
#include "web/dashboard/DashboardQuery.h"

class CDashboard {
 public:
  explicit CDashboard(CLedger& ledger) : m_ledger(ledger) {}

  bool Handle(const CWebRequest& request, CWebReply* reply);

 private:
  bool Overview(const CDashboardQuery& query, CWebReply* reply, CLedgerError* error);
  bool Search(const CDashboardQuery& query, CWebReply* reply, CLedgerError* error);
  bool Module(const CDashboardQuery& query, CWebReply* reply, CLedgerError* error);
  bool Export(const CDashboardQuery& query, bool csv, CWebReply* reply, CLedgerError* error);

  CLedger& m_ledger;
};
