// The launcher: its lists, the range kinds, validation, the dates a range stands for, and a run's
// screen states.
#include <gtest/gtest.h>

#include "reconcile_ui/account_set.h"
#include "reconcile_ui/compare_screen.h"
#include "reconcile_ui/launcher.h"

namespace tallyvet {
namespace {

using testing::AccountSet;

CivilDate Date(int y, unsigned m, unsigned d) {
  return CivilDate{std::chrono::year{y}, std::chrono::month{m}, std::chrono::day{d}};
}

struct Launcher {
  CompareScreen& Open(CivilDate today = Date(2005, 3, 15)) {
    CompareScreen::Hooks hooks{
        [this] {
          if (onRefresh && screen) onRefresh(*screen);
        },
        [this](ReportScreen& r) { events.push_back("report " + r.lblUser() + " " + r.lblDate()); },
        [this](const std::filesystem::path& p) {
          events.push_back("open " + p.lexically_relative(set.dir.path()).string());
        },
        [this] { events.push_back("close"); }};
    screen = std::make_unique<CompareScreen>(set.ctx, messages, ReportFile(set.dir.path()), hooks,
                                             [today] { return today; });
    return *screen;
  }
  AccountSet set;
  testing::ScriptedMessageBox messages;
  std::unique_ptr<CompareScreen> screen;
  std::function<void(CompareScreen&)> onRefresh;
  std::vector<std::string> events;  // what the hooks were asked to do, in order
};

TEST(LauncherLoad, ListsHoldOpeningThenPeriodsAndSelectTheCurrentMonthElseTheLast) {
  struct Case {
    CivilDate today;
    int periods;  // 0: no account set row and no periods
    std::string account, selected;
  };
  for (const Case& c : {Case{Date(2005, 3, 15), 12, "账套名：演示账套", "2005.03"},
                        Case{Date(2007, 6, 1), 4, "账套名：演示账套", "2005.04"},
                        Case{Date(2005, 3, 15), 0, "账套名：(未知)", "期初"}}) {
    Launcher l;
    l.set.ctx.AccountStartDate = "2001-01-01";
    if (c.periods > 0) l.set.Periods(1, c.periods);
    CompareScreen& s = l.Open(c.today);
    EXPECT_EQ(s.lblUser(0) + " " + s.lblUser(1), "用户名：demo " + c.account);
    // Without a row the start date is left as it was.
    EXPECT_EQ(l.set.ctx.AccountStartDate, c.periods > 0 ? "2005-01-01" : "2001-01-01");
    ASSERT_EQ(s.cboPeriod(0).entries.size(), c.periods + 1u);
    EXPECT_EQ(s.cboPeriod(0).entries.front(), "期初");
    EXPECT_EQ(s.cboPeriod(1).entries, s.cboPeriod(0).entries);
    EXPECT_EQ(s.cboPeriod(0).Text(), c.selected);
    EXPECT_EQ(s.cboPeriod(1).Text(), c.selected);
  }
}

TEST(LauncherLists, OnlyPeriodsEnableStartAndEndAndThePeriodMessageComesFirst) {
  Launcher l;
  l.set.Periods();
  CompareScreen& s = l.Open();
  EXPECT_EQ(s.cboPeriod(2).Text(), "期间");
  s.SelectPeriod(0, 5);
  s.SelectPeriod(1, 2);
  s.SelectPeriod(2, 1);  // 本日
  EXPECT_FALSE(s.cboPeriod(0).enabled || s.cboPeriod(1).enabled);
  EXPECT_EQ(s.cboPeriod(0).selected, 5);
  s.SelectPeriod(0, 4);  // a change of list 0 does not act
  EXPECT_FALSE(s.cboPeriod(0).enabled);
  s.SelectPeriod(2, 2);  // 本周
  EXPECT_FALSE(s.cboPeriod(1).enabled);

  // The period test is made on the list positions whatever the range kind, and before the items.
  s.CmdSelClick(0);
  EXPECT_EQ(l.messages.said,
            std::vector<std::string>{"警告 [e] 开始对账期间不能大于截止对账期间!"});
  s.SelectPeriod(2, 0);
  EXPECT_TRUE(s.cboPeriod(0).enabled && s.cboPeriod(1).enabled);
  s.SelectPeriod(1, 4);
  s.CmdSelClick(0);
  EXPECT_EQ(l.messages.said.back(), "警告 [e] 请选择对账项目!");
  EXPECT_TRUE(l.events.empty());  // nothing ran
}

TEST(PeriodRangeToDates, PeriodsOpeningBalancesTodayAndThisWeek) {
  AccountSet set;
  set.Periods();
  set.ctx.AccountStartDate = "2005-01-01";
  struct Case {
    const char *kind, *from, *to;
    CivilDate today;
    std::string dates;
  };
  const CivilDate wednesday = Date(2005, 3, 16);
  for (const Case& c : {
           // Opening balances only: from the beginning to the day before the account set starts.
           Case{"期间", "期初", "期初", wednesday, " |2004-12-31"},
           Case{"期间", "期初", "2005.02", wednesday, " |2005-02-28"},
           Case{"期间", "2005.02", "2005.04", wednesday, "2005-02-01|2005-04-28"},
           Case{"期间", "2005.10", "2005.12", wednesday, "2005-10-01|2005-12-28"},
           Case{"本日", "期初", "期初", wednesday, "2005-03-16|2005-03-16"},
           Case{"本周", "期初", "期初", wednesday, "2005-03-14|2005-03-18"},
           // A Sunday belongs to the week that began six days before it.
           Case{"本周", "期初", "期初", Date(2005, 3, 20), "2005-03-14|2005-03-18"},
           Case{"本周", "期初", "期初", Date(2005, 3, 14), "2005-03-14|2005-03-18"},
           Case{"本周", "期初", "期初", Date(2005, 3, 1), "2005-02-28|2005-03-04"},
       }) {
    const DateRange r = PeriodRangeToDates(set.ctx, c.kind, c.from, c.to, c.today);
    EXPECT_EQ(r.startDate + "|" + r.endDate, c.dates) << c.kind << " " << c.from << "-" << c.to;
  }
  EXPECT_THROW(PeriodRangeToDates(set.ctx, "本月", "期初", "期初", wednesday),
               std::invalid_argument);
  EXPECT_EQ(PeriodDatesSql("demo", "0000.00", "2005.03"),
            "SELECT strStartDate,strEndDate FROM demo.AccountPeriod WHERE intYear || '.' || "
            "LPAD(bytPeriod,2,'0')>=0000.00 AND intYear || '.' || LPAD(bytPeriod,2,'0')<=2005.03 "
            "ORDER BY intYear,bytPeriod");
}

// A range of opening balances needs the account set's start; without one it must not run.
TEST(PeriodRangeToDates, OpeningBalancesWithoutValidStartDateAreRefused) {
  AccountSet set;
  set.ctx.AccountStartDate = "";
  EXPECT_THROW(PeriodRangeToDates(set.ctx, "期间", "期初", "期初", Date(2005, 3, 1)),
               std::runtime_error);
  // With a period row the end comes from the row and the start date is not needed.
  set.Periods(1, 1);
  EXPECT_EQ(PeriodRangeToDates(set.ctx, "期间", "期初", "2005.01", Date(2005, 3, 1)).endDate,
            "2005-01-28");
}

// A comparison that stops on an error still counts as a run with differences (the report screen
// opens), and the screen comes back to its idle state with every caption black again. The report
// it wrote opens from "查看对账报告".
TEST(LauncherRun, FailedComparisonShowsReportAndRestoresIdleState) {
  Launcher l;
  l.set.Periods();
  // Stored source without the ledger functions: every comparison stops on an error.
  l.set.Script(
      "CREATE TABLE ALL_SOURCE (OWNER TEXT, NAME TEXT, TYPE TEXT, LINE INTEGER, TEXT TEXT);"
      "INSERT INTO ALL_SOURCE VALUES ('DEMO', 'MDLITEM', 'PACKAGE BODY', 1, 'END;' || char(10))");
  bool sawRunning = false, sawRed = false;
  l.onRefresh = [&](CompareScreen& s) {
    sawRunning = sawRunning || (s.Height() == 5760 && !s.cmdSel(0).enabled &&
                                s.cmdSel(0).caption == "对账......" && s.ProgressVisible());
    sawRed = sawRed || s.chkItem(2).foreColor == 255;
  };
  CompareScreen& s = l.Open();
  s.CmdSelClick(2);  // no report yet: nothing to open
  s.SetItemValue(0, 1);
  s.SetItemValue(2, 2);  // grayed counts as ticked
  s.CmdSelClick(0);
  EXPECT_TRUE(sawRunning);
  EXPECT_TRUE(sawRed);
  EXPECT_EQ(s.ReportScreenInstance(), nullptr);  // dropped after it was shown
  ASSERT_EQ(s.LastRunErrors().size(), 2u);
  EXPECT_EQ(s.LastRunErrors()[0].item, 1);
  EXPECT_EQ(s.LastRunErrors()[1].item, 3);
  EXPECT_TRUE(s.Height() == 5070 && !s.ProgressVisible() && !s.NotesVisible() && !s.Hourglass());
  EXPECT_TRUE(s.cmdSel(0).enabled && s.cmdSel(0).caption == "开始对账");
  for (int i = 0; i < 6; ++i) EXPECT_EQ(s.chkItem(i).foreColor, 0);
  EXPECT_FALSE(l.set.ctx.dictionary.IsBuilt());  // released after the run
  EXPECT_TRUE(l.messages.said.empty());
  s.CmdSelClick(2);
  s.CmdSelClick(1);
  EXPECT_EQ(l.events,
            (std::vector<std::string>{"report 用户名：demo 账套名：演示账套 期间:2005.03—2005.03",
                                      "open Compare.txt", "close"}));
}

// A run that cannot even start (no valid start date for opening balances) is told to the user
// and leaves the screen idle instead of escaping the event handler.
TEST(LauncherRun, ErrorBeforeTheItemsIsShownAndScreenStaysUsable) {
  Launcher l;
  CompareScreen& s = l.Open();  // no Business row: AccountStartDate empty, only 期初
  s.SetItemValue(0, 1);
  s.CmdSelClick(0);
  ASSERT_EQ(l.messages.said.size(), 1u);
  EXPECT_EQ(l.messages.said[0].rfind("对账 [e] ", 0), 0u) << l.messages.said[0];
  EXPECT_TRUE(s.cmdSel(0).caption == "开始对账" && s.Height() == 5070 && !s.Hourglass());
}

TEST(LauncherReportFolder, SaysWhereReportsGoOnlyWhenItIsTheUsersFolder) {
  EXPECT_EQ(ReportFolderNote({"/opt/tallyvet/lib", true}, "/home/ann"), "");
  EXPECT_EQ(ReportFolderNote({"/home/ann/.local/state/tallyvet", false}, "/home/ann"),
            "报告保存在：~/.local/state/tallyvet（程序文件夹不可写）");
  // Only a whole leading folder is written "~".
  EXPECT_EQ(ReportFolderNote({"/home/anne/state/tallyvet", false}, "/home/ann"),
            "报告保存在：/home/anne/state/tallyvet（程序文件夹不可写）");
  EXPECT_EQ(ReportFolderNote({"/var/state/tallyvet", false}, nullptr),
            "报告保存在：/var/state/tallyvet（程序文件夹不可写）");
}

}  // namespace
}  // namespace tallyvet
