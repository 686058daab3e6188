// The reconciliation launcher's logic without its screen: the account set and its period lists,
// the range of dates a choice of periods (or today, or this week) stands for, the validation of a
// start, and the run over the ticked items. The launcher screen (CompareScreen) and the command
// line both build on these.
#pragma once

#include <array>
#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "db/connection_source.h"
#include "ledger_engine/difference.h"
#include "ledger_engine/report_file.h"
#include "shell/host_context.h"
#include "shell/progress_screen.h"

namespace tallyvet {

using CivilDate = std::chrono::year_month_day;

// The local calendar date now.
CivilDate LocalToday();
// "yyyy-mm-dd".
std::string FormatDate(const CivilDate& date);
// A valid "yyyy-mm-dd" date, or nothing.
std::optional<CivilDate> ParseDate(std::string_view text);

// The first entry of both period lists: the opening balances.
inline constexpr std::string_view kOpeningPeriod = "期初";
// The range kinds of the third list, in list order.
inline constexpr std::array<std::string_view, 3> kRangeKinds = {"期间", "本日", "本周"};
// The launcher's validation messages.
inline constexpr std::string_view kStartAfterEnd = "开始对账期间不能大于截止对账期间!";
inline constexpr std::string_view kNoItemTicked = "请选择对账项目!";
inline constexpr std::string_view kDataCorrect = "账套内数据正确!";

// A period as the lists show it: the year, ".", the period number in two digits ("2004.03").
std::string PeriodEntry(std::int64_t year, std::int64_t period);

// "SELECT strUserName,strVer,strStartDate FROM " user ".Business".
std::string AccountSetSql(std::string_view user);
// "SELECT intYear,bytPeriod FROM " user ".AccountPeriod ORDER BY intYear,bytPeriod".
std::string PeriodListSql(std::string_view user);
// The periods from `lower` to `upper` (list texts, "期初" as "0000.00"), compared as numbers.
std::string PeriodDatesSql(std::string_view user, std::string_view lower, std::string_view upper);

// What loading the launcher finds.
struct AccountAndPeriods {
  std::string userCaption;           // "用户名：" user
  std::string accountCaption;        // "账套名：" name, or "账套名：(未知)"
  std::vector<std::string> periods;  // "期初", then every period in year and period order
  int selected = 0;                  // the current month's period, else the last entry
};

// LoadAccountAndPeriods without the screen: reads the account set (setting ctx.AccountStartDate
// when it has a row) and its periods. `today` picks the period to select.
// Requires a connection in ctx. Throws db::Error.
AccountAndPeriods LoadAccountAndPeriods(HostContext& ctx, const CivilDate& today);

struct DateRange {
  std::string startDate;  // "yyyy-mm-dd", or " " for the beginning of the account set
  std::string endDate;
};

// PeriodRangeToDates: the dates of a range of kind "期间" (from the AccountPeriod rows between the
// two list texts), "本日" (today) or "本周" (Monday to Friday of today's week).
// "期初" to "期初" ends the day before ctx.AccountStartDate.
// Throws std::invalid_argument for another kind; std::runtime_error when the range needs the day
// before the account set's start and ctx.AccountStartDate is not a valid date; db::Error.
DateRange PeriodRangeToDates(HostContext& ctx, std::string_view rangeKind,
                             std::string_view startPeriod, std::string_view endPeriod,
                             const CivilDate& today);

// The validation of a start: the period message when the start position is after the end
// position (whatever the range kind), else the item message when nothing is ticked, else empty.
std::string ValidateRun(int startPosition, int endPosition, bool anyItemTicked);

// A comparison that stopped on an error.
struct ItemRunError {
  int item = 0;
  std::string message;
};

// Called around each ticked item's comparison (index 0 to 5), for the screen's colours.
struct ItemHooks {
  std::function<void(int index)> starting;
  std::function<void(int index)> finished;
};

// How many items RunItems may run at once, and where it gets the connections for them.
struct ItemJobs {
  int jobs = 1;                            // 1: one item after another on ctx's connection
  db::ConnectionSource* source = nullptr;  // further connections and their common view
  // Told, once, why a run asked to run items at once runs them one after another.
  std::function<void(const std::string& reason)> ranSerially;
};

// The memory each result of a run with `jobs` items at once keeps before it spills to a file: a
// serial run's share, so that the items running together keep no more than one serial item.
std::size_t SpillThresholdForJobs(int jobs);

// RunSelectedItems without the screen: InitCheckItems, DeriveGoodsLedgerSql and
// DeriveAccountLedgerSql (all six items, whatever is ticked), then RunComparison of every ticked
// item in index order with writeReport true and correct false, handing its differences to
// `sinks`. Returns true when some item did not come out clean (differences or an error). Items
// that stopped on an error are added to `errors` when given.
// Throws: DerivationRefused when the owner has no stored source of either unit (before any item
// runs); db::Error from the derivations, and the report's errors (a report file that cannot be
// written) from RunComparison, which stop the run.
//
// With jobs.jobs > 1 and a source, up to that many items (never more than are ticked) run at once,
// each on a connection of the source's, all of them and ctx's connection reading one committed
// state of the account set from before the first item starts to after the last one ends
// (RunItemsSideBySide). The report, the sinks, the summary list, the hooks and `errors` get
// exactly what the serial run gives them, in item order, on the calling thread. When the
// connections or their common view cannot be had, the items run one after another as with
// jobs.jobs 1, and jobs.ranSerially is told why.
bool RunItems(HostContext& ctx, ProgressScreen& screen, const ReportFile& report,
              const std::array<bool, 6>& ticked, const DateRange& range,
              const std::vector<DifferenceSink*>& sinks, const ItemHooks& hooks = {},
              std::vector<ItemRunError>* errors = nullptr, const ItemJobs& jobs = {});

}  // namespace tallyvet
