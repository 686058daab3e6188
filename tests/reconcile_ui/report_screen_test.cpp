// The report screen: rows through the run's sink, the detail grid's limit, views, marks,
// registration with its journal and undo script, and the statement behind "查看单据明细".
#include <gtest/gtest.h>

#include "ledger_engine/check_items.h"
#include "reconcile_ui/account_set.h"
#include "reconcile_ui/report_screen.h"

namespace tallyvet {
namespace {

using testing::AccountSet;
using testing::FileText;

// Cells `from` to `to` of a grid row joined by "|".
std::string RowText(const Grid& grid, int row, int from = 0, int to = 9) {
  std::string text;
  for (int col = from; col <= to; ++col) text += (col > from ? "|" : "") + grid.Text(row, col);
  return text;
}

// A report screen over a small account set whose check items are initialised.
struct Report {
  // A detail row of the inventory ledger (item 1) for one item on one day, position group 2.
  void StockDifference(const std::string& date, int item, double stored, double recomputed,
                       const std::string& column = "DBLSALEAMOUNT") {
    screen.WriteReport("日期=" + date + "\r\n商品=" + std::to_string(item) + "\r\n", "销售金额",
                       stored, recomputed, 1, 2, 4,
                       "ITEMACTIVITY.STRDATE='" + date + "' AND ITEMACTIVITYDETAIL.LNGITEMID=" +
                           std::to_string(item) + " AND NVL(POSITION.LNGPOSITIONGROUPID,0)=2",
                       column);
  }
  // Column 9 of every data row, joined by ",".
  std::string Marks() const {
    std::string marks;
    for (int row = 1; row < screen.grdDiff().Rows(); ++row)
      marks += (row > 1 ? "," : "") + screen.grdDiff().Text(row, 9);
    return marks;
  }
  // Registration answered Yes.
  void Register() {
    messages.answers = {true};
    screen.CmdRptClick(0);
  }

  AccountSet set;
  testing::ScriptedMessageBox messages;
  ReportScreen screen{(InitCheckItems(set.ctx), set.ctx), messages, set.dir.path(),
                      LauncherTexts{"用户名：demo", "账套名：演示账套", "2005.01", "2005.03"}};
};

// The loaded grids; then a run's records through the sink: one detail row each, rounded to two
// decimals halves to even, and at the item's end one summary row per column with the item negated.
TEST(ReportScreenSink, DetailRowsThenOneSummaryRowPerColumnWithItemNegated) {
  Report r;
  const Grid& diff = r.screen.grdDiff();
  const Grid& total = r.screen.grdTotal();
  EXPECT_EQ(RowText(diff, 0), "||||明细项目|数据项目|汇总数|明细数|差额|调整");
  for (int col = 0; col <= 3; ++col) EXPECT_EQ(diff.ColWidth(col), 0);
  EXPECT_TRUE(diff.Visible && !total.Visible);
  EXPECT_EQ(r.screen.lblUser(), "用户名：demo 账套名：演示账套");
  EXPECT_EQ(r.screen.lblDate(), "期间:2005.01—2005.03");

  ReportScreenSink sink(r.screen);
  auto record = [&](std::int16_t index, const char* name, const char* caption, double stored,
                    double recomputed) {  // item 2, three key columns
    sink.RecordDifference({2,
                           index,
                           "STRDATE='2005-03-04'",
                           "日期=2005-03-04\r\n",
                           name,
                           caption,
                           stored,
                           recomputed,
                           3,
                           0,
                           {},
                           RowSide::kBoth,
                           nullptr},
                          true);
  };
  record(5, "DBLSALEAMOUNT", "销售金额", 100.125, 100);
  record(5, "DBLSALEAMOUNT", "销售金额", 0.5, 3);
  record(4, "DBLSALEQUANTITY", "销售数量", 1, 0);
  sink.EndItem(2);
  sink.EndItem(3);  // nothing of item 3

  ASSERT_EQ(diff.Rows(), 4);
  EXPECT_EQ(RowText(diff, 1),
            "2|5|STRDATE='2005-03-04'|DBLSALEAMOUNT|日期=2005-03-04\r\n|销售金额|100.12|100|0.12|");
  EXPECT_EQ(diff.RowHeight(1), 3 * diff.RowHeight(0));
  ASSERT_EQ(total.Rows(), 3);
  EXPECT_EQ(RowText(total, 1), "-2|4||DBLSALEQUANTITY|检查库存账|销售数量|1|0|1|");
  EXPECT_EQ(RowText(total, 2), "-2|5||DBLSALEAMOUNT|检查库存账|销售金额|100.62|103|-2.38|");
}

TEST(ReportScreenWriteReport, DetailGridStopsAt35000RowsSummaryHasNoLimit) {
  Report r;
  for (int i = 0; i < 35005; ++i) {
    r.screen.WriteReport("k", "c", 1, 0, 2, 1, 3, "C", "F");
    r.screen.WriteReport("k", "c", 1, 0, -2, 1, 3, "", "F");
  }
  EXPECT_EQ(r.screen.grdDiff().Rows(), 35000);  // 34999 rows and the header
  EXPECT_EQ(r.screen.grdTotal().Rows(), 35006);
  // A cause given after a dropped row lands nowhere, not on the last row that stood.
  DifferenceRecord caused;
  caused.cause = std::make_shared<DifferenceCause>();
  r.screen.WriteComparedRow(caused);
  r.screen.grdDiff().Row = 34999;
  EXPECT_EQ(r.screen.SelectedCause(), nullptr);
}

// The selected row's cause under the grid, gone with the row when the grid is emptied.
TEST(ReportScreenCause, FollowsTheSelectedRowAndGoesWithARunsRow) {
  Report r;
  r.StockDifference("2005-01-03", 1, 10, 0);
  auto moved = std::make_shared<DifferenceCause>();
  moved->kind = CauseKind::kMoved;
  moved->text = "单据RK0001已从本行移到日期=2005-01-09，账中仍记在本行。";
  DifferenceRecord record;
  record.cause = moved;
  r.screen.WriteComparedRow(record);
  r.StockDifference("2005-01-04", 1, 10, 0);
  EXPECT_EQ(r.screen.lblCause(), "");  // nothing selected
  r.screen.GrdDiffClick(1, 4);
  EXPECT_EQ(r.screen.lblCause(), "原因：单据移动。" + moved->text);
  r.screen.GrdDiffClick(2, 4);
  EXPECT_EQ(r.screen.lblCause(), "");
  r.screen.grdDiff().SetRows(1);  // the launcher empties the grid for its next run
  r.screen.grdDiff().Row = 1;
  EXPECT_EQ(r.screen.SelectedCause(), nullptr);
}

TEST(ReportScreenMarks, ColumnNineOfMarkableRowsSelectAllSummaryViewAndNothingMarked) {
  Report r;
  r.StockDifference("2005-03-04", 15, 1, 2);
  r.StockDifference("2005-03-04", 16, 1, 2);
  r.StockDifference("2005-03-04", 17, 1, 2);
  r.screen.WriteReport("k", "c", 1, 0, 6, 1, 3, "C", "DBLAMOUNT");  // item 6: never marked
  r.Register();
  EXPECT_EQ(r.messages.said.back(), "对账报告 [e] 请选择登账条目!");
  r.screen.GrdDiffClick(1, 9);
  EXPECT_EQ(r.screen.grdDiff().Row, 1);
  r.screen.GrdDiffClick(1, 8);  // another column: no toggle
  r.screen.GrdDiffClick(0, 9);  // the header
  r.screen.GrdDiffClick(4, 9);
  EXPECT_EQ(r.Marks(), "√,,,");
  r.screen.GrdDiffClick(1, 9);  // off again
  r.screen.grdDiff().SetText(2, 9, "错误");
  r.screen.GrdDiffClick(3, 9);
  EXPECT_EQ(r.Marks(), ",错误,√,");
  r.screen.CmdRptClick(3);
  EXPECT_EQ(r.Marks(), "√,,,");
  r.screen.CmdRptClick(3);
  EXPECT_EQ(r.Marks(), ",√,√,");

  r.screen.Option1Click(0);
  EXPECT_FALSE(r.screen.grdDiff().Visible);
  EXPECT_TRUE(r.screen.grdTotal().Visible);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(r.screen.CmdRptEnabled(i), i == 2) << i;
  r.screen.CmdRptClick(3);  // disabled
  EXPECT_EQ(r.Marks(), ",√,√,");
  r.screen.Option1Click(1);
  for (int i = 0; i < 4; ++i) EXPECT_TRUE(r.screen.CmdRptEnabled(i) && r.screen.grdDiff().Visible);
}

TEST(CorrectionStatements, QuotedExamplesAmountSignsAndLiterals) {
  CheckItemTable items;
  items.LedgerTable[0] = "T";
  const CorrectionStatements c = BuildCorrection(
      items, 1, "ITEMACTIVITYDETAIL.LNGITEMID=15 AND ITEMACTIVITY.STRDATE='2003-01-05'", "F",
      "12.5");
  EXPECT_EQ(c.update, "UPDATE T SET F=F+(-12.5) WHERE LNGITEMID=15 AND STRDATE='2003-01-05'");
  EXPECT_EQ(c.insert, "INSERT INTO T(LNGITEMID,STRDATE,F) VALUES (15,'2003-01-05',-12.5)");
  EXPECT_EQ(BuildCorrection(items, 1, "LNGITEMID=15", "F", "-3").update,
            "UPDATE T SET F=F+(3) WHERE LNGITEMID=15");
  EXPECT_EQ(BuildCorrection(items, 1, "LNGITEMID=15", "F", "0").amount, "0");
  // Item 5 names the organisation twice; the second is the ledger's source organisation.
  items.LedgerTable[4] = "AccountDaily";
  EXPECT_EQ(BuildCorrection(items, 5, "STRDATE='x' AND LNGORGANIZATIONID=7 AND LNGORGANIZATIONID=8",
                            "F", "-40")
                .insert,
            "INSERT INTO AccountDaily(STRDATE,LNGORGANIZATIONID,LNGSOURCEORGANIZATIONID,F) VALUES "
            "('x',7,8,40)");
  EXPECT_EQ(SplitSqlList("15,'a,b' ,'it''s',' '"),
            (std::vector<std::string>{"15", "'a,b'", "'it''s'", "' '"}));
  EXPECT_TRUE(SplitSqlList("").empty());
  EXPECT_EQ(SqlLiteral(db::Value("O'Brien")), "'O''Brien'");
  EXPECT_EQ(SqlLiteral(db::Value()), "NULL");
  EXPECT_EQ(SqlLiteral(db::Value(0.1)), "0.1");
}

// Registration writes each marked row into its ledger (UPDATE when the row exists, INSERT when
// not), each statement guarded by the value the comparison read; registered rows take the
// recomputed figure and lose their mark. The journal's undo script puts the ledger back exactly.
TEST(ReportScreenRegistration, UpdatesElseInsertsAndTheUndoScriptRestoresTheLedger) {
  Report r;
  r.set.StockRow("2005-03-04", 15, 2, 1, 100);
  r.set.StockRow("2005-03-06", 17, 2, 3, 5);
  r.set.StockRow("2005-03-08", 19, 2, 0.3, 1.0 / 3);
  // Two ledger rows under one condition (its group is not part of it), neither holding the 30
  // the comparison is said to have read: a value the comparison never saw is not corrected.
  r.set.StockRow("2005-03-09", 20, 1, 1, 10);
  r.set.StockRow("2005-03-09", 20, 3, 1, 20);
  const std::vector<std::string> before = r.set.Rows("ItemDaily2");
  r.StockDifference("2005-03-04", 15, 100, 112.5);               // matched row
  r.StockDifference("2005-03-05", 16, 0, 7);                     // "A": only in the documents
  r.StockDifference("2005-03-05", 16, 0, 2, "DBLSALEQUANTITY");  // second column of the A row
  r.StockDifference("2005-03-06", 17, 5, 0);                     // "B": only in the ledger
  r.StockDifference("2005-03-08", 19, 1.0 / 3, 1.0 / 3 + 0.5);
  r.screen.WriteReport("k", "销售金额", 30, 33, 1, 2, 4,
                       "ITEMACTIVITY.STRDATE='2005-03-09' AND ITEMACTIVITYDETAIL.LNGITEMID=20",
                       "DBLSALEAMOUNT");
  r.StockDifference("2005-03-07", 18, 0, 9);  // not marked
  r.screen.CmdRptClick(3);
  r.screen.GrdDiffClick(7, 9);

  r.messages.answers = {false};
  r.screen.CmdRptClick(0);  // No changes nothing
  EXPECT_EQ(r.Marks(), "√,√,√,√,√,√,");
  EXPECT_EQ(r.set.Rows("ItemDaily2"), before);
  EXPECT_TRUE(r.screen.LastRegistration().journal.empty());
  r.Register();
  const std::string question =
      "对账报告 [?] 已结账期间数据调整，建议在指定期间输入调整单据进行调整！\r\n"
      "未结账期间可通过本程序自动调整差额。";
  EXPECT_EQ(
      r.messages.said,
      (std::vector<std::string>{
          question, question,
          "对账报告 [w] 登记完毕!\r\n1条记录在对账后已变动，未登记，标为\"已变动\"，请重新对账"}));
  EXPECT_EQ(r.set.Rows("ItemDaily2"),
            (std::vector<std::string>{"2005-03-04|15|2|1|112.5", "2005-03-05|16|2|2|7",
                                      "2005-03-06|17|2|3|0",
                                      "2005-03-08|19|2|0.3|" + db::FormatDouble(1.0 / 3 + 0.5),
                                      "2005-03-09|20|1|1|10", "2005-03-09|20|3|1|20"}));
  const Grid& diff = r.screen.grdDiff();
  for (int row = 1; row <= 5; ++row) EXPECT_EQ(RowText(diff, row, 7), diff.Text(row, 6) + "|0|");
  EXPECT_EQ(RowText(diff, 6, 6), "30|33|-3|已变动");
  EXPECT_EQ(RowText(diff, 7, 6), "0|9|-9|");
  EXPECT_EQ(diff.Row, 6);
  EXPECT_EQ(diff.TopRow, 6);
  const RegistrationSummary& s = r.screen.LastRegistration();
  EXPECT_EQ(std::vector<int>({s.statements, s.registered, s.changed, s.failed}),
            std::vector<int>({6, 5, 1, 0}));

  // Each statement is journalled with the values it found before it and the rows it touched.
  const std::string journal = FileText(s.journal);
  EXPECT_NE(
      journal.find("-- before: SELECT DBLSALEAMOUNT FROM ItemDaily2 WHERE STRDATE='2005-03-04'"
                   " AND LNGITEMID=15 AND LNGPOSITIONGROUPID=2\n--   100\nUPDATE ItemDaily2 "
                   "SET DBLSALEAMOUNT=DBLSALEAMOUNT+(12.5) WHERE STRDATE='2005-03-04' AND "
                   "LNGITEMID=15 AND LNGPOSITIONGROUPID=2 AND "
                   "ABS(NVL(DBLSALEAMOUNT,0)-(100))<0.005;\n-- rows affected: 1\n"),
      std::string::npos)
      << journal;
  EXPECT_NE(journal.find("-- rows affected: 0\n-- changed since compared"), std::string::npos);
  r.set.Script(FileText(s.undoScript));
  EXPECT_EQ(r.set.Rows("ItemDaily2"), before);
}

// A statement the database refuses no longer ends the registration: the row keeps "错误" and its
// figures, the rows after it are registered, and the closing message says what failed.
TEST(ReportScreenRegistration, RefusedStatementKeepsErrorAndLoopGoesOn) {
  Report r;
  r.set.Script(R"(CREATE TRIGGER closed BEFORE UPDATE ON ItemDaily2
                  WHEN NEW.strDate < '2005-02-01'
                  BEGIN SELECT RAISE(ABORT, 'period closed'); END;)");
  r.set.StockRow("2005-01-10", 15, 2, 1, 100);
  r.set.StockRow("2005-03-04", 16, 2, 1, 50);
  r.StockDifference("2005-01-10", 15, 100, 90);
  r.StockDifference("2005-03-04", 16, 50, 60);
  r.screen.CmdRptClick(3);
  r.Register();
  EXPECT_EQ(RowText(r.screen.grdDiff(), 1, 6), "100|90|10|错误");
  EXPECT_EQ(r.Marks(), "错误,");
  EXPECT_EQ(r.set.Rows("ItemDaily2"),
            (std::vector<std::string>{"2005-01-10|15|2|1|100", "2005-03-04|16|2|1|60"}));
  EXPECT_EQ(r.messages.said.back(),
            "对账报告 [w] 登记完毕!\r\n1条记录未能登记，仍标为\"错误\"：period closed");
}

// Item 5's condition leaves out its keys that are 0; the correction must still reach only the
// difference's own ledger row, not one that differs from it in such a key.
TEST(ReportScreenRegistration, ItemFiveCorrectionLeavesRowsWithOtherZeroKeysAlone) {
  Report r;
  r.set.ctx.CheckItems.KeyColumns[4] =
      "STRDATE,LNGACCOUNTID,LNGDEPARTMENTID,LNGORGANIZATIONID,LNGSOURCEORGANIZATIONID";
  r.set.Script(R"(INSERT INTO AccountDaily VALUES ('2005-03-04',101,0,7,7,25,0);
                  INSERT INTO AccountDaily VALUES ('2005-03-04',101,3,7,7,60,0);)");
  const std::string condition =
      "STRDATE='2005-03-04' AND QARAPDETAIL1.LNGACCOUNTID=101 AND LNGORGANIZATIONID=7 AND "
      "LNGSOURCEORGANIZATIONID=7";
  r.screen.WriteReport("k", "未记账借方", 25, 40, 5, 5, 5, condition, "DBLUNVOUCHERDEBIT");
  r.screen.CmdRptClick(3);
  EXPECT_EQ(r.screen.PlannedCorrections().at(0).second.update,
            "UPDATE AccountDaily SET DBLUNVOUCHERDEBIT=DBLUNVOUCHERDEBIT+(15) WHERE "
            "STRDATE='2005-03-04' AND LNGACCOUNTID=101 AND LNGORGANIZATIONID=7 AND "
            "LNGSOURCEORGANIZATIONID=7 AND NVL(LNGDEPARTMENTID,0)=0 AND "
            "ABS(NVL(DBLUNVOUCHERDEBIT,0)-(25))<0.005");
  r.Register();
  EXPECT_EQ(r.set.Rows("AccountDaily"),
            (std::vector<std::string>{"2005-03-04|101|0|7|7|40|0", "2005-03-04|101|3|7|7|60|0"}));

  // Inserted when its row is missing; the undo takes that row away and only that row.
  r.set.Script("DELETE FROM AccountDaily WHERE lngDepartmentID=0");
  r.screen.WriteReport("k", "未记账借方", 0, 25, 5, 5, 5, condition, "DBLUNVOUCHERDEBIT");
  r.screen.GrdDiffClick(2, 9);
  r.Register();
  EXPECT_EQ(r.set.Rows("AccountDaily"),
            (std::vector<std::string>{"2005-03-04|101|0|7|7|25|0", "2005-03-04|101|3|7|7|60|0"}));
  r.set.Script(FileText(r.screen.LastRegistration().undoScript));
  EXPECT_EQ(r.set.Rows("AccountDaily"), std::vector<std::string>{"2005-03-04|101|3|7|7|60|0"});
}

// Cut at GROUP BY, or without one the whole statement with the row's condition joined to its
// WHERE (or starting one) before its ORDER BY; every SELECT gets the document columns in front.
TEST(DocumentDetailSql, PrefixesEverySelectAndAddsTheRowsCondition) {
  const std::string voucher = "SELECT strDate,lngVoucherTypeID,Lpad(intVoucherNO,4,'0'),";
  const std::string receipt =
      "SELECT strDate,lngReceiptTypeID,ltrim(strReceiptNO) || Lpad(lngReceiptNO,4,'0'),";
  struct Case {
    std::string select;
    int item;
    std::string condition, expected;
  };
  for (const Case& c : {
           Case{"SELECT A,SUM(B) X FROM T,U WHERE T.K=U.K GROUP BY A", 1, "T.D='' AND A=15",
                receipt + " A,(B) X FROM T,U WHERE T.K=U.K  AND T.D=' ' AND A=15"},
           Case{"SELECT A FROM T WHERE X=1 GROUP BY A", 6, "A=1",
                "SELECT ItemActivity.strDate,lngReceiptTypeID,ltrim(strReceiptNO) || "
                "Lpad(lngReceiptNO,4,'0'), A FROM T WHERE X=1  AND A=1"},
           // An escaped quote inside a value is not an empty text.
           Case{"SELECT A FROM T WHERE X=1 GROUP BY A", 4, "B='O''Brien' AND C=''",
                voucher + " A FROM T WHERE X=1  AND B='O''Brien' AND C=' '"},
           Case{"SELECT A,SUM(B) FROM T WHERE X=1", 2, "A=1",
                receipt + " A,(B) FROM T WHERE X=1 AND A=1"},
           Case{"SELECT A FROM T", 4, "A=1", voucher + " A FROM T WHERE A=1"},
           // Item 5's second organisation is an alias of the SELECT, which no WHERE can name.
           Case{"SELECT LNGORGANIZATIONID,LNGORGANIZATIONID LNGSOURCEORGANIZATIONID FROM T "
                "WHERE X=1 GROUP BY LNGORGANIZATIONID",
                5, "LNGSOURCEORGANIZATIONID=2 AND LNGORGANIZATIONID=2",
                receipt + " LNGORGANIZATIONID,LNGORGANIZATIONID LNGSOURCEORGANIZATIONID FROM T "
                          "WHERE X=1  AND LNGORGANIZATIONID=2 AND LNGORGANIZATIONID=2"},
           Case{"SELECT A FROM T WHERE X=1 ORDER BY A", 4, "A=1",
                voucher + " A FROM T WHERE X=1 AND A=1 ORDER BY A"},
       }) {
    EXPECT_EQ(DocumentDetailSql(c.select, c.item, c.condition), c.expected) << c.select;
  }
}

// "查看图表报告": nothing to show before the run has set its page; then the page is written beside
// the report and shown; a folder that cannot take it is said, not thrown out of the event.
TEST(ReportScreenPage, WaitsForTheRunsPageThenWritesItBesideTheReport) {
  Report r;
  std::vector<std::filesystem::path> shown;
  ReportScreen::Hooks hooks;
  hooks.openPage = [&](const std::filesystem::path& p) { shown.push_back(p); };
  r.screen.SetHooks(hooks);
  EXPECT_EQ(r.screen.CmdRptCaption(4), "查看图表报告");
  EXPECT_FALSE(r.screen.CmdRptEnabled(4));
  r.screen.CmdRptClick(4);
  EXPECT_TRUE(shown.empty());

  ReportPageData page;
  page.owner = "demo";
  page.items = {PageItem{1, {}, {}}};
  r.screen.SetPage(page);
  r.screen.Option1Click(0);  // the summary view keeps it
  ASSERT_TRUE(r.screen.CmdRptEnabled(4));
  r.screen.CmdRptClick(4);
  ASSERT_EQ(shown, std::vector<std::filesystem::path>{r.set.dir / "Compare.html"});
  EXPECT_NE(FileText(shown[0]).find("<span class=\"ok\">一致</span>"), std::string::npos);

  ReportScreen elsewhere(r.set.ctx, r.messages, r.set.dir / "missing" / "folder", LauncherTexts{});
  elsewhere.SetPage(page);
  elsewhere.CmdRptClick(4);
  ASSERT_FALSE(r.messages.said.empty());
  EXPECT_NE(r.messages.said.back().find("cannot write the report page"), std::string::npos)
      << r.messages.said.back();
}

}  // namespace
}  // namespace tallyvet
