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

  // A write-back the database refuses ends the adjustment with nothing of it standing: every
  // line as it was, the grid as the checks left it but for the failing row, and a message that
  // says so, checked.
  const std::vector<std::string> linesBefore = set.Lines();
  s->cmdRpt_Click(0);
  EXPECT_EQ(set.Lines(), linesBefore);
  for (int r = 1; r <= 6; ++r) {
    EXPECT_EQ(s.row(r)[4] + "|" + s.row(r)[5] + s.row(r)[6],
              expected[r - 1][3] + "|" + expected[r - 1][4] + (r == 4 ? "错误" : "√"));
  }
  EXPECT_EQ(s.box.shown,
            Strings{"错误|调整未完成，已全部撤回：write-back of row 4: line is locked; nothing of "
                    "the adjustment stands (checked: the 4 document line(s) it wrote and the "
                    "stock ledger are as before)"});
  EXPECT_TRUE(s->LastAdjustment()->rolledBack.has_value());

  // Unlocked, a new screen writes each kind back its own way (see WriteBackSql); the transfer's
  // amount text as the grid shows it.
  set.db().ExecuteScript("DROP TRIGGER locked");
  Screen adjusting(set);
  const AdjustmentOutcome& outcome = adjusting.CheckAndAdjust();
  EXPECT_FALSE(outcome.rolledBack.has_value()) << *outcome.rolledBack;
  EXPECT_EQ(set.LineValue(pair.second, "dblAvgCostAmount"), -12.345);
  for (int r = 1; r <= 6; ++r) {
    EXPECT_EQ(adjusting.row(r)[4] + "|" + adjusting.row(r)[5] + adjusting.row(r)[6],
              adjusting.row(r)[3] + "|");
  }
  EXPECT_TRUE(adjusting.box.shown.empty());
  adjusting->cmdRpt_Click(2);  // after the adjustment written rows are marked again
  EXPECT_EQ(adjusting.row(4)[6] + "|" + adjusting.row(5)[6], "√|√");
  Screen again(set);
  again->cmdRpt_Click(0);
  EXPECT_TRUE(again->Findings().empty());
}

// Between the checks and the adjustment another program changed one flagged line: its write-back
// leaves it alone and says so, and the rest of the adjustment stands.
TEST(RunChecks, ALineChangedSinceTheChecksIsLeftAloneAndMarked) {
  AccountSet set;
  const int changed = set.inbound_line({.date = "2025-03-05", .amount = 10, .cost = 12, .avg = 10});
  const int kept = set.outbound_line({.date = "2025-03-06", .amount = 20, .cost = 21, .avg = 21});
  Screen s(set);
  s->cmdRpt_Click(0);
  ASSERT_EQ(s->Findings().size(), 2u);
  set.db().Execute("UPDATE ItemActivityDetail SET dblCostAmount=1300,dblAmount=1300 WHERE " +
                   Key(changed));
  s->cmdRpt_Click(0);
  const AdjustmentOutcome& outcome = *s->LastAdjustment();
  EXPECT_FALSE(outcome.rolledBack.has_value());
  EXPECT_EQ(set.LineValue(changed, "dblCostAmount"), 1300);  // the other program's edit stands
  EXPECT_EQ(set.LineValue(changed, "dblAvgCostAmount"), 10);
  EXPECT_EQ(set.LineValue(kept, "dblAmount"), 21);
  EXPECT_EQ(s.row(1)[6] + "|" + s.row(2)[6], std::string(kChangedMark) + "|");
  ASSERT_EQ(outcome.writeBacks.size(), 2u);
  EXPECT_TRUE(outcome.writeBacks[0].changed && !outcome.writeBacks[0].ok);
  EXPECT_TRUE(outcome.writeBacks[1].ok);
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
    // Each added only while the line still holds the average cost it was computed from.
    const auto holds = [](const char* seen) {
      return std::string(" AND ABS(NVL(dblAvgCostAmount,0)-(") + seen + "))<0.00005";
    };
    if (version == "8.10") {
      EXPECT_EQ(statements, Strings{add + "0.5 WHERE " + Key(other) + holds("1")});
      EXPECT_EQ(set.LineValue(other, "dblAvgCostAmount"), 1.5);
    } else {
      EXPECT_EQ(statements, (Strings{add + "0.5 WHERE " + Key(late) + holds("2.5"),
                                     add + "0 WHERE " + Key(other) + holds("1")}));
      EXPECT_EQ(set.LineValue(late, "dblAvgCostAmount"), 3);
      EXPECT_EQ(s->EarliestDate(), "2025-01-20");
    }
  }
}

// A failing query of the average-cost phase ends the adjustment: the write-back and the updates
// already made are rolled back with it, the stock ledger is not rebuilt, and the message says so.
TEST(AverageCost, AFailingQueryRollsBackTheWholeAdjustment) {
  AccountSet set;
  const int written = set.inbound_line({.date = "2025-03-01", .amount = 1, .cost = 2, .avg = 1});
  std::vector<int> lines;
  for (int item : {1, 2, 3})
    lines.push_back(set.outbound_line({.item = item, .amount = 5, .cost = 5, .avg = 4}));
  set.db().ExecuteScript(
      "INSERT INTO PositionDaily VALUES ('2025-01-01',1,1,9,9,9), "
      "('2025-06-01',1,1,5,5,5);");
  const std::vector<std::string> before = set.Lines();
  // The group statement runs; the search for item 2's line fails.
  set.spy().failQuery = [](const std::string& sql) { return sql.find("lngItemID=2 ") != sql.npos; };
  Screen s(set);
  const AdjustmentOutcome& outcome = s.CheckAndAdjust();
  EXPECT_EQ(outcome.averageCostError, "average-cost update: scripted failure");
  ASSERT_TRUE(outcome.rolledBack.has_value());
  EXPECT_EQ(s.box.shown, Strings{"错误|调整未完成，已全部撤回：" + *outcome.rolledBack});
  EXPECT_NE(outcome.rolledBack->find("(checked: the 2 document line(s)"), std::string::npos)
      << *outcome.rolledBack;
  EXPECT_EQ(set.Lines(), before);
  EXPECT_EQ(set.LineValue(written, "dblAmount"), 1);
  EXPECT_FALSE(outcome.reregistrationRan);
  EXPECT_EQ(set.Scalar("SELECT group_concat(strDate||':'||dblCostOut) FROM PositionDaily WHERE "
                       "lngItemID=1"),
            db::Value("2025-01-01:9.0,2025-06-01:5.0"));
  EXPECT_EQ(s.row(1)[6], "√");  // the grid shows the lines as they stand: not adjusted
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
  ASSERT_TRUE(outcome.rolledBack.has_value());
  EXPECT_EQ(outcome.rolledBack->rfind(outcome.reregistrationError.value_or("no error"), 0), 0u);
  EXPECT_EQ(s.box.shown, Strings{"错误|调整未完成，已全部撤回：" + *outcome.rolledBack});
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
  EXPECT_EQ(outcome.writeBacks[0].statement,
            *WriteBackSql("出库单", Key(line), "") +
                LineStillHolds("dblCostAmount", 21, "dblAmount", 20));
  EXPECT_EQ(outcome.averageCostUpdates[0].statement,
            AverageCostUpdateSql(1, std::to_string(other)) +
                " AND ABS(NVL(dblAvgCostAmount,0)-(7))<0.00005");
  EXPECT_FALSE(set.db().InTransaction());
}

}  // namespace
}  // namespace tallyvet::receipt_audit
