#include "reconcile_ui/report_page.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <map>
#include <system_error>

#include "db/value.h"
#include "ledger_engine/causes.h"
#include "ledger_engine/compare_rows.h"
#include "shell/progress_screen.h"

namespace tallyvet {

namespace {

// Text as element content or attribute value.
std::string Escape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string Fixed(double value, int decimals) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

// The shown difference: stored - recomputed, rounded to the cent, as the report screen shows it.
double Difference(const DifferenceRecord& r) {
  return RoundHalfEven(ExactDifference(r.storedValue, r.recomputedValue), 2);
}

// The key description's lines ("caption=text" CR LF each) as lines of the cell.
std::string KeyLines(std::string_view description) {
  std::string out;
  std::size_t start = 0;
  while (start < description.size()) {
    std::size_t end = description.find("\r\n", start);
    if (end == std::string_view::npos) end = description.size();
    if (end > start) {
      if (!out.empty()) out += "<br />";
      out += Escape(description.substr(start, end - start));
    }
    start = end + 2;
  }
  return out;
}

// Where `period` stands among the range's periods; after them when it is not one.
std::size_t PeriodRank(const std::vector<PagePeriod>& periods, const std::string& period) {
  for (std::size_t i = 0; i < periods.size(); ++i) {
    if (periods[i].name == period) return i;
  }
  return periods.size();
}

std::string AmountCell(double amount) {
  return std::string("<td class=\"num") + (amount < 0 ? " neg" : "") + "\">" + CentText(amount) +
         "</td>";
}

// The differences of one period: how many, and what they are (for the bar's tooltip).
struct PeriodBar {
  int count = 0;
  std::string details;
};

// The bar chart of one item: one slot per period of the range (and "其他" when needed), one bar
// per period with a difference, as high as the period has differences. Differences are counted,
// not added up: an item's columns mix quantities and amounts.
std::string Chart(int item, const std::vector<std::string>& slots,
                  const std::map<std::string, PeriodBar>& bars) {
  constexpr double kWidth = 900, kHeight = 250, kLeft = 86, kRight = 16, kTop = 26, kBottom = 40;
  const double plotWidth = kWidth - kLeft - kRight;
  const double plotHeight = kHeight - kTop - kBottom;
  int largest = 0;
  for (const auto& [period, bar] : bars) largest = std::max(largest, bar.count);
  // Four grid steps of whole differences.
  const int step = std::max(1, (largest + 3) / 4);
  const double scale = 4.0 * step;

  std::string svg = "<svg xmlns=\"http://www.w3.org/2000/svg\" class=\"chart\" id=\"chart-" +
                    std::to_string(item) + "\" width=\"" + Fixed(kWidth, 0) + "\" height=\"" +
                    Fixed(kHeight, 0) + "\" viewBox=\"0 0 " + Fixed(kWidth, 0) + " " +
                    Fixed(kHeight, 0) + "\" role=\"img\">\n";
  svg += "<title>各期间差异笔数</title>\n";
  // Grid lines and their counts, from 0 to the top of the scale.
  for (int line = 0; line <= 4; ++line) {
    const double y = kTop + plotHeight - plotHeight * line / 4;
    svg += "<line class=\"grid\" x1=\"" + Fixed(kLeft, 1) + "\" y1=\"" + Fixed(y, 1) + "\" x2=\"" +
           Fixed(kWidth - kRight, 1) + "\" y2=\"" + Fixed(y, 1) + "\" />\n";
    svg += "<text class=\"tick\" x=\"" + Fixed(kLeft - 8, 1) + "\" y=\"" + Fixed(y + 4, 1) +
           "\" text-anchor=\"end\">" + std::to_string(line * step) + "</text>\n";
  }
  const double slotWidth = plotWidth / static_cast<double>(std::max<std::size_t>(slots.size(), 1));
  const double barWidth = std::min(slotWidth * 0.6, 48.0);
  // Labels thin out so that they never run into each other.
  const std::size_t labelEvery = static_cast<std::size_t>(std::ceil(54.0 / slotWidth));
  for (std::size_t i = 0; i < slots.size(); ++i) {
    const double centre = kLeft + slotWidth * (static_cast<double>(i) + 0.5);
    const auto found = bars.find(slots[i]);
    if (found != bars.end()) {
      const PeriodBar& bar = found->second;
      const double height = plotHeight * bar.count / scale;
      const double top = kTop + plotHeight - height;
      svg += "<rect class=\"bar\" data-period=\"" + Escape(slots[i]) + "\" x=\"" +
             Fixed(centre - barWidth / 2, 1) + "\" y=\"" + Fixed(top, 1) + "\" width=\"" +
             Fixed(barWidth, 1) + "\" height=\"" + Fixed(height, 1) + "\"><title>" +
             Escape(slots[i] + "：" + std::to_string(bar.count) + "笔差异" + bar.details) +
             "</title></rect>\n";
      svg += "<text class=\"value\" x=\"" + Fixed(centre, 1) + "\" y=\"" + Fixed(top - 5, 1) +
             "\" text-anchor=\"middle\">" + std::to_string(bar.count) + "</text>\n";
    }
    if (i % labelEvery == 0 || found != bars.end()) {
      svg += "<text class=\"period\" x=\"" + Fixed(centre, 1) + "\" y=\"" +
             Fixed(kTop + plotHeight + 18, 1) + "\" text-anchor=\"middle\">" + Escape(slots[i]) +
             "</text>\n";
    }
  }
  svg += "<line class=\"axis\" x1=\"" + Fixed(kLeft, 1) + "\" y1=\"" + Fixed(kTop + plotHeight, 1) +
         "\" x2=\"" + Fixed(kWidth - kRight, 1) + "\" y2=\"" + Fixed(kTop + plotHeight, 1) +
         "\" />\n";
  svg += "</svg>\n";
  return svg;
}

constexpr const char* kStyle = R"(
body { margin: 0; background: #f3f4f6; color: #1f2933;
  font-family: "Noto Sans CJK SC", "Noto Sans SC", "Microsoft YaHei", sans-serif; font-size: 14px; }
.page { max-width: 980px; margin: 0 auto; padding: 24px 32px 40px; background: #ffffff; }
h1 { font-size: 24px; margin: 0 0 16px; padding-bottom: 8px; border-bottom: 3px solid #1d3557; }
h2 { font-size: 18px; margin: 28px 0 10px; color: #1d3557; }
h2 .count { font-size: 14px; font-weight: normal; color: #b03a2e; margin-left: 12px; }
table { border-collapse: collapse; width: 100%; margin: 8px 0 12px; }
th, td { padding: 5px 10px; border-bottom: 1px solid #e1e4e8; text-align: left; vertical-align: top; }
thead th { background: #1d3557; color: #ffffff; font-weight: normal; white-space: nowrap; }
table.differences tbody tr:nth-child(even) td, table.summary tbody tr:nth-child(even) td,
table.overview tbody tr:nth-child(even) td { background: #f7f9fb; }
td.num, th.num { text-align: right; font-variant-numeric: tabular-nums; white-space: nowrap; }
td.neg { color: #b03a2e; }
table.facts { width: auto; }
table.facts th { color: #52606d; font-weight: normal; padding-right: 24px; border: none; }
table.facts td { border: none; }
.ok { color: #2d6a4f; }
.bad { color: #b03a2e; }
.item { margin-top: 24px; border-top: 1px solid #d0d7de; }
h3 { font-size: 15px; margin: 14px 0 4px; color: #323f4b; }
svg.chart { display: block; margin: 4px 0 8px; }
svg.chart .bar { fill: #c0504d; }
svg.chart .grid { stroke: #e4e7eb; stroke-width: 1; }
svg.chart .axis { stroke: #7b8794; stroke-width: 1; }
svg.chart text { font-family: inherit; font-size: 11px; fill: #52606d; }
svg.chart text.value { fill: #1f2933; font-size: 11px; }
.note { color: #7b8794; font-size: 12px; }
table.causes { width: auto; }
table.differences td:nth-child(2) { white-space: nowrap; }
td.cause-moved b, td.cause-unposted b, td.cause-withdrawn b { color: #1d3557; }
td.cause-rounding b { color: #2d6a4f; }
td.cause-unexplained b { color: #b03a2e; }
@media print { body { background: #ffffff; } .page { padding: 0; } }
)";

}  // namespace

void LoadPageAccount(HostContext& ctx, const DateRange& range, ReportPageData& data) {
  data.owner = ctx.user;
  db::Connection& conn = ctx.conn();
  {
    std::unique_ptr<db::Recordset> rs = conn.OpenResultset(AccountSetSql(ctx.user), 3);
    if (!rs->Eof()) {
      data.accountName = rs->Fields()["strUserName"].Value().AsText();
      data.version = rs->Fields()["strVer"].Value().AsText();
    }
    rs->Close();
  }
  data.periods.clear();
  const bool fromBeginning = range.startDate == " ";
  // The opening balances: everything dated before the first period.
  if (fromBeginning) data.periods.push_back({std::string(kOpeningPeriod), " ", ""});
  std::unique_ptr<db::Recordset> rs =
      conn.OpenResultset("SELECT intYear,bytPeriod,strStartDate,strEndDate FROM " + ctx.user +
                             ".AccountPeriod ORDER BY intYear,bytPeriod",
                         3);
  while (!rs->Eof()) {
    const auto& f = rs->Fields();
    PagePeriod period{
        PeriodEntry(f["intYear"].Value().AsInteger(), f["bytPeriod"].Value().AsInteger()),
        f["strStartDate"].Value().AsText(), f["strEndDate"].Value().AsText()};
    // Dates compare as text; a period counts when it overlaps the range.
    if ((fromBeginning || period.endDate >= range.startDate) && period.startDate <= range.endDate) {
      data.periods.push_back(std::move(period));
    }
    rs->MoveNext();
  }
  rs->Close();
}

std::string PeriodOfDifference(const DifferenceRecord& record,
                               const std::vector<PagePeriod>& periods) {
  std::string date;
  std::optional<std::int64_t> year;
  std::optional<std::int64_t> period;
  for (const auto& [name, value] : record.keys) {
    if (name == "STRDATE" && !value.IsNull()) date = value.AsText();
    if (name == "INTYEAR" && !value.IsNull()) year = value.AsInteger();
    if (name == "BYTPERIOD" && !value.IsNull()) period = value.AsInteger();
  }
  if (date.empty() && year && period) return PeriodEntry(*year, *period);
  if (date.empty()) return "其他";
  for (const PagePeriod& p : periods) {
    if (p.name == kOpeningPeriod) continue;
    if (date >= p.startDate && date <= p.endDate) return p.name;
  }
  // A blank date, or one before every period: the opening balances.
  const bool beforeAll = std::all_of(periods.begin(), periods.end(), [&](const PagePeriod& p) {
    return p.name == kOpeningPeriod || date < p.startDate;
  });
  if (date == " " || beforeAll) return std::string(kOpeningPeriod);
  return "其他";
}

std::string CentText(double amount) {
  const double rounded = RoundHalfEven(amount, 2);
  std::string digits = Fixed(std::fabs(rounded), 2);  // "1234.57"
  const std::size_t point = digits.find('.');
  std::string grouped;
  for (std::size_t i = 0; i < point; ++i) {
    if (i > 0 && (point - i) % 3 == 0) grouped += ',';
    grouped += digits[i];
  }
  grouped += digits.substr(point);
  return (rounded < 0 && grouped != "0.00" ? "-" : "") + grouped;
}

std::string BuildReportPage(const ReportPageData& data) {
  const std::string account = data.owner + (data.accountName.empty() ? "" : " " + data.accountName);
  std::string html = "<!DOCTYPE html>\n<html lang=\"zh-CN\">\n<head>\n<meta charset=\"utf-8\" />\n";
  html += "<title>" + Escape("对账报告 " + account) + "</title>\n<style>" + kStyle +
          "</style>\n</head>\n<body>\n<div class=\"page\">\n<h1>对账报告</h1>\n";

  const std::string dates =
      (data.range.startDate == " " ? std::string("账套开始") : data.range.startDate) + " 至 " +
      data.range.endDate;
  html += "<table class=\"facts\">\n";
  html += "<tr><th>账套</th><td>" + Escape(account) + "</td></tr>\n";
  if (!data.version.empty())
    html += "<tr><th>版本</th><td>" + Escape(data.version) + "</td></tr>\n";
  html += "<tr><th>对账期间</th><td>" +
          Escape(data.rangeKind == "期间" || data.rangeKind.empty()
                     ? data.startPeriod + " — " + data.endPeriod
                     : data.rangeKind) +
          "</td></tr>\n";
  html += "<tr><th>日期范围</th><td>" + Escape(dates) + "</td></tr>\n";
  html += "<tr><th>生成时间</th><td>" + Escape(data.generated) + "</td></tr>\n</table>\n";

  // Overview: one line per item run.
  html +=
      "<h2>对账项目</h2>\n<table class=\"overview\">\n<thead><tr><th>项目</th><th>结果</th>"
      "<th class=\"num\">差异笔数</th><th>涉及期间</th></tr></thead>\n"
      "<tbody>\n";
  for (const PageItem& item : data.items) {
    std::vector<std::string> touched;  // the periods with differences, in range order
    for (const DifferenceRecord& r : item.differences) {
      const std::string period = PeriodOfDifference(r, data.periods);
      if (std::find(touched.begin(), touched.end(), period) == touched.end()) {
        touched.push_back(period);
      }
    }
    std::sort(touched.begin(), touched.end(), [&](const std::string& a, const std::string& b) {
      return PeriodRank(data.periods, a) < PeriodRank(data.periods, b);
    });
    std::string periods;
    for (const std::string& p : touched) periods += (periods.empty() ? "" : "、") + p;
    const std::string caption = ItemCheckBoxCaption(item.item - 1);
    std::string result;
    if (!item.error.empty()) {
      result = "<span class=\"bad\">对账出错：" + Escape(item.error) + "</span>";
    } else if (item.differences.empty()) {
      result = "<span class=\"ok\">一致</span>";
    } else {
      result = "<a href=\"#item-" + std::to_string(item.item) + "\" class=\"bad\">有差异</a>";
    }
    html += "<tr><td>" + std::to_string(item.item) + " " + Escape(caption) + "</td><td>" + result +
            "</td><td class=\"num\">" + std::to_string(item.differences.size()) + "</td>" + "<td>" +
            Escape(periods) + "</td></tr>\n";
  }
  html += "</tbody>\n</table>\n";

  for (const PageItem& item : data.items) {
    if (item.differences.empty()) continue;
    const std::string caption = ItemCheckBoxCaption(item.item - 1);
    html += "<div class=\"item\" id=\"item-" + std::to_string(item.item) + "\">\n<h2>" +
            std::to_string(item.item) + " " + Escape(caption) + "<span class=\"count\">" +
            std::to_string(item.differences.size()) + " 笔差异</span></h2>\n";

    // The chart: the range's periods, and any other period a difference names.
    std::vector<std::string> slots;
    for (const PagePeriod& p : data.periods) slots.push_back(p.name);
    std::map<std::string, PeriodBar> bars;
    std::vector<std::string> periodOf;
    for (const DifferenceRecord& r : item.differences) {
      periodOf.push_back(PeriodOfDifference(r, data.periods));
      if (std::find(slots.begin(), slots.end(), periodOf.back()) == slots.end()) {
        slots.push_back(periodOf.back());
      }
      PeriodBar& bar = bars[periodOf.back()];
      ++bar.count;
      bar.details += "\n" + r.columnCaption + " " + CentText(Difference(r));
    }
    html += "<h3>各期间差异笔数</h3>\n" + Chart(item.item, slots, bars);

    // Causes, when the run looked for them: counted by differing row, each row's in its line.
    const bool explained = item.differences.front().cause != nullptr;
    if (explained) {
      std::map<CauseKind, int> byKind;
      const DifferenceCause* previous = nullptr;
      for (const DifferenceRecord& r : item.differences) {
        if (r.cause.get() != previous && r.cause) ++byKind[r.cause->kind];
        previous = r.cause.get();
      }
      html +=
          "<h3>差异原因</h3>\n<table class=\"causes\">\n<thead><tr><th>原因</th>"
          "<th class=\"num\">行数</th></tr></thead>\n<tbody>\n";
      for (const auto& [kind, count] : byKind) {
        html += "<tr><td class=\"cause-" + std::string(CauseKindName(kind)) + "\">" +
                Escape(CauseKindCaption(kind)) + "</td><td class=\"num\">" + std::to_string(count) +
                "</td></tr>\n";
      }
      html += "</tbody>\n</table>\n";
    }
    html +=
        "<h3>差额明细</h3>\n<table class=\"differences\">\n<thead><tr><th>期间</th>"
        "<th>明细项目</th><th>数据项目</th><th class=\"num\">汇总数</th>"
        "<th class=\"num\">明细数</th><th class=\"num\">差额</th>" +
        std::string(explained ? "<th>原因</th>" : "") + "</tr></thead>\n<tbody>\n";
    for (std::size_t i = 0; i < item.differences.size(); ++i) {
      const DifferenceRecord& r = item.differences[i];
      html += "<tr><td>" + Escape(periodOf[i]) + "</td><td>" + KeyLines(r.keyDescription) +
              "</td><td>" + Escape(r.columnCaption) + "</td>" + AmountCell(r.storedValue) +
              AmountCell(r.recomputedValue) + AmountCell(Difference(r));
      if (explained && r.cause) {
        html += "<td class=\"cause-" + std::string(CauseKindName(r.cause->kind)) + "\"><b>" +
                Escape(CauseKindCaption(r.cause->kind)) + "</b> " + Escape(r.cause->text) + "</td>";
      } else if (explained) {
        html += "<td></td>";
      }
      html += "</tr>\n";
    }
    html += "</tbody>\n</table>\n";

    // Summary per column, in column order.
    struct Sum {
      std::string caption;
      int count = 0;
      double stored = 0, recomputed = 0, difference = 0;
    };
    std::map<int, Sum> sums;
    for (const DifferenceRecord& r : item.differences) {
      Sum& s = sums[r.columnIndex];
      s.caption = r.columnCaption;
      ++s.count;
      s.stored += r.storedValue;
      s.recomputed += r.recomputedValue;
      s.difference += Difference(r);
    }
    html +=
        "<h3>按数据项目汇总</h3>\n<table class=\"summary\">\n<thead><tr><th>数据项目</th>"
        "<th class=\"num\">笔数</th><th class=\"num\">汇总数</th><th class=\"num\">明细数</th>"
        "<th class=\"num\">差额</th></tr></thead>\n<tbody>\n";
    for (const auto& [column, s] : sums) {
      html += "<tr><td>" + Escape(s.caption) + "</td><td class=\"num\">" + std::to_string(s.count) +
              "</td>" + AmountCell(s.stored) + AmountCell(s.recomputed) + AmountCell(s.difference) +
              "</tr>\n";
    }
    html += "</tbody>\n</table>\n</div>\n";
  }
  html +=
      "<p class=\"note\">汇总数为账上登记数，明细数为按单据重新计算的数，差额 = 汇总数 − "
      "明细数；金额四舍五入到分，精确数见 Compare.txt。</p>\n";
  html += "</div>\n</body>\n</html>\n";
  return html;
}

void WriteReportPage(const std::filesystem::path& file, const std::string& page) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out << page;
  out.close();
  if (!out) {
    throw std::system_error(errno ? errno : EIO, std::generic_category(),
                            "cannot write the report page " + file.string());
  }
}

ReportPageSink::ReportPageSink(const std::array<bool, 6>& ticked) {
  for (std::size_t i = 0; i < ticked.size(); ++i) {
    if (ticked[i]) items_.push_back(PageItem{static_cast<int>(i) + 1, {}, {}});
  }
}

void ReportPageSink::RecordDifference(const DifferenceRecord& record, bool /*firstInRow*/) {
  for (PageItem& item : items_) {
    if (item.item == record.item) {
      item.differences.push_back(record);
      return;
    }
  }
}

void ReportPageSink::SetErrors(const std::vector<ItemRunError>& errors) {
  for (const ItemRunError& e : errors) {
    for (PageItem& item : items_) {
      if (item.item == e.item) item.error = e.message;
    }
  }
}

}  // namespace tallyvet
