#include "reconcile_ui/launcher.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <memory>
#include <stdexcept>

#include "ledger_engine/check_items.h"
#include "ledger_engine/compare_rows.h"
#include "ledger_engine/comparison.h"
#include "ledger_engine/derivation.h"
#include "ledger_engine/server_comparison.h"
#include "ledger_engine/side_by_side.h"

namespace tallyvet {

namespace {

using std::chrono::days;
using std::chrono::sys_days;

// Keeps the readers of a run in their common view; ends it on every way out of the run.
class CommonView {
 public:
  CommonView(db::ConnectionSource& source, std::vector<db::Connection*> readers)
      : source_(source), readers_(std::move(readers)) {}
  CommonView(const CommonView&) = delete;
  CommonView& operator=(const CommonView&) = delete;
  ~CommonView() {
    for (db::Connection* reader : readers_) source_.EndView(*reader);
  }

 private:
  db::ConnectionSource& source_;
  std::vector<db::Connection*> readers_;
};

// Hands an item that ran beside others to the run's report, sinks and screen, as CompareLedger
// and RunComparison would have while it ran. Returns whether the item came out clean.
bool DeliverItem(HostContext& ctx, ProgressScreen& screen, const ReportFile& report,
                 const std::vector<DifferenceSink*>& sinks, ItemResult& r) {
  report.WriteReportHeader(ctx);
  report.AppendReportText(r.reportSection);
  // The columns as the item's run matched them, before any sink reads them at the item's end.
  ctx.CheckItems.InsertColumns[CheckItemTable::Index(r.item)] = r.insertColumns;
  bool agreed = r.agreed;
  try {
    if (!r.clientMerge.empty()) {
      for (DifferenceSink* sink : sinks) {
        if (sink != nullptr) sink->ClientMerge(r.item, r.clientMerge);
      }
    }
    for (const std::string& notice : r.notices) {
      for (DifferenceSink* sink : sinks) {
        if (sink != nullptr) sink->Notice(r.item, notice);
      }
    }
    for (const auto& [record, firstInRow] : r.differences) {
      RecordDifference(sinks, record, firstInRow);
    }
  } catch (const std::exception& e) {
    // As in CompareLedger: a sink that fails stops the item's differences, with its message.
    agreed = false;
    if (r.error.empty()) r.error = e.what();
  }
  if (std::vector<std::string>* list = screen.List1()) {
    list->insert(list->end(), r.listEntries.begin(), r.listEntries.end());
    if (!r.listEntries.empty()) screen.RefreshList1();
  }
  for (DifferenceSink* sink : sinks) {
    if (sink == nullptr) continue;
    try {
      sink->EndItem(r.item);
    } catch (const std::exception& e) {
      agreed = false;
      if (r.error.empty()) r.error = e.what();
    }
  }
  report.WriteReportFooter();
  return agreed;
}

// The items on connections of their own, or an empty reason when they ran; otherwise why they
// could not, and nothing has run.
std::string TryRunSideBySide(HostContext& ctx, ProgressScreen& screen, const ReportFile& report,
                             const std::vector<int>& items, const DateRange& range,
                             const std::vector<DifferenceSink*>& sinks, const ItemHooks& hooks,
                             std::vector<ItemRunError>* errors, const ItemJobs& jobs,
                             bool& differences) {
  const std::size_t count = std::min(static_cast<std::size_t>(jobs.jobs), items.size());
  // Two connections a thread, an item's recompute and stored read running at once; compared on
  // the server an item is one statement, and one connection does.
  std::vector<ItemConnections> connections;
  std::vector<db::Connection*> readers = {&ctx.conn()};
  const bool onServer = ComparesOnServer(ctx);
  try {
    for (std::size_t i = 0; i < count; ++i) {
      connections.push_back({jobs.source->Open(), onServer ? nullptr : jobs.source->Open()});
      readers.push_back(connections.back().recompute.get());
      if (!onServer) readers.push_back(connections.back().stored.get());
    }
    if (!jobs.source->BeginCommonView(readers)) {
      return "the account set cannot give its connections one common view";
    }
  } catch (const db::Error& e) {
    // Not a failure of the run: the items still run, on the one connection that works.
    return e.what();
  }
  const CommonView view(*jobs.source, readers);
  RunItemsSideBySide(ctx, screen, items, range.startDate, range.endDate, connections,
                     [&](ItemResult& r) {
                       if (hooks.starting) hooks.starting(r.item - 1);
                       if (!DeliverItem(ctx, screen, report, sinks, r)) differences = true;
                       if (!r.error.empty() && errors) errors->push_back({r.item, r.error});
                       if (hooks.finished) hooks.finished(r.item - 1);
                     });
  return {};
}

bool AllDigits(std::string_view s) {
  for (const char c : s) {
    if (c < '0' || c > '9') return false;
  }
  return !s.empty();
}

}  // namespace

CivilDate LocalToday() {
  const std::time_t now = std::time(nullptr);
  std::tm tm{};
  localtime_r(&now, &tm);
  return CivilDate{std::chrono::year{tm.tm_year + 1900},
                   std::chrono::month{static_cast<unsigned>(tm.tm_mon + 1)},
                   std::chrono::day{static_cast<unsigned>(tm.tm_mday)}};
}

std::string FormatDate(const CivilDate& date) {
  char text[16];
  std::snprintf(text, sizeof text, "%04d-%02u-%02u", static_cast<int>(date.year()),
                static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()));
  return text;
}

std::optional<CivilDate> ParseDate(std::string_view text) {
  if (text.size() != 10 || text[4] != '-' || text[7] != '-' || !AllDigits(text.substr(0, 4)) ||
      !AllDigits(text.substr(5, 2)) || !AllDigits(text.substr(8, 2))) {
    return std::nullopt;
  }
  const CivilDate date{
      std::chrono::year{std::stoi(std::string(text.substr(0, 4)))},
      std::chrono::month{static_cast<unsigned>(std::stoi(std::string(text.substr(5, 2))))},
      std::chrono::day{static_cast<unsigned>(std::stoi(std::string(text.substr(8, 2))))}};
  if (!date.ok()) return std::nullopt;
  return date;
}

std::string PeriodEntry(std::int64_t year, std::int64_t period) {
  char text[48];
  std::snprintf(text, sizeof text, "%lld.%02lld", static_cast<long long>(year),
                static_cast<long long>(period));
  return text;
}

std::string AccountSetSql(std::string_view user) {
  return "SELECT strUserName,strVer,strStartDate FROM " + std::string(user) + ".Business";
}

std::string PeriodListSql(std::string_view user) {
  return "SELECT intYear,bytPeriod FROM " + std::string(user) +
         ".AccountPeriod ORDER BY intYear,bytPeriod";
}

std::string PeriodDatesSql(std::string_view user, std::string_view lower, std::string_view upper) {
  const std::string period = "intYear || '.' || LPAD(bytPeriod,2,'0')";
  return "SELECT strStartDate,strEndDate FROM " + std::string(user) + ".AccountPeriod " + "WHERE " +
         period + ">=" + std::string(lower) + " AND " + period + "<=" + std::string(upper) +
         " ORDER BY intYear,bytPeriod";
}

AccountAndPeriods LoadAccountAndPeriods(HostContext& ctx, const CivilDate& today) {
  AccountAndPeriods out;
  out.userCaption = "用户名：" + ctx.user;
  db::Connection& conn = ctx.conn();
  {
    std::unique_ptr<db::Recordset> rs = conn.OpenResultset(AccountSetSql(ctx.user), 3);
    if (rs->Eof()) {
      out.accountCaption = "账套名：(未知)";
    } else {
      out.accountCaption = "账套名：" + rs->Fields()["strUserName"].Value().AsText();
      ctx.AccountStartDate = rs->Fields()["strStartDate"].Value().AsText();
    }
    rs->Close();
  }
  out.periods.emplace_back(kOpeningPeriod);
  const std::string current =
      PeriodEntry(static_cast<int>(today.year()), static_cast<unsigned>(today.month()));
  int selected = -1;
  std::unique_ptr<db::Recordset> rs = conn.OpenResultset(PeriodListSql(ctx.user), 3);
  while (!rs->Eof()) {
    out.periods.push_back(PeriodEntry(rs->Fields()["intYear"].Value().AsInteger(),
                                      rs->Fields()["bytPeriod"].Value().AsInteger()));
    if (out.periods.back() == current) selected = static_cast<int>(out.periods.size()) - 1;
    rs->MoveNext();
  }
  rs->Close();
  out.selected = selected >= 0 ? selected : static_cast<int>(out.periods.size()) - 1;
  return out;
}

DateRange PeriodRangeToDates(HostContext& ctx, std::string_view rangeKind,
                             std::string_view startPeriod, std::string_view endPeriod,
                             const CivilDate& today) {
  DateRange range;
  if (rangeKind == kRangeKinds[1]) {
    range.startDate = range.endDate = FormatDate(today);
    return range;
  }
  if (rangeKind == kRangeKinds[2]) {
    // Monday = 1 ... Sunday = 7: a Sunday belongs to the week that began six days before it.
    const sys_days day{today};
    const unsigned weekday = std::chrono::weekday{day}.iso_encoding();
    range.startDate = FormatDate(CivilDate{day - days{weekday} + days{1}});
    range.endDate = FormatDate(CivilDate{day - days{weekday} + days{5}});
    return range;
  }
  if (rangeKind != kRangeKinds[0]) {
    throw std::invalid_argument("unknown range kind '" + std::string(rangeKind) + "'");
  }
  range.startDate = " ";
  // The day before the account set starts closes a range of opening balances only; it is needed
  // only when no period row gives the end.
  const std::optional<CivilDate> accountStart = ParseDate(ctx.AccountStartDate);
  if (accountStart) range.endDate = FormatDate(CivilDate{sys_days{*accountStart} - days{1}});
  const std::string_view lower = startPeriod == kOpeningPeriod ? "0000.00" : startPeriod;
  const std::string_view upper = endPeriod == kOpeningPeriod ? "0000.00" : endPeriod;
  bool periodFound = false;
  std::unique_ptr<db::Recordset> rs =
      ctx.conn().OpenResultset(PeriodDatesSql(ctx.user, lower, upper), 3);
  while (!rs->Eof()) {
    if (startPeriod != kOpeningPeriod && range.startDate == " ") {
      range.startDate = rs->Fields()["strStartDate"].Value().AsText();
    }
    range.endDate = rs->Fields()["strEndDate"].Value().AsText();
    periodFound = true;
    rs->MoveNext();
  }
  rs->Close();
  if (!periodFound && !accountStart) {
    throw std::runtime_error("账套启用日期无效（" + ctx.AccountStartDate +
                             "），无法确定期初对账范围");
  }
  return range;
}

std::string ValidateRun(int startPosition, int endPosition, bool anyItemTicked) {
  if (startPosition > endPosition) return std::string(kStartAfterEnd);
  if (!anyItemTicked) return std::string(kNoItemTicked);
  return {};
}

std::size_t SpillThresholdForJobs(int jobs) {
  return db::Recordset::kDefaultSpillThreshold / static_cast<std::size_t>(std::max(jobs, 1));
}

bool RunItems(HostContext& ctx, ProgressScreen& screen, const ReportFile& report,
              const std::array<bool, 6>& ticked, const DateRange& range,
              const std::vector<DifferenceSink*>& sinks, const ItemHooks& hooks,
              std::vector<ItemRunError>* errors, const ItemJobs& jobs) {
  InitCheckItems(ctx);
  const bool goodsSource = DeriveGoodsLedgerSql(ctx, screen);
  const bool accountSource = DeriveAccountLedgerSql(ctx, screen);
  // Neither unit under this owner: a mistyped owner or source kept under another one. Nothing of
  // the run would mean anything, item 6 included, so it stops before the first item.
  if (!goodsSource && !accountSource) {
    throw DerivationRefused(NoStoredSourceMessage(ctx, {kGoodsUnit, kAccountUnit}));
  }
  bool differences = false;
  std::vector<int> items;
  for (int index = 0; index < 6; ++index) {
    if (ticked[static_cast<std::size_t>(index)]) items.push_back(index + 1);
  }
  if (jobs.jobs > 1 && items.size() > 1) {
    const std::string reason =
        jobs.source == nullptr
            ? "the database gives several connections no common view of the account set"
            : TryRunSideBySide(ctx, screen, report, items, range, sinks, hooks, errors, jobs,
                               differences);
    if (reason.empty()) return differences;
    if (jobs.ranSerially) jobs.ranSerially(reason);
  }
  for (int index = 0; index < 6; ++index) {
    if (!ticked[static_cast<std::size_t>(index)]) continue;
    if (hooks.starting) hooks.starting(index);
    std::string error;
    if (!RunComparison(ctx, screen, report, index + 1, range.startDate, range.endDate, true, false,
                       sinks, &error)) {
      differences = true;
    }
    if (!error.empty() && errors) errors->push_back({index + 1, error});
    if (hooks.finished) hooks.finished(index);
  }
  return differences;
}

}  // namespace tallyvet
