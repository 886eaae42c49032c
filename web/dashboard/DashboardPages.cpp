#include "web/dashboard/DashboardPages.h"

#include "web/dashboard/Html.h"

namespace {

std::string Cell(const std::string& text, const char* cls = nullptr) {
  return std::string(cls ? "<td class=\"" + std::string(cls) + "\">" : "<td>") + HtmlText(text) +
         "</td>";
}

std::string ResultCell(const std::string& result) {
  if (result.empty()) return "<td class=\"result never\">never tried</td>";
  return Cell(result, result == kLedgerResultOk ? "result ok" : "result failed");
}

std::string ModuleLink(const std::string& address, const std::string& text) {
  return "<a href=\"" + Href("/ledger/module", {{"address", address}}) + "\">" + HtmlText(text) +
         "</a>";
}

std::string AttemptRow(const CLedgerAttempt& a) {
  const std::string name = a.m_written.m_name.value_or(a.m_before.m_name.value_or(""));
  return "<tr>" + Cell(a.m_strTime, "time") + Cell(a.m_strStation, "station") + "<td>" +
         ModuleLink(a.m_strAddress, a.m_strAddress) + "</td>" +
         Cell(a.m_number ? std::to_string(*a.m_number) : "", "number") + Cell(name, "name") +
         ResultCell(a.m_strResult) + Cell(std::to_string(a.m_nDurationMs), "number") +
         Cell(a.m_strMessage, "message") + "</tr>";
}

const char* const kAttemptHead =
    "<tr><th>Time (UTC)</th><th>Station</th><th>Address</th><th>Number</th><th>Name</th>"
    "<th>Result</th><th>ms</th><th>Message</th></tr>";

std::string Option(const std::string& value, const std::string& label, const std::string& now) {
  return "<option value=\"" + HtmlText(value) + "\"" + (value == now ? " selected" : "") + ">" +
         HtmlText(label) + "</option>";
}

}  // namespace

std::string Href(const std::string& path, const CLinkParams& params) {
  std::string href = path;
  char separator = '?';
  for (const auto& p : params) {
    if (p.second.empty()) continue;
    href += separator + UrlPart(p.first) + "=" + UrlPart(p.second);
    separator = '&';
  }
  return HtmlText(href);
}

std::string Page(const std::string& title, const std::string& body) {
  return "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
         "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"
         "<title>" +
         HtmlText(title) +
         "</title><link rel=\"stylesheet\" href=\"/assets/ledger-dashboard.css\">"
         "<script src=\"/assets/ledger-dashboard.js\" defer></script></head><body>"
         "<header><a class=\"home\" href=\"/ledger/\">Ledger</a>"
         "<form class=\"search\" method=\"get\" action=\"/ledger/search\">"
         "<input type=\"search\" name=\"q\" maxlength=\"64\" "
         "placeholder=\"Address, name or number\" aria-label=\"Search\">"
         "<button type=\"submit\">Search</button></form></header><main><h1>" +
         HtmlText(title) + "</h1>" + body + "</main></body></html>\n";
}

std::string SpanLinks(const CDashboardQuery& query) {
  std::string html = "<nav class=\"spans\">";
  for (const char* span : {"24h", "7d", "30d"}) {
    html += std::string("<a href=\"") +
            Href("/ledger/", {{"span", span}, {"until", query.m_strUntil}}) + "\"" +
            (query.m_strSpan == span ? " class=\"current\"" : "") + ">" + span + "</a>";
  }
  return html + "</nav>";
}

std::string YieldTable(const std::vector<CLedgerYield>& yields) {
  std::string html =
      "<table class=\"yield\"><tr><th>Station</th><th>Ok</th><th>Failed</th><th>Yield</th>"
      "<th>Attempts</th></tr>";
  if (yields.empty()) html += "<tr><td colspan=\"5\">No attempts in this span.</td></tr>";
  for (const auto& y : yields) {
    const long long tried = y.m_nOk + y.m_nFailed;
    const std::string percent = tried ? std::to_string((y.m_nOk * 1000 / tried) / 10) + "." +
                                            std::to_string((y.m_nOk * 1000 / tried) % 10) + " %"
                                      : "";
    html += "<tr data-station=\"" + HtmlText(y.m_strStation) + "\">" + Cell(y.m_strStation) +
            Cell(std::to_string(y.m_nOk), "ok number") +
            Cell(std::to_string(y.m_nFailed), y.m_nFailed ? "failed number" : "number") +
            Cell(percent, "number") + Cell(std::to_string(y.m_nAttempts), "number") + "</tr>";
  }
  return html + "</table>";
}

std::string AttemptsSection(const CDashboardQuery& query,
                            const std::vector<CLedgerAttemptRow>& rows) {
  const CLedgerAttemptQuery& q = query.m_attempts;
  std::string html =
      "<form class=\"filters\" method=\"get\" action=\"/ledger/\">"
      "<input type=\"hidden\" name=\"span\" value=\"" +
      HtmlText(query.m_strSpan) +
      "\"><label>Station <input name=\"station\" maxlength=\"64\" value=\"" +
      HtmlText(q.m_strStation) + "\"></label><label>Result <select name=\"result\">" +
      Option("", "any", q.m_strResult) + Option("ok", "ok", q.m_strResult) +
      Option("failed", "failed", q.m_strResult) + "</select></label>" +
      "<label>Since <input name=\"since\" maxlength=\"32\" placeholder=\"2025-05-20T10:00\" "
      "value=\"" +
      HtmlText(q.m_strSince) + "\"></label><button type=\"submit\">Filter</button></form>";
  html += "<table class=\"attempts\">" + std::string(kAttemptHead);
  if (rows.empty()) html += "<tr><td colspan=\"8\">No attempts.</td></tr>";
  for (const auto& row : rows) html += AttemptRow(row.m_attempt);
  html += "</table>";
  if (!rows.empty() && static_cast<int>(rows.size()) >= q.m_nLimit) {
    html += "<p><a class=\"older\" href=\"" +
            Href("/ledger/", {{"span", query.m_strSpan},
                              {"until", query.m_strUntil},
                              {"station", q.m_strStation},
                              {"result", q.m_strResult},
                              {"since", q.m_strSince},
                              {"before", std::to_string(rows.back().m_nId)}}) +
            "\">Older attempts</a></p>";
  }
  return html;
}

std::string FoundTable(const std::vector<CLedgerFound>& found) {
  std::string html =
      "<table class=\"found\"><tr><th>Number</th><th>Address</th><th>Name</th>"
      "<th>Last result</th><th>Last attempt</th></tr>";
  if (found.empty()) html += "<tr><td colspan=\"5\">No module found.</td></tr>";
  for (const auto& f : found) {
    html += "<tr>" + Cell(f.m_nNumber >= 0 ? std::to_string(f.m_nNumber) : "", "number") + "<td>" +
            ModuleLink(f.m_strAddress, f.m_strAddress) + "</td>" + Cell(f.m_strName, "name") +
            ResultCell(f.m_strLastResult) + Cell(f.m_strLastTime, "time") + "</tr>";
  }
  return html + "</table>";
}

std::string ModuleSection(const std::string& address, const CLedgerModule* module,
                          const std::vector<CLedgerAttempt>& attempts) {
  std::string html =
      "<dl class=\"module\"><dt>Address</dt><dd class=\"address\">" + HtmlText(address) + "</dd>";
  if (module) {
    const CLedgerValues& v = module->m_values;
    html += "<dt>Number</dt><dd class=\"number\">" + std::to_string(module->m_nNumber) + "</dd>" +
            "<dt>Name</dt><dd class=\"name\">" + HtmlText(v.m_name.value_or("")) + "</dd>" +
            "<dt>Role</dt><dd>" + HtmlText(v.m_role.value_or("")) + "</dd>" + "<dt>Peer</dt><dd>" +
            HtmlText(v.m_peer.value_or("")) + "</dd>" + "<dt>Bound</dt><dd>" +
            HtmlText(module->m_strBoundAt) + " by " + HtmlText(module->m_strBoundBy) + "</dd>";
  } else {
    html += "<dt>Number</dt><dd>not bound</dd>";
  }
  html += "</dl><h2>Attempts</h2><table class=\"attempts\">" + std::string(kAttemptHead);
  for (const auto& a : attempts) html += AttemptRow(a);
  return html + "</table>";
}
