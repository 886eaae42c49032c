#include "web/dashboard/HourlyChart.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>

#include "web/dashboard/Html.h"

namespace {

constexpr long long kHourMs = 3600 * 1000;
constexpr int kWidth = 960, kHeight = 320;
constexpr int kLeft = 48, kRight = 16, kTop = 16, kBottom = 64;
// Colours told apart by most readers, including those who confuse red and green.
const char* const kPalette[] = {"#0072b2", "#e69f00", "#009e73", "#cc79a7",
                                "#56b4e9", "#d55e00", "#f0e442", "#000000"};

// A step of 1, 2 or 5 times a power of ten giving at most five lines up to top.
long long ScaleStep(long long top) {
  long long power = 1;
  while (true) {
    for (long long m : {1, 2, 5})
      if (top <= m * power * 5) return m * power;
    power *= 10;
  }
}

// Hours between labels: at most a dozen labels across the chart.
long long LabelEvery(long long hours) {
  for (long long every : {1, 2, 3, 6, 12, 24, 48, 72, 168, 336})
    if (hours / every <= 12) return every;
  return 720;
}

std::string Label(long long ms, long long every) {
  const std::string text = LedgerTimeText(ms);  // 2025-05-20T10:00:00.000Z
  if (every >= 24 || text.compare(11, 2, "00") == 0) return text.substr(5, 5);
  return text.substr(11, 5);
}

std::string Attr(const char* name, double value) {
  char text[48];
  snprintf(text, sizeof text, " %s=\"%.1f\"", name, value);
  return text;
}

void DrawScale(std::string* svg, long long top, long long step) {
  const double plot = kHeight - kTop - kBottom;
  for (long long v = 0; v <= top; v += step) {
    const double y = kTop + plot - plot * v / top;
    *svg += "<line class=\"grid\"" + Attr("x1", kLeft) + Attr("x2", kWidth - kRight) +
            Attr("y1", y) + Attr("y2", y) + " stroke=\"#cccccc\"/>";
    *svg += "<text text-anchor=\"end\"" + Attr("x", kLeft - 6) + Attr("y", y + 4) + ">" +
            std::to_string(v) + "</text>";
  }
}

void DrawLegend(std::string* svg, const std::vector<std::string>& stations) {
  double x = kLeft;
  for (size_t k = 0; k < stations.size(); ++k) {
    const double y = kHeight - 18;
    *svg += "<rect class=\"key\"" + Attr("x", x) + Attr("y", y - 10) + Attr("width", 12) +
            Attr("height", 12) + " fill=\"" + kPalette[k % 8] + "\"/>";
    *svg += "<text class=\"station\"" + Attr("x", x + 16) + Attr("y", y) + ">" +
            HtmlText(stations[k]) + "</text>";
    x += 28 + 8 * static_cast<double>(std::min<size_t>(stations[k].size(), 24));
  }
}

}  // namespace

std::string DrawHourlyChart(const std::vector<CLedgerHourCount>& counts, long long firstHourMs,
                            long long hours) {
  const std::string first = LedgerTimeText(firstHourMs).substr(0, 13);
  const std::string end = LedgerTimeText(firstHourMs + hours * kHourMs).substr(0, 13);
  std::set<std::string> names;
  std::map<std::string, std::map<std::string, long long>> byHour;  // hour, station: count
  std::map<std::string, long long> totals;
  for (const auto& c : counts) {
    if (c.m_strHour < first || c.m_strHour >= end || c.m_nModulesOk <= 0) continue;
    names.insert(c.m_strStation);
    byHour[c.m_strHour][c.m_strStation] += c.m_nModulesOk;
    totals[c.m_strHour] += c.m_nModulesOk;
  }
  const std::vector<std::string> stations(names.begin(), names.end());
  long long most = 1;
  for (const auto& t : totals) most = std::max(most, t.second);
  const long long step = ScaleStep(most), top = (most + step - 1) / step * step;
  const double plot = kHeight - kTop - kBottom, slot = double(kWidth - kLeft - kRight) / hours;

  std::string svg = "<svg xmlns=\"http://www.w3.org/2000/svg\" class=\"chart\" viewBox=\"0 0 " +
                    std::to_string(kWidth) + " " + std::to_string(kHeight) +
                    "\" role=\"img\" font-family=\"sans-serif\" font-size=\"12\">"
                    "<title>Modules ok per hour and station</title>";
  DrawScale(&svg, top, step);
  const long long every = LabelEvery(hours);
  for (long long h = 0; h < hours; h += every)
    svg += "<text text-anchor=\"middle\"" + Attr("x", kLeft + slot * (h + 0.5)) +
           Attr("y", kHeight - kBottom + 16) + ">" + Label(firstHourMs + h * kHourMs, every) +
           "</text>";
  for (const auto& total : totals) {
    long long ms = firstHourMs;
    LedgerTimeMs(total.first + ":00", &ms);
    const long long h = (ms - firstHourMs) / kHourMs;
    svg += "<g class=\"hour\" data-hour=\"" + HtmlText(total.first) + "\" data-total=\"" +
           std::to_string(total.second) + "\">";
    double base = kTop + plot;
    for (size_t k = 0; k < stations.size(); ++k) {
      const auto& here = byHour[total.first];
      auto it = here.find(stations[k]);
      if (it == here.end()) continue;
      const long long count = it->second;
      const double height = plot * count / top;
      base -= height;
      svg += "<rect class=\"bar\"" + Attr("x", kLeft + slot * h + slot * 0.1) + Attr("y", base) +
             Attr("width", std::max(slot * 0.8, 0.5)) + Attr("height", height) + " fill=\"" +
             kPalette[k % 8] + "\" data-station=\"" + HtmlText(stations[k]) + "\" data-count=\"" +
             std::to_string(count) + "\"><title>" + HtmlText(stations[k]) + ", " +
             HtmlText(total.first) + ":00: " + std::to_string(count) + " ok</title></rect>";
    }
    svg += "</g>";
  }
  DrawLegend(&svg, stations);
  return svg + "</svg>";
}
