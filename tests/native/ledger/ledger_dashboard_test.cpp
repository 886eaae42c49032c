// The ledger's dashboard without a server: requests in, replies out, on an SQLite ledger with
// known rows. Escaping, refused parameters, the chart's counts, search, a module's page and
// the downloads.
#include <regex>

#include "engine/report/LedgerExport.h"
#include "ledger/LedgerRig.h"
#include "web/dashboard/Dashboard.h"
#include "web/dashboard/Html.h"

namespace {

const char* const kHostile = "<img src=x onerror=alert(1)>";

class LedgerDashboard : public testing::Test {
 protected:
  // Two modules at A in the hour of 10:00, one (named kHostile) at B at 11:00 after a failure.
  void SetUp() override {
    CLedgerError error;
    m_pLedger = OpenLedger(m_backend.NewLocation(), "A", &error);
    ASSERT_TRUE(m_pLedger) << error.m_strText;
    const struct {
      int n;
      const char* name;
      const char* time;
      const char* station;
      const char* result;
    } kRows[] = {{1, "MOD-1", "2025-05-20T10:05:00.000Z", "A", "ok"},
                 {2, "MOD-2", "2025-05-20T10:35:00.000Z", "A", "ok"},
                 {3, kHostile, "2025-05-20T11:01:00.000Z", "B", "timeout"},
                 {3, kHostile, "2025-05-20T11:02:00.000Z", "B", "ok"}};
    for (const auto& row : kRows) {
      CLedgerModule module;
      bool bound = false;
      const std::string name = row.name;
      ASSERT_TRUE(m_pLedger->Bind(
          Address(row.n),
          [name](long long, CLedgerValues* v, std::string*) { return v->m_name = name, true; },
          &module, &bound, &error));
      CLedgerAttempt attempt;
      attempt.m_strTime = row.time;
      attempt.m_strStation = row.station;
      attempt.m_strAddress = Address(row.n);
      attempt.m_written.m_name = name;
      attempt.m_strResult = row.result;
      attempt.m_strMessage = std::string("said ") + kHostile;
      ASSERT_TRUE(m_pLedger->RecordAttempt(attempt, &error)) << error.m_strText;
    }
  }
  CWebReply Get(const std::string& path, std::map<std::string, std::string> query = {}) {
    CDashboard dashboard(*m_pLedger);
    CWebReply reply;
    EXPECT_TRUE(dashboard.Handle({path, std::move(query)}, &reply)) << path;
    return reply;
  }

  CSqliteBackend m_backend;
  std::unique_ptr<CLedger> m_pLedger;
};

// Text from the ledger never becomes markup: no tag, attribute or script of its own.
void ExpectNoMarkupFrom(const std::string& html) {
  EXPECT_EQ(html.find("<img"), std::string::npos);
  EXPECT_NE(html.find("&lt;img src=x onerror=alert(1)&gt;"), std::string::npos);
  EXPECT_EQ(html.find(" style="), std::string::npos);
  EXPECT_EQ(std::regex_search(html, std::regex("<script>|<style")), false);
}

}  // namespace

TEST(DashboardHtml, EscapesEveryHostileText) {
  const struct {
    std::string in, out;
  } kCases[] = {{kHostile, "&lt;img src=x onerror=alert(1)&gt;"},
                {"\"><script>alert(1)</script>", "&quot;&gt;&lt;script&gt;alert(1)&lt;/script&gt;"},
                {"' onmouseover='x", "&#39; onmouseover=&#39;x"},
                {"a&amp;b", "a&amp;amp;b"},
                {std::string("nul\0bell\x07", 9),
                 "nul\xEF\xBF\xBD"
                 "bell\xEF\xBF\xBD"},
                {"Modul \xC3\xA9t\xC3\xA9", "Modul \xC3\xA9t\xC3\xA9"},
                {"]]><!--", "]]&gt;&lt;!--"}};
  for (const auto& c : kCases) EXPECT_EQ(HtmlText(c.in), c.out) << c.in;
  EXPECT_EQ(UrlPart("a b&c=d/é"), "a%20b%26c%3Dd%2F%C3%A9");
}

TEST_F(LedgerDashboard, RefusesOverLongOrMalformedParametersWithOneLine) {
  const struct {
    const char* path;
    const char* name;
    std::string value;
  } kCases[] = {{"/ledger/", "span", "25x"},
                {"/ledger/", "span", "91d"},
                {"/ledger/chart.svg", "span", "0h"},
                {"/ledger/", "until", "2025-13-01"},
                {"/ledger/", "since", "yesterday"},
                {"/ledger/", "before", "-1"},
                {"/ledger/", "limit", "501"},
                {"/ledger/search", "q", std::string(65, 'a')},
                {"/ledger/", "station", "a\nb"},
                {"/ledger/module", "address", ""},
                {"/ledger/export.csv", "since", "2025-05-20T25:00"}};
  for (const auto& c : kCases) {
    const CWebReply reply = Get(c.path, {{c.name, c.value}});
    EXPECT_EQ(reply.m_nStatus, 400) << c.name << "=" << c.value;
    EXPECT_EQ(std::count(reply.m_strBody.begin(), reply.m_strBody.end(), '\n'), 1)
        << reply.m_strBody;
  }
  CDashboard dashboard(*m_pLedger);
  CWebReply reply;
  for (const char* path : {"/ledger/../etc/passwd", "/ledger/assets", "/", "/ledgerx"})
    EXPECT_FALSE(dashboard.Handle({path, {}}, &reply)) << path;
}

TEST_F(LedgerDashboard, OverviewChartsModulesPerHourAndTheYield) {
  const CWebReply reply = Get("/ledger/", {{"span", "6h"}, {"until", "2025-05-20T12:30"}});
  EXPECT_EQ(reply.m_nStatus, 200);
  const std::string& html = reply.m_strBody;
  EXPECT_NE(html.find("data-hour=\"2025-05-20T10\" data-total=\"2\""), std::string::npos);
  EXPECT_NE(html.find("data-hour=\"2025-05-20T11\" data-total=\"1\""), std::string::npos);
  EXPECT_NE(html.find("<tr data-station=\"B\"><td>B</td><td class=\"ok number\">1</td>"
                      "<td class=\"number\">0</td>"),
            std::string::npos);
  ExpectNoMarkupFrom(html);
  // An hour outside the span is not drawn.
  const CWebReply svg = Get("/ledger/chart.svg", {{"span", "1h"}, {"until", "2025-05-20T11:59"}});
  EXPECT_EQ(svg.m_strType, "image/svg+xml");
  EXPECT_EQ(svg.m_strBody.find("T10\""), std::string::npos);
  EXPECT_NE(svg.m_strBody.find("data-total=\"1\""), std::string::npos);
}

TEST_F(LedgerDashboard, SearchFindsAModuleWhosePageListsEveryAttempt) {
  const CWebReply found = Get("/ledger/search", {{"q", "onerror"}});
  EXPECT_NE(found.m_strBody.find("/ledger/module?address=000000000003"), std::string::npos);
  ExpectNoMarkupFrom(found.m_strBody);
  const CWebReply page = Get("/ledger/module", {{"address", "000000000003"}});
  EXPECT_EQ(page.m_nStatus, 200);
  EXPECT_NE(page.m_strBody.find("timeout"), std::string::npos);
  EXPECT_NE(page.m_strBody.find("2025-05-20T11:02:00.000Z"), std::string::npos);
  ExpectNoMarkupFrom(page.m_strBody);
  EXPECT_EQ(Get("/ledger/module", {{"address", "FFFFFFFFFFFF"}}).m_nStatus, 404);
}

TEST_F(LedgerDashboard, DownloadsAreTheExportsFormats) {
  const CWebReply csv = Get("/ledger/export.csv", {{"station", "B"}});
  EXPECT_EQ(csv.m_strDownload, "ledger.csv");
  EXPECT_EQ(csv.m_strBody.rfind(LedgerExportCsvHeader(), 0), 0u);
  EXPECT_EQ(std::count(csv.m_strBody.begin(), csv.m_strBody.end(), '\n'), 3);
  const CWebReply jsonl = Get("/ledger/export.jsonl");
  EXPECT_EQ(jsonl.m_strDownload, "ledger.jsonl");
  EXPECT_EQ(std::count(jsonl.m_strBody.begin(), jsonl.m_strBody.end(), '\n'), 4);
  EXPECT_EQ(jsonl.m_strBody.rfind("{\"time\":\"2025-05-20T10:05:00.000Z\"", 0), 0u);
}
