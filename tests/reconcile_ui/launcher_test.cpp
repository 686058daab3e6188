// The launcher: its lists, the range kinds, validation, the dates a range stands for, progress,
// and a run's screen states.
#include <gtest/gtest.h>

#include <fstream>

#include "reconcile_ui/account_set.h"
#include "reconcile_ui/compare_screen.h"
#include "reconcile_ui/launcher.h"

namespace tallyvet {
namespace {

using std::chrono::day;
using std::chrono::month;
using std::chrono::year;
using testing::AccountSet;
using testing::ScriptedMessageBox;

CivilDate Date(int y, unsigned m, unsigned d) {
  return CivilDate{year{y}, month{m}, day{d}};
}

struct Launcher {
  explicit Launcher(CivilDate today = Date(2005, 3, 15)) : today(today) {}
  CompareScreen& Open() {
    screen = std::make_unique<CompareScreen>(
        set.ctx, messages, ReportFile(set.dir.path()),
        CompareScreen::Hooks{[this] { ++refreshes; }, [this](ReportScreen&) { ++reportsShown; },
                             [this](const std::filesystem::path& p) { opened.push_back(p); },
                             [this] { ++closed; }},
        [this] { return this->today; });
    return *screen;
  }
  AccountSet set;
  ScriptedMessageBox messages;
  CivilDate today;
  std::unique_ptr<CompareScreen> screen;
  int refreshes = 0;
  int reportsShown = 0;
  int closed = 0;
  std::vector<std::filesystem::path> opened;
};

TEST(LauncherSql, StatementsAreTheHostsOwn) {
  EXPECT_EQ(AccountSetSql("demo"), "SELECT strUserName,strVer,strStartDate FROM demo.Business");
  EXPECT_EQ(PeriodListSql("demo"),
            "SELECT intYear,bytPeriod FROM demo.AccountPeriod ORDER BY intYear,bytPeriod");
  EXPECT_EQ(PeriodDatesSql("demo", "0000.00", "2005.03"),
            "SELECT strStartDate,strEndDate FROM demo.AccountPeriod WHERE intYear || '.' || "
            "LPAD(bytPeriod,2,'0')>=0000.00 AND intYear || '.' || LPAD(bytPeriod,2,'0')<=2005.03 "
            "ORDER BY intYear,bytPeriod");
  EXPECT_EQ(PeriodEntry(2004, 3), "2004.03");
  EXPECT_EQ(PeriodEntry(2004, 12), "2004.12");
}

TEST(LauncherLoad, ListsHoldOpeningThenPeriodsAndSelectTheCurrentMonth) {
  Launcher l(Date(2005, 3, 15));
  l.set.Business("演示账套", "2005-01-01");
  l.set.Periods(2005);
  CompareScreen& s = l.Open();
  EXPECT_EQ(s.lblUser(0), "用户名：demo");
  EXPECT_EQ(s.lblUser(1), "账套名：演示账套");
  EXPECT_EQ(l.set.ctx.AccountStartDate, "2005-01-01");
  ASSERT_EQ(s.cboPeriod(0).entries.size(), 13u);
  EXPECT_EQ(s.cboPeriod(0).entries.front(), "期初");
  EXPECT_EQ(s.cboPeriod(0).entries[3], "2005.03");
  EXPECT_EQ(s.cboPeriod(1).entries, s.cboPeriod(0).entries);
  EXPECT_EQ(s.cboPeriod(0).Text(), "2005.03");
  EXPECT_EQ(s.cboPeriod(1).Text(), "2005.03");
  EXPECT_EQ(s.cboPeriod(2).entries, (std::vector<std::string>{"期间", "本日", "本周"}));
  EXPECT_EQ(s.cboPeriod(2).Text(), "期间");
  EXPECT_TRUE(s.cboPeriod(0).enabled);
  // Idle state and design captions.
  EXPECT_EQ(s.Height(), 5070);
  EXPECT_FALSE(s.ProgressVisible());
  EXPECT_EQ(s.cmdSel(0).caption, "开始对账");
  EXPECT_EQ(s.cmdSel(2).caption, "查看对账报告");
  EXPECT_EQ(s.chkItem(5).caption, "检查总账与存货账");
  EXPECT_EQ(s.ItemCaption(1), "检查库存账");
}

TEST(LauncherLoad, WithoutCurrentMonthTheLatestPeriodIsSelected) {
  Launcher l(Date(2007, 6, 1));
  l.set.Business("演示账套", "2005-01-01");
  l.set.Periods(2005, 1, 4);
  CompareScreen& s = l.Open();
  EXPECT_EQ(s.cboPeriod(0).Text(), "2005.04");
  EXPECT_EQ(s.cboPeriod(1).Text(), "2005.04");
}

TEST(LauncherLoad, AccountSetWithoutRowOrPeriodsOffersOnlyOpeningBalances) {
  Launcher l;
  l.set.ctx.AccountStartDate = "2001-01-01";
  CompareScreen& s = l.Open();
  EXPECT_EQ(s.lblUser(1), "账套名：(未知)");
  EXPECT_EQ(l.set.ctx.AccountStartDate, "2001-01-01");  // left as it was
  EXPECT_EQ(s.cboPeriod(0).entries, std::vector<std::string>{"期初"});
  EXPECT_EQ(s.cboPeriod(0).selected, 0);
  EXPECT_EQ(s.cboPeriod(1).selected, 0);
}

TEST(LauncherRangeKind, OnlyPeriodsEnableTheStartAndEndLists) {
  Launcher l;
  l.set.Periods(2005);
  CompareScreen& s = l.Open();
  const int startBefore = s.cboPeriod(0).selected;
  s.SelectPeriod(2, 1);  // 本日
  EXPECT_FALSE(s.cboPeriod(0).enabled);
  EXPECT_FALSE(s.cboPeriod(1).enabled);
  EXPECT_EQ(s.cboPeriod(0).selected, startBefore);
  s.SelectPeriod(2, 2);  // 本周
  EXPECT_FALSE(s.cboPeriod(1).enabled);
  s.SelectPeriod(0, 1);  // a change of list 0 does not act
  EXPECT_FALSE(s.cboPeriod(0).enabled);
  s.SelectPeriod(2, 0);
  EXPECT_TRUE(s.cboPeriod(0).enabled);
  EXPECT_TRUE(s.cboPeriod(1).enabled);
}

TEST(LauncherValidation, PeriodMessageComesFirstWhateverTheRangeKind) {
  Launcher l;
  l.set.Business("演示账套", "2005-01-01");
  l.set.Periods(2005);
  CompareScreen& s = l.Open();
  s.SelectPeriod(0, 5);
  s.SelectPeriod(1, 2);
  s.SelectPeriod(2, 1);  // 本日: the period test is still made on the list positions
  s.CmdSelClick(0);      // nothing ticked either: only the period message
  ASSERT_EQ(l.messages.shown.size(), 1u);
  EXPECT_EQ(l.messages.shown[0].text, "开始对账期间不能大于截止对账期间!");
  EXPECT_EQ(l.messages.shown[0].title, "警告");
  EXPECT_EQ(l.messages.shown[0].icon, MessageIcon::Error);

  s.SelectPeriod(1, 5);
  s.CmdSelClick(0);
  ASSERT_EQ(l.messages.shown.size(), 2u);
  EXPECT_EQ(l.messages.shown[1].text, "请选择对账项目!");
  EXPECT_EQ(l.messages.shown[1].title, "警告");
  EXPECT_EQ(s.cmdSel(0).caption, "开始对账");  // nothing ran
  EXPECT_EQ(l.reportsShown, 0);

  EXPECT_EQ(ValidateRun(2, 2, true), "");
  EXPECT_EQ(ValidateRun(3, 2, true), "开始对账期间不能大于截止对账期间!");
}

TEST(PeriodRangeToDates, PeriodsOpeningBalancesTodayAndThisWeek) {
  AccountSet set;
  set.Business("演示账套", "2005-01-01");
  set.Periods(2005);
  set.ctx.AccountStartDate = "2005-01-01";
  const CivilDate wednesday = Date(2005, 3, 16);
  auto range = [&](std::string_view kind, std::string_view from, std::string_view to,
                   CivilDate today) {
    const DateRange r = PeriodRangeToDates(set.ctx, kind, from, to, today);
    return r.startDate + "|" + r.endDate;
  };
  // Opening balances only: from the beginning to the day before the account set starts.
  EXPECT_EQ(range("期间", "期初", "期初", wednesday), " |2004-12-31");
  EXPECT_EQ(range("期间", "期初", "2005.02", wednesday), " |2005-02-28");
  EXPECT_EQ(range("期间", "2005.02", "2005.04", wednesday), "2005-02-01|2005-04-28");
  EXPECT_EQ(range("期间", "2005.10", "2005.12", wednesday), "2005-10-01|2005-12-28");
  EXPECT_EQ(range("本日", "期初", "期初", wednesday), "2005-03-16|2005-03-16");
  EXPECT_EQ(range("本周", "期初", "期初", wednesday), "2005-03-14|2005-03-18");
  // A Sunday belongs to the week that began six days before it.
  EXPECT_EQ(range("本周", "期初", "期初", Date(2005, 3, 20)), "2005-03-14|2005-03-18");
  EXPECT_EQ(range("本周", "期初", "期初", Date(2005, 3, 14)), "2005-03-14|2005-03-18");
  // Across a month end.
  EXPECT_EQ(range("本周", "期初", "期初", Date(2005, 3, 1)), "2005-02-28|2005-03-04");
  EXPECT_THROW(range("本月", "期初", "期初", wednesday), std::invalid_argument);
}

// A range of opening balances needs the account set's start; without one it must not run.
TEST(PeriodRangeToDates, OpeningBalancesWithoutValidStartDateAreRefused) {
  AccountSet set;
  set.ctx.AccountStartDate = "";
  EXPECT_THROW(PeriodRangeToDates(set.ctx, "期间", "期初", "期初", Date(2005, 3, 1)),
               std::runtime_error);
  // With a period row the end comes from the row and the start date is not needed.
  set.Periods(2005, 1, 1);
  const DateRange r = PeriodRangeToDates(set.ctx, "期间", "期初", "2005.01", Date(2005, 3, 1));
  EXPECT_EQ(r.endDate, "2005-01-28");
}

TEST(LauncherProgress, EachWrapAppendsOneMoreLapCounter) {
  Launcher l;
  CompareScreen& s = l.Open();
  s.SetNotes("正在准备数据.....");
  s.ShowProgress(50);
  EXPECT_EQ(s.ProgressValue(), 50);
  s.ShowProgress(100);
  EXPECT_EQ(s.ProgressValue(), 0);
  EXPECT_EQ(s.NotesCaption(), "正在准备数据.....01");
  s.ShowProgress(120);
  s.ShowProgress(100);
  EXPECT_EQ(s.NotesCaption(), "正在准备数据.....010203");
  EXPECT_GT(l.refreshes, 0);
}

TEST(LauncherReportButton, OpensCompareTxtOnlyWhenItExists) {
  Launcher l;
  CompareScreen& s = l.Open();
  s.CmdSelClick(2);
  EXPECT_TRUE(l.opened.empty());
  std::ofstream(l.set.dir.path() / "Compare.txt") << "x";
  s.CmdSelClick(2);
  ASSERT_EQ(l.opened.size(), 1u);
  EXPECT_EQ(l.opened[0], l.set.dir.path() / "Compare.txt");
  s.CmdSelClick(1);
  EXPECT_EQ(l.closed, 1);
}

// A comparison that stops on an error still counts as a run with differences (the report screen
// opens), and the screen comes back to its idle state with every caption black again.
TEST(LauncherRun, FailedComparisonShowsReportAndRestoresIdleState) {
  Launcher l;
  l.set.Business("演示账套", "2005-01-01");
  l.set.Periods(2005);
  // The host's stored source is missing: the derived SQL stays empty and the comparison fails.
  l.set.Script(
      "CREATE TABLE ALL_SOURCE (OWNER TEXT, NAME TEXT, TYPE TEXT, LINE INTEGER, TEXT TEXT)");
  CompareScreen& s = l.Open();
  s.SetItemValue(0, 1);
  s.SetItemValue(2, 2);  // grayed counts as ticked
  l.refreshes = 0;
  s.CmdSelClick(0);
  EXPECT_EQ(l.reportsShown, 1);
  EXPECT_EQ(s.ReportScreenInstance(), nullptr);  // dropped after it was shown
  ASSERT_EQ(s.LastRunErrors().size(), 2u);
  EXPECT_EQ(s.LastRunErrors()[0].item, 1);
  EXPECT_EQ(s.LastRunErrors()[1].item, 3);
  EXPECT_EQ(s.Height(), 5070);
  EXPECT_FALSE(s.ProgressVisible());
  EXPECT_FALSE(s.NotesVisible());
  EXPECT_EQ(s.cmdSel(0).caption, "开始对账");
  EXPECT_TRUE(s.cmdSel(0).enabled);
  EXPECT_FALSE(s.Hourglass());
  for (int i = 0; i < 6; ++i) EXPECT_EQ(s.chkItem(i).foreColor, 0);
  EXPECT_FALSE(l.set.ctx.dictionary.IsBuilt());  // released after the run
  EXPECT_TRUE(l.messages.shown.empty());
  EXPECT_TRUE(std::filesystem::exists(l.set.dir.path() / "Compare.txt"));
}

// The screen's state during a run, seen from the engine's side through the refresh hook.
TEST(LauncherRun, RunningStateIsShownWhileItemsRun) {
  Launcher l;
  l.set.Business("演示账套", "2005-01-01");
  l.set.Periods(2005);
  l.set.Script(
      "CREATE TABLE ALL_SOURCE (OWNER TEXT, NAME TEXT, TYPE TEXT, LINE INTEGER, TEXT TEXT)");
  bool sawRunning = false;
  bool sawRed = false;
  CompareScreen* screen = nullptr;
  l.screen = std::make_unique<CompareScreen>(
      l.set.ctx, l.messages, ReportFile(l.set.dir.path()),
      CompareScreen::Hooks{[&] {
                             if (!screen) return;
                             sawRunning = sawRunning ||
                                          (screen->Height() == 5760 && !screen->cmdSel(0).enabled &&
                                           screen->cmdSel(0).caption == "对账......" &&
                                           screen->ProgressVisible());
                             sawRed = sawRed || screen->chkItem(1).foreColor == 255;
                           },
                           nullptr, nullptr, nullptr},
      [&] { return l.today; });
  screen = l.screen.get();
  screen->SetItemValue(1, 1);
  EXPECT_TRUE(screen->RunSelectedItems());
  EXPECT_TRUE(sawRunning);
  EXPECT_TRUE(sawRed);
  ASSERT_NE(screen->ReportScreenInstance(), nullptr);
  EXPECT_EQ(screen->ReportScreenInstance()->lblDate(), "期间:2005.03—2005.03");
  EXPECT_EQ(screen->ReportScreenInstance()->lblUser(), "用户名：demo 账套名：演示账套");
}

// A run that cannot even start (no valid start date for opening balances) is told to the user
// and leaves the screen idle instead of escaping the event handler.
TEST(LauncherRun, ErrorBeforeTheItemsIsShownAndScreenStaysUsable) {
  Launcher l;
  CompareScreen& s = l.Open();  // no Business row: AccountStartDate empty, only 期初
  s.SetItemValue(0, 1);
  s.CmdSelClick(0);
  ASSERT_EQ(l.messages.shown.size(), 1u);
  EXPECT_EQ(l.messages.shown[0].title, "对账");
  EXPECT_EQ(l.messages.shown[0].icon, MessageIcon::Error);
  EXPECT_EQ(s.cmdSel(0).caption, "开始对账");
  EXPECT_EQ(s.Height(), 5070);
  EXPECT_FALSE(s.Hourglass());
}

}  // namespace
}  // namespace tallyvet
