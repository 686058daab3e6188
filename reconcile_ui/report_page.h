// The reconciliation report as one page to look at: a self-contained HTML file (no script, nothing
// fetched) with the account set, the range, the items run and, per item with differences, a bar
// chart of the differences per period (inline SVG drawn here), the differences table and the
// summary per column. Amounts are shown rounded to the cent; the exact values stay in Compare.txt
// and the command line's JSON.
//
// The page is also well-formed XML (every element closed, every text escaped), so it parses
// cleanly with an XML parser as well as with an HTML one.
#pragma once

#include <array>
#include <filesystem>
#include <string>
#include <vector>

#include "ledger_engine/difference.h"
#include "reconcile_ui/launcher.h"
#include "shell/host_context.h"

namespace tallyvet {

// An accounting period as the lists show it, with its dates; the opening balances are the
// period "期初", from the beginning up to the day before the account set starts.
struct PagePeriod {
  std::string name;       // "2025.04" or "期初"
  std::string startDate;  // "yyyy-mm-dd"; " " for 期初
  std::string endDate;    // "yyyy-mm-dd"; empty for 期初
};

// One ticked item of the run.
struct PageItem {
  int item = 0;  // 1 to 6
  std::vector<DifferenceRecord> differences;
  std::string error;  // the comparison stopped on this error; empty: it ran to its end
};

struct ReportPageData {
  std::string owner;        // ctx.user
  std::string accountName;  // Business.strUserName; empty when the account set has no row
  std::string version;      // Business.strVer
  std::string startPeriod;  // the list texts of the run
  std::string endPeriod;
  std::string rangeKind;  // "期间", "本日", "本周"
  DateRange range;
  std::string generated;            // date and time of the run
  std::vector<PagePeriod> periods;  // the periods the range touches, in order
  std::vector<PageItem> items;      // ticked items, in run order
};

// The account set's Business row and the periods that [range.startDate, range.endDate] touches
// ("期初" first when the range starts at the beginning), into `data` (owner, name, version,
// periods). Requires a connection in ctx. Throws db::Error.
void LoadPageAccount(HostContext& ctx, const DateRange& range, ReportPageData& data);

// The period a difference belongs to: the one whose dates hold the key STRDATE, "期初" for a date
// before the first period (or a blank date), the INTYEAR and BYTPERIOD keys when there is no date;
// "其他" when none of these tells.
std::string PeriodOfDifference(const DifferenceRecord& record,
                               const std::vector<PagePeriod>& periods);

// "1,234.57": rounded to the cent (halves to even), grouped by thousands; never "-0.00".
std::string CentText(double amount);

// The page: the account and range, an overview of the items, and for each item with differences
// a chart by period, the differences (with their causes when the run explained them, and a count
// by cause) and a summary by column.
std::string BuildReportPage(const ReportPageData& data);

// Writes `page` to `file` (UTF-8), replacing it. Throws std::system_error naming the file.
void WriteReportPage(const std::filesystem::path& file, const std::string& page);

// Gathers a run's differences for the page, item by item (a DifferenceSink beside the others).
class ReportPageSink final : public DifferenceSink {
 public:
  // The ticked items, in run order, before the run.
  explicit ReportPageSink(const std::array<bool, 6>& ticked);
  void RecordDifference(const DifferenceRecord& record, bool firstInRow) override;
  // Marks the items that stopped on an error.
  void SetErrors(const std::vector<ItemRunError>& errors);
  std::vector<PageItem>& Items() { return items_; }

 private:
  std::vector<PageItem> items_;
};

}  // namespace tallyvet
