// The check screen driven as a user would: load, check, mark, adjust, close.
#include "receipt_audit/check_activity_screen.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "receipt_audit/account_set_fixture.h"
#include "receipt_audit/adjustment_preview.h"

namespace tallyvet::receipt_audit {
namespace {

using fixture::AccountSet;
using Strings = std::vector<std::string>;

// A loaded screen on `set`.
struct Screen {
  explicit Screen(AccountSet& set) : screen(set.ctx, box) { screen.Form_Load(); }
  CheckActivityScreen* operator->() { return &screen; }
  const CheckGrid::Row& row(int r) const { return screen.MSFlexGrid1().cells.at(r); }
  // Button 0 twice: the checks, then the adjustment.
  const AdjustmentOutcome& CheckAndAdjust() {
    screen.cmdRpt_Click(0);
    screen.cmdRpt_Click(0);
    return screen.LastAdjustment().value();
  }
  fixture::RecordingMessageBox box;
  CheckActivityScreen screen;
};

std::string Key(int line) {
  return "lngActivityDetailID=" + std::to_string(line);
}

TEST(CheckScreenLoad, ShowsUserAccountSetAndVersionOrTheUserAlone) {
  AccountSet set("9.00.1234"), noTable;
  noTable.db().Execute("DROP TABLE Business");  // a failing account query is not an error
  Screen s(set), t(noTable);
  EXPECT_EQ(s->lblUser() + "|" + s->AccountSetVersion(), "用户名:tester    账套名:演示账套|9.00");
  EXPECT_EQ(t->lblUser() + "|" + t->AccountSetVersion(), "用户名:tester|");
}

TEST(RunChecks, ListsEachKindDescribedAndTheAdjustmentWritesEachBack) {
  AccountSet set;
  const int planned =
      set.inbound_line({.date = "2025-01-02", .amount = 40, .cost = 40, .avg = 38, .plan = 2});
  // A difference below 0.00005 shows as 0 but is listed.
  const int outbound =
      set.outbound_line({.date = "2025-02-10", .amount = 20, .cost = 20.00003, .avg = 21});
  const int inbound = set.inbound_line(
      {.date = "2025-03-05", .item = 2, .position = 2, .amount = 10, .cost = 12, .avg = 10});
  const auto pair = set.transfer_pair({.date = "2025-04-01", .avg = -12.345},
                                      {.date = "2025-04-02", .amount = 1, .cost = 0.5}, 1);
  const auto out = set.transfer_pair({.date = "2025-04-03", .amount = 3, .cost = 3, .avg = 5},
                                     {.date = "2025-04-03", .avg = 5}, 1);
  set.inbound_line({.date = "2025-01-01", .amount = 9, .cost = 9, .avg = 9});  // agrees
  const int locked = set.inbound_line({.date = "2025-05-01", .amount = 1, .cost = 2, .avg = 1});
  set.db().ExecuteScript("CREATE TRIGGER locked BEFORE UPDATE ON ItemActivityDetail WHEN old." +
                         Key(locked) + " BEGIN SELECT RAISE(ABORT, 'line is locked'); END;");
  Screen s(set);
  s->cmdRpt_Click(0);
  ASSERT_EQ(s->Findings().size(), 6u) << s->LastError();
  const Strings expected[] = {{Key(pair.second), "转仓单", "-12.345", "1.5", "-13.845", "√"},
                              {Key(out.first), "转仓单", "5", "6", "-1", "√"},
                              {Key(inbound), "入库单", "12", "10", "2", "√"},
                              {Key(locked), "入库单", "2", "1", "1", "√"},
                              {Key(outbound), "出库单", "20.00003", "20", "0", "√"},
                              {Key(planned), "计划价", "40", "38", "2", "√"}};
  for (int r = 1; r <= 6; ++r) {
    const auto& row = s.row(r);
    EXPECT_EQ((Strings{row[0], row[1], row[3], row[4], row[5], row[6]}), expected[r - 1]);
  }
  // Five lines of description; the pair's row describes the issuing document.
  EXPECT_EQ(s.row(1)[2],
            "日期=2025-04-01\r\n业务类型=转仓出库\r\n单据号=R1005\r\n物品=BOLT-8\r\n货位=A01\r\n");
  EXPECT_EQ(s->EarliestDate(), "2025-01-02");  // every check lowers it; agreeing lines do not
  // The second pass advances the bar once per listed row, on top of the first pass's steps.
  EXPECT_GE(s->ProgressValue(), 6);
  // The account query, then one code lookup per distinct item, position and receipt type.
  const auto lookup = [](const std::string& sql) { return sql.starts_with("SELECT str"); };
  EXPECT_EQ(std::ranges::count_if(set.spy().opened, lookup), 1 + 2 + 2 + 3);

  // Each kind is written back its own way (see WriteBackSql); the transfer's amount text as the
  // grid shows it.
  s->cmdRpt_Click(0);
  EXPECT_EQ(set.LineValue(pair.second, "dblAvgCostAmount"), -12.345);
  // A failed write-back is marked "错误" and the run goes on; written rows show agreeing figures.
  for (int r = 1; r <= 6; ++r) {
    EXPECT_EQ(s.row(r)[4] + "|" + s.row(r)[5] + s.row(r)[6],
              r == 4 ? "1|1错误" : s.row(r)[3] + "|");
  }
  EXPECT_TRUE(s.box.shown.empty());  // the row's mark is the report
  s->cmdRpt_Click(2);  // after the adjustment: "错误" clears, written rows are marked
  EXPECT_EQ(s.row(4)[6] + "|" + s.row(5)[6], "|√");
  Screen again(set);
  again->cmdRpt_Click(0);
  ASSERT_EQ(again->Findings().size(), 1u);
  EXPECT_EQ(again.row(1)[0], Key(locked));
}

// A row left over from a run stopped by a failure must not be adjusted by a later run that flags
// nothing.
TEST(RunChecks, FailureKeepsTheRowsFoundAndACleanRerunLeavesNoneBehind) {
  AccountSet set;
  const auto same = set.transfer_pair({.amount = 1, .cost = 1, .avg = 1}, {.avg = 1}, 1);
  const int inbound = set.inbound_line({.amount = 1, .cost = 2, .avg = 1});
  set.spy().failQuery = [](const std::string& sql) {
    return sql.find("IN (1,3,5,32,9,8,10,30,41)") != sql.npos;
  };
  Screen s(set);
  s->cmdRpt_Click(0);
  EXPECT_EQ(s->cmdRpt(0).caption + "|" + s.row(1)[0], "开始检查|" + Key(same.first));
  EXPECT_TRUE(s->LastError().starts_with("scripted failure")) << s->LastError();
  EXPECT_EQ(s->Height(), kHeightResting);

  set.spy().failQuery = nullptr;
  set.db().Execute("DELETE FROM ItemActivityDetail WHERE lngActivityDetailID IN (" +
                   std::to_string(same.first) + "," + std::to_string(inbound) + ")");
  s->cmdRpt_Click(0);
  EXPECT_EQ(s->cmdRpt(0).caption + "|" + s->EarliestDate(), "开始调整|9999-12-31");
  EXPECT_EQ(s->MSFlexGrid1().cells, (std::vector<CheckGrid::Row>{s.row(0), {}}));
  s->cmdRpt_Click(0);
  EXPECT_TRUE(s->LastAdjustment()->writeBacks.empty());
}

// Per period and item, and outside 8.10 per position group, the latest line absorbs the group's
// difference rounded to cents.
TEST(AverageCost, LatestLineOfEachGroupAbsorbsTheRoundedDifference) {
  for (const std::string version : {"9.00", "8.10"}) {
    SCOPED_TRACE(version);
    AccountSet set(version);
    set.outbound_line({.date = "2025-01-05", .amount = 5, .cost = 5, .avg = 5});
    const int late = set.outbound_line({.date = "2025-01-20", .amount = 3, .cost = 3, .avg = 2.5});
    set.outbound_line({.date = "2025-02-03", .amount = 1, .cost = 1, .avg = 1});
    // In another position group, and below half a cent.
    const int other = set.outbound_line(
        {.date = "2025-01-25", .position = 2, .amount = 1.004, .cost = 1.004, .avg = 1});
    Screen s(set);
    Strings statements;
    for (const auto& u : s.CheckAndAdjust().averageCostUpdates) statements.push_back(u.statement);
    const std::string add = "UPDATE ItemActivityDetail SET dblAvgCostAmount=dblAvgCostAmount+";
    if (version == "8.10") {
      EXPECT_EQ(statements, Strings{add + "0.5 WHERE " + Key(other)});
      EXPECT_EQ(set.LineValue(other, "dblAvgCostAmount"), 1.5);
    } else {
      EXPECT_EQ(statements,
                (Strings{add + "0.5 WHERE " + Key(late), add + "0 WHERE " + Key(other)}));
      EXPECT_EQ(set.LineValue(late, "dblAvgCostAmount"), 3);
      EXPECT_EQ(s->EarliestDate(), "2025-01-20");
    }
  }
}

// A failing query stops the average-cost phase only: what is written stays, the message is shown,
// later groups are skipped, and the stock ledger is still rebuilt, from the earliest date on.
TEST(AverageCost, FailingQueryStopsThePhaseReportsAndStillRebuildsTheLedger) {
  AccountSet set;
  const int written = set.inbound_line({.date = "2025-03-01", .amount = 1, .cost = 2, .avg = 1});
  std::vector<int> lines;
  for (int item : {1, 2, 3})
    lines.push_back(set.outbound_line({.item = item, .amount = 5, .cost = 5, .avg = 4}));
  set.db().ExecuteScript(
      "INSERT INTO PositionDaily VALUES ('2025-01-01',1,1,9,9,9), "
      "('2025-06-01',1,1,5,5,5);");
  // The group statement runs; the search for item 2's line fails.
  set.spy().failQuery = [](const std::string& sql) { return sql.find("lngItemID=2 ") != sql.npos; };
  Screen s(set);
  const AdjustmentOutcome& outcome = s.CheckAndAdjust();
  EXPECT_EQ(s.box.shown, Strings{"错误|scripted failure"});
  EXPECT_EQ(outcome.averageCostError, "scripted failure");
  ASSERT_EQ(outcome.averageCostUpdates.size(), 1u);
  EXPECT_EQ(set.LineValue(lines[0], "dblAvgCostAmount"), 5);
  EXPECT_EQ(set.LineValue(lines[2], "dblAvgCostAmount"), 4);
  EXPECT_EQ(set.LineValue(written, "dblAmount"), 2);
  EXPECT_TRUE(outcome.reregistered.value_or(false));
  EXPECT_EQ(set.Scalar("SELECT group_concat(strDate||':'||dblCostOut) FROM PositionDaily WHERE "
                       "lngItemID=1"),
            db::Value("2025-01-01:9.0,2025-01-10:5.0,2025-03-01:2.0"));
  EXPECT_FALSE(set.ctx.dictionary.CodeTextCache.has_value());
  EXPECT_EQ(s->Height(), kHeightResting);
}

// A stock ledger that could not be rebuilt no longer agrees with the lines: the screen must say
// so instead of ending as if all went well.
TEST(StockLedger, FailedRebuildIsReportedAndTheLedgerKept) {
  AccountSet set;
  const int line = set.inbound_line({.date = "2025-03-05", .amount = 10, .cost = 12, .avg = 10});
  set.db().ExecuteScript(
      "DELETE FROM ALL_SOURCE; INSERT INTO PositionDaily VALUES "
      "('2025-06-01',1,1,5,5,5);");
  Screen s(set);
  s->cmdRpt_Click(0);
  s->cmdRpt_Click(2);  // unmarked rows are left alone
  s->cmdRpt_Click(0);
  const AdjustmentOutcome& outcome = *s->LastAdjustment();
  EXPECT_EQ(set.LineValue(line, "dblAmount"), 10);
  EXPECT_EQ(outcome.reregistered, std::optional<bool>(false));
  EXPECT_EQ(s.box.shown, Strings{"错误|" + outcome.reregistrationError.value_or("no error")});
  EXPECT_EQ(set.Scalar("SELECT count(*) FROM PositionDaily WHERE strDate='2025-06-01'"), 1);
  s->cmdRpt_Click(1);
  EXPECT_FALSE(set.ctx.dictionary.IsBuilt());  // closing releases the dictionary
}

TEST(Preview, ListsWhatTheAdjustmentWouldWriteAndChangesNothing) {
  AccountSet set;
  // The write-back of this line also removes its group's average-cost difference, while the
  // other group needs an update of its own.
  const int line = set.outbound_line({.amount = 20, .cost = 21, .avg = 20});
  const int other = set.outbound_line({.date = "2025-02-10", .amount = 8, .cost = 8, .avg = 7});
  Screen s(set);
  s->cmdRpt_Click(0);
  const AdjustmentOutcome outcome = PreviewCostAdjustment(s.screen, set.db());
  EXPECT_EQ(set.LineValue(line, "dblAmount"), 20);
  EXPECT_EQ(set.LineValue(other, "dblAvgCostAmount"), 7);
  EXPECT_EQ(set.Scalar("SELECT count(*) FROM PositionDaily"), 0);
  ASSERT_EQ(outcome.writeBacks.size(), 1u);
  ASSERT_EQ(outcome.averageCostUpdates.size(), 1u);
  EXPECT_EQ(outcome.writeBacks[0].statement, WriteBackSql("出库单", Key(line), ""));
  EXPECT_EQ(outcome.averageCostUpdates[0].statement,
            AverageCostUpdateSql(1, std::to_string(other)));
}

}  // namespace
}  // namespace tallyvet::receipt_audit
