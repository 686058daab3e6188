#include "receipt_audit/check_activity_screen.h"

#include <gtest/gtest.h>

#include "receipt_audit/account_set_fixture.h"
#include "receipt_audit/adjustment_preview.h"

namespace tallyvet::receipt_audit {
namespace {

using fixture::AccountSet;
using fixture::RecordingMessageBox;
using Line = AccountSet::Line;

// A screen on `set`, loaded, with the captions and heights it shows recorded as they repaint.
struct Screen {
  explicit Screen(AccountSet& set) : screen(set.ctx, box) {
    screen.SetRepaintHook([this](CheckActivityScreen::Part part) {
      if (part == CheckActivityScreen::Part::Notes) notes.push_back(screen.lblNotes());
      if (part == CheckActivityScreen::Part::Layout) heights.push_back(screen.Height());
    });
    screen.Form_Load();
  }
  CheckActivityScreen* operator->() { return &screen; }
  const CheckGrid::Row& row(int r) const {
    return screen.MSFlexGrid1().cells.at(static_cast<std::size_t>(r));
  }
  std::string key(int r) const { return row(r)[0]; }

  RecordingMessageBox box;
  CheckActivityScreen screen;
  std::vector<std::string> notes;
  std::vector<int> heights;
};

std::string Key(int lineId) {
  return "lngActivityDetailID=" + std::to_string(lineId);
}

std::string ReceiptNoOf(AccountSet& set, int lineId) {
  return "R" + db::FormatDouble(set.Number(
                   "SELECT lngActivityID FROM ItemActivityDetail WHERE lngActivityDetailID=" +
                   std::to_string(lineId)));
}

TEST(CheckScreenLoad, ShowsUserAccountSetAndVersion) {
  AccountSet set("9.00.1234");
  Screen s(set);
  EXPECT_EQ(s->lblUser(), "用户名:tester    账套名:演示账套");
  EXPECT_EQ(s->AccountSetVersion(), "9.00");
  EXPECT_TRUE(set.ctx.dictionary.IsBuilt());
  EXPECT_EQ(s->Caption(), "单据成本与平均成本检查");
  EXPECT_EQ(s->cmdRpt(0).caption, "开始检查");
  EXPECT_EQ(s->cmdRpt(1).caption, "退出");
  EXPECT_EQ(s->cmdRpt(2).caption, "全选");
  EXPECT_EQ(s->Height(), 6540);
  const CheckGrid& grid = s->MSFlexGrid1();
  ASSERT_EQ(grid.Rows(), 2);
  EXPECT_EQ(grid.cells[0],
            (CheckGrid::Row{"", "", "项目", "成本金额", "平均成本", "差额", "调整"}));
  EXPECT_EQ(grid.cells[1], CheckGrid::Row{});
  EXPECT_EQ(s->lblNotes(), "准备数据...");
}

TEST(CheckScreenLoad, NoAccountRowOrNoAccountTableShowsTheUserOnly) {
  AccountSet empty("", /*withBusinessRow=*/false);
  Screen s(empty);
  EXPECT_EQ(s->lblUser(), "用户名:tester");
  EXPECT_EQ(s->AccountSetVersion(), "");

  AccountSet broken;
  broken.db().Execute("DROP TABLE Business");
  Screen t(broken);
  EXPECT_EQ(t->lblUser(), "用户名:tester");
  EXPECT_EQ(t->AccountSetVersion(), "");
}

TEST(RunChecks, NothingFlaggedKeepsOneEmptyRowAndSucceeds) {
  AccountSet set;
  set.inbound_line({.amount = 10, .cost = 10, .avg = 10});
  set.outbound_line({.amount = 4, .cost = 4, .avg = 4});
  set.transfer_pair({.avg = 3}, {.avg = 3}, /*sameGroup=*/1);
  set.transfer_pair({.amount = 5, .cost = 5, .avg = 5}, {.amount = 5, .cost = 5, .avg = 5}, 0);
  Screen s(set);
  s->cmdRpt_Click(0);
  EXPECT_EQ(s->cmdRpt(0).caption, "开始调整");
  EXPECT_TRUE(s->cmdRpt(0).enabled);
  EXPECT_EQ(s->MSFlexGrid1().Rows(), 2);
  EXPECT_EQ(s.row(1), CheckGrid::Row{});
  EXPECT_EQ(s->EarliestDate(), "9999-12-31");
  EXPECT_TRUE(s->Findings().empty());
  EXPECT_EQ(s.heights, (std::vector<int>{7110, 6540}));
  EXPECT_EQ(s.notes, (std::vector<std::string>{"正在检查转仓单数据....", "正在检查入库单数据....",
                                               "正在检查出库单数据...."}));
}

TEST(RunChecks, ListsEveryKindInCheckOrderWithItsDescription) {
  AccountSet set("9.00");
  const int planned =
      set.inbound_line({.date = "2025-01-02", .amount = 40, .cost = 40, .avg = 38, .plan = 2});
  const int outbound =
      set.outbound_line({.date = "2025-02-10", .amount = 20, .cost = 21, .avg = 21});
  const int inbound = set.inbound_line(
      {.date = "2025-03-05", .item = 2, .position = 2, .amount = 10, .cost = 12, .avg = 10});
  const auto pair =
      set.transfer_pair({.date = "2025-04-01", .avg = 7.25},
                        {.date = "2025-04-02", .amount = 1, .cost = 0.5, .avg = 7}, 1);
  const auto out = set.transfer_pair({.date = "2025-04-03", .amount = 3, .cost = 3, .avg = 5},
                                     {.date = "2025-04-03", .avg = 5}, 1);
  set.inbound_line({.date = "2025-01-01", .amount = 9, .cost = 9, .avg = 9});  // agrees

  Screen s(set);
  s->cmdRpt_Click(0);
  ASSERT_EQ(s->cmdRpt(0).caption, "开始调整") << s->LastError();
  ASSERT_EQ(s->MSFlexGrid1().Rows(), 6);
  EXPECT_EQ(s.key(1), Key(pair.second));  // the receiving line is the pair check's key
  EXPECT_EQ(s.key(2), Key(out.first));
  EXPECT_EQ(s.key(3), Key(inbound));
  EXPECT_EQ(s.key(4), Key(outbound));
  EXPECT_EQ(s.key(5), Key(planned));
  // The earliest date comes from the last check: every check lowers it.
  EXPECT_EQ(s->EarliestDate(), "2025-01-02");

  // Pair: issuing side's average cost against the receiving side's own amounts; the description
  // shows the issuing document.
  EXPECT_EQ(s.row(1),
            (CheckGrid::Row{Key(pair.second), "转仓单",
                            "日期=2025-04-01\r\n业务类型=转仓出库\r\n单据号=" +
                                ReceiptNoOf(set, pair.first) + "\r\n物品=BOLT-8\r\n货位=A01\r\n",
                            "7.25", "1.5", "5.75", "√"}));
  EXPECT_EQ(s.row(2)[3], "5");
  EXPECT_EQ(s.row(2)[4], "6");
  EXPECT_EQ(s.row(3),
            (CheckGrid::Row{Key(inbound), "入库单",
                            "日期=2025-03-05\r\n业务类型=采购入库\r\n单据号=" +
                                ReceiptNoOf(set, inbound) + "\r\n物品=NUT-8\r\n货位=B01\r\n",
                            "12", "10", "2", "√"}));
  EXPECT_EQ(s.row(4)[1], "出库单");
  EXPECT_EQ(s.row(4)[5], "1");
  EXPECT_EQ(s.row(5)[1], "计划价");
  EXPECT_EQ(s.row(5)[5], "2");
  for (int r = 1; r <= 5; ++r) {
    EXPECT_EQ(s->MSFlexGrid1().rowHeights[static_cast<std::size_t>(r)], 5 * kHeaderRowHeight);
  }
  EXPECT_EQ(s->MSFlexGrid1().colWidths[0], 0);
  EXPECT_EQ(s->MSFlexGrid1().colWidths[1], 800);
  EXPECT_EQ(s->MSFlexGrid1().colWidths[2], DesignedColumnWidth(2) - 800);
  // The second pass advances the bar once per listed row, on top of the first pass's steps.
  EXPECT_GE(s->ProgressValue(), 5);

  ASSERT_EQ(s->Findings().size(), 5u);
  const CheckFinding& f = s->Findings()[2];
  EXPECT_EQ(f.gridRow, 3);
  EXPECT_EQ(f.lngActivityDetailID, std::to_string(inbound));
  EXPECT_EQ(f.itemCode, "NUT-8");
  EXPECT_EQ(f.costAmount, 12);
  EXPECT_EQ(f.secondAmount, 10);
}

TEST(RunChecks, Version810SkipsThePairAndChecksEveryIssuingTransferLine) {
  AccountSet set("8.10");
  // Receiving side disagrees, but the pair check does not run in 8.10.
  set.transfer_pair({.avg = 7}, {.avg = 6}, 1);
  // A cross-group issuing line with amounts: in 8.10 the transfer-out check takes every type 28.
  const auto cross = set.transfer_pair({.amount = 2, .cost = 2, .avg = 2}, {.avg = 2}, 0);
  Screen s(set);
  s->cmdRpt_Click(0);
  ASSERT_EQ(s->Findings().size(), 1u);
  EXPECT_EQ(s.key(1), Key(cross.first));
}

TEST(RunChecks, TinyDifferenceShowsAsZeroButIsListed) {
  AccountSet set;
  set.inbound_line({.amount = 10, .cost = 10.00003, .avg = 10});
  Screen s(set);
  s->cmdRpt_Click(0);
  ASSERT_EQ(s->Findings().size(), 1u);
  EXPECT_EQ(s.row(1)[3], "10.00003");
  EXPECT_EQ(s.row(1)[5], "0");
  EXPECT_EQ(s.row(1)[6], "√");
}

TEST(RunChecks, LooksUpEachCodeOncePerDistinctId) {
  AccountSet set;
  for (int i = 0; i < 4; ++i) set.outbound_line({.amount = 1, .cost = 2});
  set.outbound_line({.item = 2, .amount = 1, .cost = 2});
  Screen s(set);
  s->cmdRpt_Click(0);
  ASSERT_EQ(s->Findings().size(), 5u);
  EXPECT_EQ(set.spy().CountOpened("SELECT strItemCode"), 2u);
  EXPECT_EQ(set.spy().CountOpened("SELECT strPositionCode"), 1u);
  EXPECT_EQ(set.spy().CountOpened("SELECT strReceiptTypeName"), 1u);
}

TEST(RunChecks, FailureStopsTheRunKeepsTheRowsAndRestoresTheHeight) {
  AccountSet set;
  set.transfer_pair({.amount = 1, .cost = 1, .avg = 1}, {.avg = 1}, 1);
  set.inbound_line({.amount = 1, .cost = 2, .avg = 1});
  set.spy().failQuery = [](const std::string& sql) {
    return sql.find("IN (1,3,5,32,9,8,10,30,41)") != std::string::npos;
  };
  Screen s(set);
  s->cmdRpt_Click(0);
  EXPECT_EQ(s->cmdRpt(0).caption, "开始检查");
  EXPECT_TRUE(s->cmdRpt(0).enabled);
  EXPECT_FALSE(s->Hourglass());
  ASSERT_EQ(s->Findings().size(), 1u);
  EXPECT_EQ(s.row(1)[1], "转仓单");
  EXPECT_EQ(s->Height(), 6540);
  EXPECT_NE(s->LastError().find("scripted failure"), std::string::npos);
  EXPECT_TRUE(s.box.shown.empty());
}

// A row left over from a stopped run must not be adjusted by a later run that flags nothing.
TEST(RunChecks, RerunThatFlagsNothingLeavesNoRowToAdjust) {
  AccountSet set;
  const int line = set.inbound_line({.amount = 1, .cost = 2, .avg = 1});
  set.spy().failQuery = [](const std::string& sql) {
    return sql.find("IN (15,19,22,21,31,33)") != std::string::npos;
  };
  Screen s(set);
  s->cmdRpt_Click(0);
  ASSERT_EQ(s->cmdRpt(0).caption, "开始检查");
  ASSERT_EQ(s.key(1), Key(line));

  set.spy().failQuery = nullptr;
  set.db().Execute("UPDATE ItemActivityDetail SET dblAmount=2,dblAvgCostAmount=2");
  s->cmdRpt_Click(0);
  ASSERT_EQ(s->cmdRpt(0).caption, "开始调整");
  EXPECT_EQ(s.row(1), CheckGrid::Row{});
  s->cmdRpt_Click(0);
  EXPECT_TRUE(s->LastAdjustment()->writeBacks.empty());
}

TEST(Marks, Button2InvertsTheMarksOfListedRowsOnly) {
  AccountSet set;
  set.inbound_line({.amount = 1, .cost = 2, .avg = 1});
  set.outbound_line({.amount = 1, .cost = 2});
  Screen s(set);
  s->cmdRpt_Click(2);  // before any check: the empty row stays empty
  EXPECT_EQ(s.row(1)[6], "");

  s->cmdRpt_Click(0);
  s->cmdRpt_Click(2);
  EXPECT_EQ(s.row(1)[6], "");
  EXPECT_EQ(s.row(2)[6], "");
  s->cmdRpt_Click(2);
  EXPECT_EQ(s.row(1)[6], "√");
  EXPECT_EQ(s.row(2)[6], "√");
}

TEST(Workflow, CaptionsRunFromCheckToAdjustToDoneAndCloseReleasesTheDictionary) {
  AccountSet set;
  set.inbound_line({.amount = 1, .cost = 2, .avg = 1});
  Screen s(set);
  int closes = 0;
  s->SetCloseHook([&] { ++closes; });
  int yields = 0;
  s->SetYieldHook([&] { ++yields; });

  s->cmdRpt_Click(0);
  EXPECT_EQ(s->cmdRpt(0).caption, "开始调整");
  EXPECT_EQ(yields, 1);
  s->cmdRpt_Click(0);
  EXPECT_EQ(s->cmdRpt(0).caption, "开整完毕");
  EXPECT_FALSE(s->cmdRpt(0).enabled);
  EXPECT_FALSE(s->Hourglass());
  EXPECT_EQ(yields, 1);  // only the checks yield

  const std::size_t executed = set.spy().executed.size();
  s->cmdRpt_Click(0);  // one screen adjusts at most once
  EXPECT_EQ(set.spy().executed.size(), executed);

  s->cmdRpt_Click(1);
  EXPECT_TRUE(s->Closed());
  EXPECT_EQ(closes, 1);
  EXPECT_FALSE(set.ctx.dictionary.IsBuilt());
  s->cmdRpt_Click(1);
  EXPECT_EQ(closes, 1);
}

TEST(CostAdjustment, WritesBackEachKindSoTheChecksComeOutClean) {
  AccountSet set;
  const int planned = set.inbound_line({.amount = 40, .cost = 40, .avg = 38, .plan = 2});
  const int outbound = set.outbound_line({.amount = 20, .cost = 21, .avg = 20});
  const int inbound = set.inbound_line({.amount = 10, .cost = 12, .avg = 11});
  const auto pair = set.transfer_pair({.avg = 7.25}, {.amount = 1, .cost = 0.5, .avg = 7}, 1);
  const auto out = set.transfer_pair({.amount = 3, .cost = 3, .avg = 5}, {.avg = 5}, 1);

  Screen s(set);
  s->cmdRpt_Click(0);
  ASSERT_EQ(s->Findings().size(), 5u);
  s->cmdRpt_Click(0);

  EXPECT_EQ(set.LineValue(inbound, "dblAmount"), 12);
  EXPECT_EQ(set.LineValue(inbound, "dblAvgCostAmount"), 12);
  EXPECT_EQ(set.LineValue(outbound, "dblAmount"), 21);
  EXPECT_EQ(set.LineValue(outbound, "dblAvgCostAmount"), 21);
  EXPECT_EQ(set.LineValue(planned, "dblAvgCostAmount"), 40);
  EXPECT_EQ(set.LineValue(pair.second, "dblCostAmount"), 0);
  EXPECT_EQ(set.LineValue(pair.second, "dblAmount"), 0);
  EXPECT_EQ(set.LineValue(pair.second, "dblAvgCostAmount"), 7.25);
  EXPECT_EQ(set.LineValue(out.first, "dblCostAmount"), 0);
  EXPECT_EQ(set.LineValue(out.first, "dblAvgCostAmount"), 5);
  for (int r = 1; r <= 5; ++r) {
    EXPECT_EQ(s.row(r)[4], s.row(r)[3]);
    EXPECT_EQ(s.row(r)[5], "");
    EXPECT_EQ(s.row(r)[6], "");
  }
  EXPECT_TRUE(s->LastAdjustment()->reregistered.value_or(false));

  Screen again(set);
  again->cmdRpt_Click(0);
  EXPECT_TRUE(again->Findings().empty());
}

TEST(CostAdjustment, TransferAmountTextIsWrittenUnchanged) {
  AccountSet set;
  const auto pair = set.transfer_pair({.avg = -12.345}, {.avg = 0}, 1);
  Screen s(set);
  s->cmdRpt_Click(0);
  ASSERT_EQ(s.row(1)[3], "-12.345");
  s->cmdRpt_Click(0);
  ASSERT_EQ(s->LastAdjustment()->writeBacks.size(), 1u);
  EXPECT_EQ(s->LastAdjustment()->writeBacks[0].statement,
            "UPDATE ItemActivityDetail SET dblCostAmount=0,dblAmount=0,dblAvgCostAmount=-12.345 "
            "WHERE " +
                Key(pair.second));
  EXPECT_EQ(set.LineValue(pair.second, "dblAvgCostAmount"), -12.345);
}

TEST(CostAdjustment, FailedWriteBackIsMarkedAndTheRunGoesOn) {
  AccountSet set;
  const int locked = set.inbound_line({.amount = 1, .cost = 2, .avg = 1});
  const int next = set.inbound_line({.amount = 3, .cost = 4, .avg = 3});
  set.db().ExecuteScript(
      "CREATE TRIGGER locked BEFORE UPDATE ON ItemActivityDetail WHEN old.lngActivityDetailID=" +
      std::to_string(locked) + " BEGIN SELECT RAISE(ABORT, 'line is locked'); END;");
  Screen s(set);
  s->cmdRpt_Click(0);
  s->cmdRpt_Click(0);
  EXPECT_EQ(s.row(1)[6], "错误");
  EXPECT_EQ(s.row(1)[4], "1");
  EXPECT_EQ(s.row(1)[5], "1");
  EXPECT_EQ(s.row(2)[6], "");
  EXPECT_EQ(set.LineValue(next, "dblAmount"), 4);
  EXPECT_EQ(set.LineValue(locked, "dblAmount"), 1);
  EXPECT_EQ(s->cmdRpt(0).caption, "开整完毕");
  EXPECT_TRUE(s->LastAdjustment()->reregistered.value_or(false));
  EXPECT_TRUE(s.box.shown.empty());  // the row's mark is the report

  s->cmdRpt_Click(2);  // after the adjustment: "错误" clears, the written row is marked
  EXPECT_EQ(s.row(1)[6], "");
  EXPECT_EQ(s.row(2)[6], "√");
}

TEST(CostAdjustment, UnmarkedRowsAreLeftAloneAndTheOtherPhasesStillRun) {
  AccountSet set;
  const int line = set.inbound_line({.date = "2025-03-01", .amount = 1, .cost = 2, .avg = 1});
  Screen s(set);
  s->cmdRpt_Click(0);
  s->cmdRpt_Click(2);
  s->cmdRpt_Click(0);
  EXPECT_TRUE(s->LastAdjustment()->writeBacks.empty());
  EXPECT_EQ(set.LineValue(line, "dblAmount"), 1);
  EXPECT_EQ(s.row(1)[6], "");
  EXPECT_EQ(set.Number("SELECT count(*) FROM PositionDaily WHERE strDate='2025-03-01'"), 1);
}

TEST(AverageCost, LatestLineOfTheGroupAbsorbsTheDifference) {
  AccountSet set;
  const int early = set.outbound_line({.date = "2025-01-05", .amount = 50, .cost = 50, .avg = 50});
  const int late = set.outbound_line({.date = "2025-01-20", .amount = 30, .cost = 30, .avg = 29.5});
  set.outbound_line({.date = "2025-02-03", .amount = 10, .cost = 10, .avg = 10});
  Screen s(set);
  s->cmdRpt_Click(0);
  ASSERT_TRUE(s->Findings().empty());
  s->cmdRpt_Click(0);
  const AdjustmentOutcome& outcome = *s->LastAdjustment();
  ASSERT_EQ(outcome.averageCostUpdates.size(), 1u);
  EXPECT_EQ(outcome.averageCostUpdates[0].statement,
            "UPDATE ItemActivityDetail SET dblAvgCostAmount=dblAvgCostAmount+0.5 WHERE "
            "lngActivityDetailID=" +
                std::to_string(late));
  EXPECT_EQ(set.LineValue(late, "dblAvgCostAmount"), 30);
  EXPECT_EQ(set.LineValue(early, "dblAvgCostAmount"), 50);
  EXPECT_EQ(s->EarliestDate(), "2025-01-20");
  EXPECT_EQ(outcome.earliestDate, "2025-01-20");
}

TEST(AverageCost, DifferenceBelowHalfACentAddsZero) {
  AccountSet set;
  const int line = set.outbound_line({.amount = 10.004, .cost = 10.004, .avg = 10});
  Screen s(set);
  s->cmdRpt_Click(0);
  s->cmdRpt_Click(0);
  ASSERT_EQ(s->LastAdjustment()->averageCostUpdates.size(), 1u);
  EXPECT_EQ(s->LastAdjustment()->averageCostUpdates[0].statement,
            "UPDATE ItemActivityDetail SET dblAvgCostAmount=dblAvgCostAmount+0 WHERE "
            "lngActivityDetailID=" +
                std::to_string(line));
  EXPECT_EQ(set.LineValue(line, "dblAvgCostAmount"), 10);
}

TEST(AverageCost, GroupsPerPositionGroupOutside810AndPerItemIn810) {
  for (const std::string version : {"9.00", "8.10"}) {
    SCOPED_TRACE(version);
    AccountSet set(version);
    const int first = set.outbound_line({.position = 1, .amount = 10, .cost = 10, .avg = 9});
    const int second = set.outbound_line({.position = 2, .amount = 10, .cost = 10, .avg = 11});
    Screen s(set);
    s->cmdRpt_Click(0);
    s->cmdRpt_Click(0);
    const auto& updates = s->LastAdjustment()->averageCostUpdates;
    if (version == "8.10") {
      EXPECT_TRUE(updates.empty());  // the two position groups cancel out
      EXPECT_EQ(set.LineValue(first, "dblAvgCostAmount"), 9);
    } else {
      ASSERT_EQ(updates.size(), 2u);
      EXPECT_EQ(set.LineValue(first, "dblAvgCostAmount"), 10);
      EXPECT_EQ(set.LineValue(second, "dblAvgCostAmount"), 10);
    }
  }
}

TEST(AverageCost, FailingGroupQueryStopsThePhaseReportsAndStillRebuildsTheLedger) {
  AccountSet set;
  const int line = set.inbound_line({.date = "2025-03-01", .amount = 1, .cost = 2, .avg = 1});
  set.spy().failQuery = [](const std::string& sql) {
    return sql.rfind("SELECT /*+ CHOOSE */ intYear", 0) == 0;
  };
  Screen s(set);
  s->cmdRpt_Click(0);
  s.notes.clear();
  s.heights.clear();
  s->cmdRpt_Click(0);

  ASSERT_EQ(s.box.shown.size(), 1u);
  EXPECT_EQ(s.box.shown[0].title, "错误");
  EXPECT_EQ(s.box.shown[0].text, "scripted failure of the query");
  EXPECT_EQ(s.box.shown[0].icon, MessageIcon::Error);
  const AdjustmentOutcome& outcome = *s->LastAdjustment();
  EXPECT_EQ(outcome.averageCostError, "scripted failure of the query");
  EXPECT_EQ(set.LineValue(line, "dblAmount"), 2);  // the write-back stays
  EXPECT_TRUE(outcome.reregistered.value_or(false));
  EXPECT_EQ(set.Number("SELECT dblCostOut FROM PositionDaily WHERE strDate='2025-03-01'"), 2);
  EXPECT_EQ(s.notes, (std::vector<std::string>{"正在调整数据....", "正在更新平均成本....",
                                               "正在登记库存账表....", "正在准备数据...",
                                               "正在登记账表..."}));
  EXPECT_EQ(s.heights.back(), 6540);
  EXPECT_EQ(s->cmdRpt(0).caption, "开整完毕");
}

TEST(AverageCost, FailingLineSearchKeepsEarlierUpdatesAndSkipsLaterGroups) {
  AccountSet set;
  const int one = set.outbound_line({.item = 1, .amount = 5, .cost = 5, .avg = 4});
  const int two = set.outbound_line({.item = 2, .amount = 5, .cost = 5, .avg = 4});
  set.db().Execute("INSERT INTO Item VALUES (3, 'WASHER')");
  const int three = set.outbound_line({.item = 3, .amount = 5, .cost = 5, .avg = 4});
  set.spy().failQuery = [](const std::string& sql) {
    return sql.find("First Rows") != std::string::npos &&
           sql.find("lngItemID=2 ") != std::string::npos;
  };
  Screen s(set);
  s->cmdRpt_Click(0);
  s->cmdRpt_Click(0);
  const AdjustmentOutcome& outcome = *s->LastAdjustment();
  ASSERT_EQ(outcome.averageCostUpdates.size(), 1u);
  EXPECT_EQ(outcome.averageCostUpdates[0].lngItemID, "1");
  EXPECT_EQ(set.LineValue(one, "dblAvgCostAmount"), 5);
  EXPECT_EQ(set.LineValue(two, "dblAvgCostAmount"), 4);
  EXPECT_EQ(set.LineValue(three, "dblAvgCostAmount"), 4);
  ASSERT_EQ(s.box.shown.size(), 1u);
  EXPECT_EQ(s.box.shown[0].title, "错误");
  EXPECT_TRUE(outcome.reregistrationRan);
}

TEST(StockLedger, RebuiltFromTheEarliestDateOn) {
  AccountSet set;
  set.inbound_line({.date = "2025-02-01", .amount = 7, .cost = 7, .avg = 7});
  set.inbound_line({.date = "2025-03-05", .amount = 10, .cost = 12, .avg = 10});
  set.db().ExecuteScript(
      "INSERT INTO PositionDaily VALUES ('2025-02-01',1,1,99,99,99);"
      "INSERT INTO PositionDaily VALUES ('2025-06-01',1,1,5,5,5);");
  Screen s(set);
  s->cmdRpt_Click(0);
  s->cmdRpt_Click(0);
  ASSERT_TRUE(s->LastAdjustment()->reregistered.value_or(false));
  EXPECT_EQ(s->LastAdjustment()->earliestDate, "2025-03-05");
  // Before the earliest date nothing is touched; from it on the ledger is what the lines say.
  EXPECT_EQ(set.Number("SELECT dblCostIn FROM PositionDaily WHERE strDate='2025-02-01'"), 99);
  EXPECT_EQ(set.Number("SELECT count(*) FROM PositionDaily WHERE strDate='2025-06-01'"), 0);
  EXPECT_EQ(set.Number("SELECT dblCostOut FROM PositionDaily WHERE strDate='2025-03-05'"), 12);
  EXPECT_EQ(set.Number("SELECT dblAvgOut FROM PositionDaily WHERE strDate='2025-03-05'"), 12);
  EXPECT_FALSE(set.ctx.dictionary.CodeTextCache.has_value());
}

// A stock ledger that could not be rebuilt no longer agrees with the lines: the screen must say
// so instead of ending as if all went well.
TEST(StockLedger, FailedRebuildIsReportedAndTheLedgerKept) {
  AccountSet set;
  set.inbound_line({.date = "2025-03-05", .amount = 10, .cost = 12, .avg = 10});
  set.db().ExecuteScript(
      "DELETE FROM ALL_SOURCE; INSERT INTO PositionDaily VALUES ('2025-06-01',1,1,5,5,5);");
  Screen s(set);
  s->cmdRpt_Click(0);
  s->cmdRpt_Click(0);
  const AdjustmentOutcome& outcome = *s->LastAdjustment();
  EXPECT_EQ(outcome.reregistered, std::optional<bool>(false));
  ASSERT_TRUE(outcome.reregistrationError.has_value());
  ASSERT_EQ(s.box.shown.size(), 1u);
  EXPECT_EQ(s.box.shown[0].title, "错误");
  EXPECT_EQ(set.Number("SELECT count(*) FROM PositionDaily WHERE strDate='2025-06-01'"), 1);
}

TEST(Preview, ListsWhatTheAdjustmentWouldWriteAndChangesNothing) {
  AccountSet set;
  // The write-back of this line also removes its group's average-cost difference...
  set.outbound_line({.date = "2025-01-10", .amount = 20, .cost = 21, .avg = 20});
  // ...while this group needs an update of its own.
  set.outbound_line({.date = "2025-02-10", .item = 2, .amount = 8, .cost = 8, .avg = 7});
  set.db().Execute("INSERT INTO PositionDaily VALUES ('2025-06-01',1,1,5,5,5)");
  const std::string before = set.DumpLines();

  Screen preview(set);
  preview->cmdRpt_Click(0);
  const AdjustmentOutcome previewed = PreviewCostAdjustment(preview.screen, set.db());
  EXPECT_EQ(set.DumpLines(), before);
  EXPECT_EQ(set.Number("SELECT count(*) FROM PositionDaily"), 1);
  EXPECT_FALSE(previewed.reregistrationRan);
  ASSERT_EQ(previewed.writeBacks.size(), 1u);
  ASSERT_EQ(previewed.averageCostUpdates.size(), 1u);
  EXPECT_EQ(previewed.averageCostUpdates[0].lngItemID, "2");

  Screen real(set);
  real->cmdRpt_Click(0);
  real->cmdRpt_Click(0);
  const AdjustmentOutcome& done = *real->LastAdjustment();
  ASSERT_EQ(done.writeBacks.size(), 1u);
  EXPECT_EQ(done.writeBacks[0].statement, previewed.writeBacks[0].statement);
  ASSERT_EQ(done.averageCostUpdates.size(), 1u);
  EXPECT_EQ(done.averageCostUpdates[0].statement, previewed.averageCostUpdates[0].statement);
  EXPECT_NE(set.DumpLines(), before);
}

}  // namespace
}  // namespace tallyvet::receipt_audit
