#include "web/dashboard/DashboardQuery.h"

#include <algorithm>
#include <cctype>

namespace {

bool Digits(const std::string& text, size_t most) {
  return !text.empty() && text.size() <= most && std::all_of(text.begin(), text.end(), [](char c) {
    return std::isdigit(static_cast<unsigned char>(c)) != 0;
  });
}

bool Printable(const std::string& text) {
  return std::none_of(text.begin(), text.end(),
                      [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; });
}

// "24h" or "7d", within kDashboardMaxSpanHours.
bool SpanHours(const std::string& text, long long* hours) {
  if (text.size() < 2 || !Digits(text.substr(0, text.size() - 1), 4)) return false;
  const long long count = std::stoll(text.substr(0, text.size() - 1));
  const char unit = text.back();
  if (unit != 'h' && unit != 'd') return false;
  *hours = unit == 'd' ? count * 24 : count;
  return *hours >= 1 && *hours <= kDashboardMaxSpanHours;
}

bool Time(const std::string& text) {
  long long ms = 0;
  return text.size() <= 32 && LedgerTimeMs(text, &ms);
}

struct CRule {
  const char* m_pName;
  size_t m_nMost;  // the longest value taken
  // The value's form, beyond its length and printable characters; null: any.
  bool (*m_fnForm)(const std::string& value);
  const char* m_pForm;  // the form in words, for the refusal
};

const CRule kRules[] = {
    {"span", 8,
     [](const std::string& v) {
       long long h;
       return SpanHours(v, &h);
     },
     "a span such as 24h or 7d, at most 90d"},
    {"until", 32, Time, "a UTC time such as 2025-05-20T10:00:00Z"},
    {"since", 32, Time, "a UTC time such as 2025-05-20T10:00:00Z"},
    {"before", 18, [](const std::string& v) { return Digits(v, 18); }, "an attempt's id"},
    {"limit", 3,
     [](const std::string& v) {
       return Digits(v, 3) && std::stoi(v) >= 1 && std::stoi(v) <= kLedgerQueryMaxRows;
     },
     "a number of rows from 1 to 500"},
    {"station", 64, nullptr, "a station's name"},
    {"result", 32, nullptr, "a result word"},
    {"q", 64, nullptr, "an address, name or number"},
    {"address", 64, nullptr, "a module's address"},
};

}  // namespace

bool ReadDashboardQuery(const CWebRequest& request, CDashboardQuery* query, std::string* error) {
  for (const CRule& rule : kRules) {
    auto it = request.m_query.find(rule.m_pName);
    if (it == request.m_query.end()) continue;
    const std::string& value = it->second;
    if (value.size() > rule.m_nMost) {
      *error = std::string("parameter ") + rule.m_pName + " is longer than " +
               std::to_string(rule.m_nMost) + " characters";
      return false;
    }
    if (!Printable(value) || (rule.m_fnForm && !value.empty() && !rule.m_fnForm(value))) {
      *error = std::string("parameter ") + rule.m_pName + " is not " + rule.m_pForm;
      return false;
    }
  }
  if (!request.Param("span").empty()) {
    query->m_strSpan = request.Param("span");
    SpanHours(query->m_strSpan, &query->m_nSpanHours);
  }
  query->m_strUntil = request.Param("until");
  query->m_attempts.m_strStation = request.Param("station");
  query->m_attempts.m_strResult = request.Param("result");
  query->m_attempts.m_strSince = request.Param("since");
  const std::string before = request.Param("before"), limit = request.Param("limit");
  if (!before.empty()) query->m_attempts.m_nBefore = std::stoll(before);
  if (!limit.empty()) query->m_attempts.m_nLimit = std::stoi(limit);
  query->m_strSearch = request.Param("q");
  query->m_strAddress = request.Param("address");
  return true;
}
