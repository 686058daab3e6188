// The report screen: rows through WriteReport and the run's sink, views, marks, registration with
// its journal and undo script, and the documents behind a row.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>

#include "reconcile_ui/account_set.h"
#include "reconcile_ui/report_screen.h"

namespace tallyvet {
namespace {

using testing::AccountSet;
using testing::ScriptedMessageBox;

const LauncherTexts kLauncher{"用户名：demo", "账套名：演示账套", "2005.01", "2005.03"};

HostContext& Initialised(AccountSet& set) {
  InitCheckItems(set.ctx);
  return set.ctx;
}

// A report screen over a small account set whose check items are initialised.
struct Report {
  explicit Report(int maxRows = ReportScreen::kMaxDetailRows)
      : screen(Initialised(set), messages, set.dir.path(), kLauncher, maxRows) {}

  // A detail row of the inventory ledger (item 1) for one item on one day, position group 2.
  void StockDifference(const std::string& date, int item, double stored, double recomputed,
                       const std::string& column = "DBLSALEAMOUNT") {
    screen.WriteReport("日期=" + date + "\r\n商品=" + std::to_string(item) + "\r\n", "销售金额",
                       stored, recomputed, 1, 2, 4,
                       "ITEMACTIVITY.STRDATE='" + date + "' AND ITEMACTIVITYDETAIL.LNGITEMID=" +
                           std::to_string(item) + " AND NVL(POSITION.LNGPOSITIONGROUPID,0)=2",
                       column);
  }
  std::string Cell(int row, int col) const { return screen.grdDiff().Text(row, col); }

  AccountSet set;
  ScriptedMessageBox messages;
  ReportScreen screen;
};

std::string FileText(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(ReportScreenLoad, GridsLabelsAndCountersAsLoaded) {
  Report r;
  const Grid& diff = r.screen.grdDiff();
  EXPECT_EQ(diff.Rows(), 1);
  EXPECT_EQ(diff.Cols(), 10);
  for (int col = 0; col <= 3; ++col) EXPECT_EQ(diff.ColWidth(col), 0);
  EXPECT_EQ(diff.Text(0, 4), "明细项目");
  EXPECT_EQ(diff.Text(0, 8), "差额");
  EXPECT_EQ(diff.Text(0, 9), "调整");
  EXPECT_EQ(diff.HeaderPiece(9), "调整  ");
  EXPECT_TRUE(diff.Visible);
  EXPECT_FALSE(r.screen.grdTotal().Visible);
  EXPECT_EQ(r.screen.DetailRowCounter(), 1);
  EXPECT_EQ(r.screen.SummaryRowCounter(), 1);
  EXPECT_EQ(r.screen.lblUser(), "用户名：demo 账套名：演示账套");
  EXPECT_EQ(r.screen.lblDate(), "期间:2005.01—2005.03");
  EXPECT_EQ(r.screen.CmdRptCaption(0), "重新登记汇总数");
}

TEST(ReportScreenWriteReport, DetailAndSummaryRowsRoundedHalvesToEven) {
  Report r;
  r.screen.WriteReport("日期=2005-03-04\r\n商品=A01\r\n", "销售金额", 100.125, 100, 1, 2, 4, "COND",
                       "DBLSALEAMOUNT");
  EXPECT_EQ(r.Cell(1, 0), "1");
  EXPECT_EQ(r.Cell(1, 1), "4");
  EXPECT_EQ(r.Cell(1, 2), "COND");
  EXPECT_EQ(r.Cell(1, 3), "DBLSALEAMOUNT");
  EXPECT_EQ(r.Cell(1, 4), "日期=2005-03-04\r\n商品=A01\r\n");
  EXPECT_EQ(r.Cell(1, 5), "销售金额");
  EXPECT_EQ(r.Cell(1, 6), "100.12");
  EXPECT_EQ(r.Cell(1, 7), "100");
  EXPECT_EQ(r.Cell(1, 8), "0.12");
  EXPECT_EQ(r.Cell(1, 9), "");
  EXPECT_EQ(r.screen.grdDiff().RowHeight(1), 2 * r.screen.grdDiff().RowHeight(0));
  r.screen.WriteReport("检查存货账", "销售金额", 0, 0.1 + 0.2, -1, 1, 4, "", "DBLSALEAMOUNT");
  r.screen.WriteReport("检查总账", "借方", -3, 0, 0, 1, 5, "", "DBLDEBIT");
  EXPECT_EQ(r.screen.grdTotal().Rows(), 3);
  EXPECT_EQ(r.screen.grdTotal().Text(1, 0), "-1");
  EXPECT_EQ(r.screen.grdTotal().Text(1, 8), "-0.3");
  EXPECT_EQ(r.screen.grdTotal().Text(2, 8), "-3");
  EXPECT_EQ(r.screen.DetailRowCounter(), 2);
  EXPECT_EQ(r.screen.SummaryRowCounter(), 3);
  EXPECT_EQ(r.screen.grdDiff().Rows(), 2);
}

TEST(ReportScreenWriteReport, DetailGridStopsAt35000RowsSummaryHasNoLimit) {
  Report r;
  for (int i = 0; i < 35005; ++i) {
    r.screen.WriteReport("k", "c", 1, 0, 2, 1, 3, "C", "F");
    r.screen.WriteReport("k", "c", 1, 0, -2, 1, 3, "", "F");
  }
  EXPECT_EQ(r.screen.grdDiff().Rows(), 35000);  // 34999 rows and the header
  EXPECT_EQ(r.screen.DetailRowCounter(), 35000);
  EXPECT_EQ(r.screen.grdTotal().Rows(), 35006);
}

TEST(ReportScreenViews, SummaryViewLeavesOnlyExit) {
  Report r;
  r.screen.Option1Click(0);
  EXPECT_FALSE(r.screen.grdDiff().Visible);
  EXPECT_TRUE(r.screen.grdTotal().Visible);
  EXPECT_FALSE(r.screen.CmdRptEnabled(0));
  EXPECT_FALSE(r.screen.CmdRptEnabled(1));
  EXPECT_TRUE(r.screen.CmdRptEnabled(2));
  EXPECT_FALSE(r.screen.CmdRptEnabled(3));
  r.StockDifference("2005-03-04", 15, 1, 2);
  r.screen.CmdRptClick(3);  // disabled: nothing marked
  EXPECT_EQ(r.Cell(1, 9), "");
  r.screen.Option1Click(1);
  EXPECT_TRUE(r.screen.grdDiff().Visible);
  for (int i = 0; i < 4; ++i) EXPECT_TRUE(r.screen.CmdRptEnabled(i));
}

TEST(ReportScreenMarks, ClickOnColumnNineOfMarkableRowsOnly) {
  Report r;
  r.StockDifference("2005-03-04", 15, 1, 2);
  r.screen.WriteReport("k", "c", 1, 0, 6, 1, 3, "C", "DBLAMOUNT");  // item 6: never marked
  r.screen.GrdDiffClick(1, 9);
  EXPECT_EQ(r.Cell(1, 9), "√");
  EXPECT_EQ(r.screen.grdDiff().Row, 1);
  r.screen.GrdDiffClick(1, 8);
  EXPECT_EQ(r.Cell(1, 9), "√");
  r.screen.GrdDiffClick(0, 9);
  EXPECT_EQ(r.screen.grdDiff().Text(0, 9), "调整");
  r.screen.GrdDiffClick(2, 9);
  EXPECT_EQ(r.Cell(2, 9), "");
  r.screen.GrdDiffClick(1, 9);
  EXPECT_EQ(r.Cell(1, 9), "");
}

TEST(ReportScreenMarks, SelectAllTwiceRestoresMarksButClearsErrors) {
  Report r;
  r.StockDifference("2005-03-04", 15, 1, 2);
  r.StockDifference("2005-03-04", 16, 1, 2);
  r.StockDifference("2005-03-04", 17, 1, 2);
  r.screen.WriteReport("k", "c", 1, 0, 6, 1, 3, "C", "DBLAMOUNT");
  r.screen.grdDiff().SetText(2, 9, "错误");
  r.screen.GrdDiffClick(3, 9);
  r.screen.CmdRptClick(3);
  EXPECT_EQ(r.Cell(1, 9), "√");
  EXPECT_EQ(r.Cell(2, 9), "");
  EXPECT_EQ(r.Cell(3, 9), "");
  EXPECT_EQ(r.Cell(4, 9), "");
  r.screen.CmdRptClick(3);
  EXPECT_EQ(r.Cell(1, 9), "");
  EXPECT_EQ(r.Cell(2, 9), "√");
  EXPECT_EQ(r.Cell(3, 9), "√");
  EXPECT_EQ(r.Cell(4, 9), "");
}

TEST(CorrectionStatements, QuotedExamplesAndAmountSigns) {
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
  EXPECT_EQ(SplitSqlList("15,'a,b' ,'it''s',' '"),
            (std::vector<std::string>{"15", "'a,b'", "'it''s'", "' '"}));
  EXPECT_TRUE(SplitSqlList("").empty());
  EXPECT_EQ(SqlLiteral(db::Value("O'Brien")), "'O''Brien'");
  EXPECT_EQ(SqlLiteral(db::Value()), "NULL");
  EXPECT_EQ(SqlLiteral(db::Value(0.1)), "0.1");
}

// Registration writes each marked row into its ledger: UPDATE when the row exists, INSERT when
// not; registered rows take the recomputed figure and lose their mark.
TEST(ReportScreenRegistration, UpdatesElseInsertsAndClearsRegisteredRows) {
  Report r;
  r.set.StockRow("2005-03-04", 15, 2, 1, 100);
  r.set.StockRow("2005-03-06", 17, 2, 3, 5);
  r.StockDifference("2005-03-04", 15, 100, 112.5);  // matched row
  r.StockDifference("2005-03-05", 16, 0, 7);        // "A": only in the documents
  r.StockDifference("2005-03-06", 17, 5, 0);        // "B": only in the ledger
  r.StockDifference("2005-03-07", 18, 0, 9);        // not marked
  for (int row = 1; row <= 3; ++row) r.screen.GrdDiffClick(row, 9);
  r.messages.answers = {true};
  r.screen.CmdRptClick(0);

  ASSERT_EQ(r.messages.asked.size(), 1u);
  EXPECT_EQ(r.messages.asked[0].text,
            "已结账期间数据调整，建议在指定期间输入调整单据进行调整！\r\n"
            "未结账期间可通过本程序自动调整差额。");
  EXPECT_EQ(r.messages.asked[0].title, "对账报告");
  ASSERT_EQ(r.messages.shown.size(), 1u);
  EXPECT_EQ(r.messages.shown[0].text, "登记完毕!");
  EXPECT_EQ(r.messages.shown[0].icon, MessageIcon::Information);
  EXPECT_EQ(r.set.Rows("ItemDaily2"),
            (std::vector<std::string>{"2005-03-04|15|2|1|112.5", "2005-03-05|16|2|0|7",
                                      "2005-03-06|17|2|3|0"}));
  for (int row = 1; row <= 3; ++row) {
    EXPECT_EQ(r.Cell(row, 6), r.Cell(row, 7));
    EXPECT_EQ(r.Cell(row, 8), "0");
    EXPECT_EQ(r.Cell(row, 9), "");
  }
  EXPECT_EQ(r.Cell(4, 8), "-9");
  EXPECT_EQ(r.screen.grdDiff().Row, 3);
  EXPECT_EQ(r.screen.grdDiff().TopRow, 3);
  const RegistrationSummary& s = r.screen.LastRegistration();
  EXPECT_EQ(s.statements, 3);
  EXPECT_EQ(s.registered, 3);
  EXPECT_EQ(s.failed, 0);
}

TEST(ReportScreenRegistration, NoAnswerChangesNothingAndNothingMarkedIsTold) {
  Report r;
  r.set.StockRow("2005-03-04", 15, 2, 1, 100);
  r.StockDifference("2005-03-04", 15, 100, 112.5);
  r.screen.GrdDiffClick(1, 9);
  r.messages.answers = {false};
  r.screen.CmdRptClick(0);
  EXPECT_EQ(r.Cell(1, 9), "√");
  EXPECT_EQ(r.set.Rows("ItemDaily2"), std::vector<std::string>{"2005-03-04|15|2|1|100"});
  EXPECT_TRUE(r.messages.shown.empty());
  for (const auto& entry : std::filesystem::directory_iterator(r.set.dir.path())) {
    EXPECT_EQ(entry.path().filename().string().rfind("Correction", 0), std::string::npos);
  }

  r.screen.GrdDiffClick(1, 9);  // unmarked again
  r.messages.answers = {true};
  r.screen.CmdRptClick(0);
  ASSERT_EQ(r.messages.shown.size(), 1u);
  EXPECT_EQ(r.messages.shown[0].text, "请选择登账条目!");
  EXPECT_EQ(r.messages.shown[0].icon, MessageIcon::Error);
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
  r.messages.answers = {true};
  r.screen.CmdRptClick(0);
  EXPECT_EQ(r.Cell(1, 9), "错误");
  EXPECT_EQ(r.Cell(1, 6), "100");
  EXPECT_EQ(r.Cell(1, 8), "10");
  EXPECT_EQ(r.Cell(2, 9), "");
  EXPECT_EQ(r.set.Rows("ItemDaily2"),
            (std::vector<std::string>{"2005-01-10|15|2|1|100", "2005-03-04|16|2|1|60"}));
  ASSERT_EQ(r.messages.shown.size(), 1u);
  EXPECT_EQ(r.messages.shown[0].text,
            "登记完毕!\r\n1条记录未能登记，仍标为\"错误\"：period closed");
  const RegistrationSummary& s = r.screen.LastRegistration();
  EXPECT_EQ(s.registered, 1);
  EXPECT_EQ(s.failed, 1);
  EXPECT_EQ(s.firstError, "period closed");
  // "全选" clears the error mark like any other.
  r.screen.CmdRptClick(3);
  EXPECT_EQ(r.Cell(1, 9), "");
}

TEST(ReportScreenRegistration, ItemFiveInsertsWithTheSourceOrganisationColumn) {
  Report r;
  r.screen.WriteReport("k", "未记账借方", 0, 40, 5, 4, 5,
                       "STRDATE='2005-03-04' AND LNGACCOUNTID=101 AND LNGORGANIZATIONID=7 AND "
                       "LNGORGANIZATIONID=8",
                       "DBLUNVOUCHERDEBIT");
  r.screen.CmdRptClick(3);
  const auto planned = r.screen.PlannedCorrections();
  ASSERT_EQ(planned.size(), 1u);
  EXPECT_EQ(planned[0].second.update,
            "UPDATE AccountDaily SET DBLUNVOUCHERDEBIT=DBLUNVOUCHERDEBIT+(40) WHERE "
            "STRDATE='2005-03-04' AND LNGACCOUNTID=101 AND LNGORGANIZATIONID=7 AND "
            "LNGORGANIZATIONID=8");
  EXPECT_EQ(planned[0].second.insert,
            "INSERT INTO AccountDaily(STRDATE,LNGACCOUNTID,LNGORGANIZATIONID,"
            "LNGSOURCEORGANIZATIONID,DBLUNVOUCHERDEBIT) VALUES ('2005-03-04',101,7,8,40)");
  r.messages.answers = {true};
  r.screen.CmdRptClick(0);
  EXPECT_EQ(r.set.Rows("AccountDaily"), std::vector<std::string>{"2005-03-04|101|0|7|8|40|0"});
}

// Item 5's condition leaves out its keys that are 0; the correction must still reach only the
// difference's own ledger row, not one that differs from it in such a key.
TEST(ReportScreenRegistration, ItemFiveCorrectionLeavesRowsWithOtherZeroKeysAlone) {
  Report r;
  r.set.ctx.CheckItems.KeyColumns[4] =
      "STRDATE,LNGACCOUNTID,LNGDEPARTMENTID,LNGORGANIZATIONID,LNGSOURCEORGANIZATIONID";
  r.set.Script(R"(INSERT INTO AccountDaily VALUES ('2005-03-04',101,0,7,7,25,0);
                  INSERT INTO AccountDaily VALUES ('2005-03-04',101,3,7,7,60,0);)");
  r.screen.WriteReport("k", "未记账借方", 25, 40, 5, 5, 5,
                       "STRDATE='2005-03-04' AND QARAPDETAIL1.LNGACCOUNTID=101 AND "
                       "LNGORGANIZATIONID=7 AND LNGSOURCEORGANIZATIONID=7",
                       "DBLUNVOUCHERDEBIT");
  r.screen.CmdRptClick(3);
  EXPECT_EQ(r.screen.PlannedCorrections().at(0).second.update,
            "UPDATE AccountDaily SET DBLUNVOUCHERDEBIT=DBLUNVOUCHERDEBIT+(15) WHERE "
            "STRDATE='2005-03-04' AND LNGACCOUNTID=101 AND LNGORGANIZATIONID=7 AND "
            "LNGSOURCEORGANIZATIONID=7 AND NVL(LNGDEPARTMENTID,0)=0");
  r.messages.answers = {true};
  r.screen.CmdRptClick(0);
  EXPECT_EQ(r.set.Rows("AccountDaily"),
            (std::vector<std::string>{"2005-03-04|101|0|7|7|40|0", "2005-03-04|101|3|7|7|60|0"}));

  // Inserted when its row is missing; the undo takes that row away and only that row.
  r.set.Script("DELETE FROM AccountDaily WHERE lngDepartmentID=0");
  r.screen.WriteReport("k", "未记账借方", 0, 25, 5, 5, 5,
                       "STRDATE='2005-03-04' AND QARAPDETAIL1.LNGACCOUNTID=101 AND "
                       "LNGORGANIZATIONID=7 AND LNGSOURCEORGANIZATIONID=7",
                       "DBLUNVOUCHERDEBIT");
  r.screen.GrdDiffClick(2, 9);
  r.messages.answers = {true};
  r.screen.CmdRptClick(0);
  EXPECT_EQ(r.set.Rows("AccountDaily"),
            (std::vector<std::string>{"2005-03-04|101|0|7|7|25|0", "2005-03-04|101|3|7|7|60|0"}));
  r.set.sqlite->ExecuteScript(FileText(r.screen.LastRegistration().undoScript));
  EXPECT_EQ(r.set.Rows("AccountDaily"), std::vector<std::string>{"2005-03-04|101|3|7|7|60|0"});
}

// The undo script puts the ledger back exactly as it was: updated values, inserted rows, and rows
// that one condition matched with different values.
TEST(CorrectionJournal, UndoScriptRestoresTheLedgerExactly) {
  Report r;
  r.set.StockRow("2005-03-04", 15, 2, 1, 100.1);
  r.set.StockRow("2005-03-06", 17, 2, 3, 5);
  r.set.StockRow("2005-03-08", 19, 2, 0.3, 1.0 / 3);
  // Two ledger rows under one condition (its group is not part of it), with different values.
  r.set.StockRow("2005-03-09", 20, 1, 1, 10);
  r.set.StockRow("2005-03-09", 20, 3, 1, 20);
  const std::vector<std::string> before = r.set.Rows("ItemDaily2");
  r.StockDifference("2005-03-04", 15, 100.1, 112.53);
  r.StockDifference("2005-03-05", 16, 0, 7);
  r.StockDifference("2005-03-05", 16, 0, 2, "DBLSALEQUANTITY");  // second column of the A row
  r.StockDifference("2005-03-06", 17, 5, 0);
  r.StockDifference("2005-03-08", 19, 1.0 / 3, 0.25);
  r.screen.WriteReport("k", "销售金额", 30, 33, 1, 2, 4,
                       "ITEMACTIVITY.STRDATE='2005-03-09' AND ITEMACTIVITYDETAIL.LNGITEMID=20",
                       "DBLSALEAMOUNT");
  r.screen.CmdRptClick(3);
  r.messages.answers = {true};
  r.screen.CmdRptClick(0);
  ASSERT_EQ(r.screen.LastRegistration().registered, 6);
  EXPECT_NE(r.set.Rows("ItemDaily2"), before);

  const RegistrationSummary& s = r.screen.LastRegistration();
  ASSERT_TRUE(std::filesystem::exists(s.journal));
  ASSERT_TRUE(std::filesystem::exists(s.undoScript));
  EXPECT_EQ(s.journal.parent_path(), r.set.dir.path());
  const std::string journal = FileText(s.journal);
  EXPECT_NE(journal.find("-- before: SELECT DBLSALEAMOUNT FROM ItemDaily2 WHERE "
                         "STRDATE='2005-03-04' AND LNGITEMID=15 AND LNGPOSITIONGROUPID=2\n"
                         "--   100.1\n"
                         "UPDATE ItemDaily2 SET DBLSALEAMOUNT=DBLSALEAMOUNT+(12.43) WHERE "
                         "STRDATE='2005-03-04' AND LNGITEMID=15 AND LNGPOSITIONGROUPID=2;\n"
                         "-- rows affected: 1\n"),
            std::string::npos)
      << journal;
  EXPECT_NE(journal.find("--   (no row)\n"), std::string::npos);
  EXPECT_NE(journal.find("INSERT INTO ItemDaily2(STRDATE,LNGITEMID,LNGPOSITIONGROUPID,"
                         "DBLSALEAMOUNT) VALUES ('2005-03-05',16,2,7);\n-- rows affected: 1\n"),
            std::string::npos);

  r.set.sqlite->ExecuteScript(FileText(s.undoScript));
  EXPECT_EQ(r.set.Rows("ItemDaily2"), before);
}

TEST(DocumentDetailSql, CutsAtGroupByAndPrefixesEverySelect) {
  const std::string select =
      "SELECT ITEMACTIVITY.STRDATE,ITEMACTIVITYDETAIL.LNGITEMID,SUM(DBLAMOUNT) DBLSALEAMOUNT "
      "FROM ITEMACTIVITY,ITEMACTIVITYDETAIL WHERE ITEMACTIVITY.LNGACTIVITYID="
      "ITEMACTIVITYDETAIL.LNGACTIVITYID GROUP BY ITEMACTIVITY.STRDATE,ITEMACTIVITYDETAIL.LNGITEMID";
  EXPECT_EQ(
      DocumentDetailSql(select, 1, "ITEMACTIVITY.STRDATE='' AND ITEMACTIVITYDETAIL.LNGITEMID=15"),
      "SELECT strDate,lngReceiptTypeID,ltrim(strReceiptNO) || Lpad(lngReceiptNO,4,'0'),"
      " ITEMACTIVITY.STRDATE,ITEMACTIVITYDETAIL.LNGITEMID,(DBLAMOUNT) DBLSALEAMOUNT FROM "
      "ITEMACTIVITY,ITEMACTIVITYDETAIL WHERE ITEMACTIVITY.LNGACTIVITYID="
      "ITEMACTIVITYDETAIL.LNGACTIVITYID  AND ITEMACTIVITY.STRDATE=' ' AND "
      "ITEMACTIVITYDETAIL.LNGITEMID=15");
  EXPECT_EQ(
      DocumentDetailSql("SELECT A FROM T WHERE X=1 GROUP BY A", 4, "A=1"),
      "SELECT strDate,lngVoucherTypeID,Lpad(intVoucherNO,4,'0'), A FROM T WHERE X=1  AND A=1");
  EXPECT_EQ(DocumentDetailSql("SELECT A FROM T WHERE X=1 GROUP BY A", 6, "A=1"),
            "SELECT ItemActivity.strDate,lngReceiptTypeID,ltrim(strReceiptNO) || "
            "Lpad(lngReceiptNO,4,'0'), A FROM T WHERE X=1  AND A=1");
  // An escaped quote inside a value is not an empty text.
  EXPECT_EQ(DocumentDetailSql("SELECT A FROM T WHERE X=1 GROUP BY A", 4, "B='O''Brien' AND C=''"),
            "SELECT strDate,lngVoucherTypeID,Lpad(intVoucherNO,4,'0'), A FROM T WHERE X=1  AND "
            "B='O''Brien' AND C=' '");
}

// Without GROUP BY the whole statement is taken: the row's condition joins its WHERE (or starts
// one) and stands before its ORDER BY.
TEST(DocumentDetailSql, WithoutGroupByTakesTheWholeStatement) {
  EXPECT_EQ(DocumentDetailSql("SELECT A,SUM(B) FROM T WHERE X=1", 2, "A=1"),
            "SELECT strDate,lngReceiptTypeID,ltrim(strReceiptNO) || Lpad(lngReceiptNO,4,'0'), "
            "A,(B) FROM T WHERE X=1 AND A=1");
  EXPECT_EQ(DocumentDetailSql("SELECT A FROM T", 4, "A=1"),
            "SELECT strDate,lngVoucherTypeID,Lpad(intVoucherNO,4,'0'), A FROM T WHERE A=1");
  EXPECT_EQ(DocumentDetailSql("SELECT A FROM T WHERE X=1 ORDER BY A", 4, "A=1"),
            "SELECT strDate,lngVoucherTypeID,Lpad(intVoucherNO,4,'0'), A FROM T WHERE X=1 AND A=1 "
            "ORDER BY A");
}

struct Documents : Report {
  Documents() {
    set.Script(R"(
      CREATE TABLE ItemActivity (lngActivityID INTEGER, strDate TEXT, lngReceiptTypeID INTEGER,
                                 strReceiptNO TEXT, lngReceiptNO INTEGER);
      CREATE TABLE ItemActivityDetail (lngActivityID INTEGER, lngItemID INTEGER, dblAmount REAL);
      INSERT INTO ReceiptType VALUES (3, '销售单');
    )");
    set.ctx.CheckItems.SelectSql[0] =
        "SELECT ITEMACTIVITY.STRDATE,ITEMACTIVITYDETAIL.LNGITEMID,SUM(DBLAMOUNT) DBLSALEAMOUNT "
        "FROM ITEMACTIVITY,ITEMACTIVITYDETAIL WHERE ITEMACTIVITY.LNGACTIVITYID="
        "ITEMACTIVITYDETAIL.LNGACTIVITYID GROUP BY ITEMACTIVITY.STRDATE,"
        "ITEMACTIVITYDETAIL.LNGITEMID";
  }
  void Document(int id, const std::string& date, int item, double amount, int type = 3) {
    set.Script("INSERT INTO ItemActivity VALUES (" + std::to_string(id) + ",'" + date + "'," +
               std::to_string(type) + ",'XS'," + std::to_string(id) + ");" +
               "INSERT INTO ItemActivityDetail VALUES (" + std::to_string(id) + "," +
               std::to_string(item) + "," + db::FormatDouble(amount) + ")");
  }
};

TEST(ReportScreenDetail, DocumentsBehindTheSelectedRow) {
  Documents d;
  d.Document(1, "2005-03-04", 15, 60);
  d.Document(2, "2005-03-04", 15, 52.5);
  d.Document(3, "2005-03-04", 16, 1);
  d.Document(4, "2005-03-05", 15, 1);
  d.screen.WriteReport("k", "销售金额", 100, 112.5, 1, 2, 2,
                       "ITEMACTIVITY.STRDATE='2005-03-04' AND ITEMACTIVITYDETAIL.LNGITEMID=15",
                       "DBLSALEAMOUNT");
  int shown = 0;
  d.screen.SetHooks({nullptr,
                     [&](DetailListScreen& list) {
                       ++shown;
                       EXPECT_EQ(list.RowCounter(), 2);
                     },
                     nullptr});
  d.screen.CmdRptClick(1);  // no row selected: nothing
  EXPECT_EQ(shown, 0);
  d.screen.GrdDiffClick(1, 4);
  d.screen.CmdRptClick(1);
  EXPECT_EQ(shown, 1);
  ASSERT_NE(d.screen.DetailList(), nullptr);
  const Grid& grid = d.screen.DetailList()->grdList();
  EXPECT_EQ(grid.Text(0, 0), "日期");
  EXPECT_EQ(grid.HeaderPiece(3), "数据           ");
  ASSERT_EQ(grid.Rows(), 3);
  std::vector<std::string> lines;
  for (int row = 1; row < grid.Rows(); ++row) {
    lines.push_back(grid.Text(row, 0) + "|" + grid.Text(row, 1) + "|" + grid.Text(row, 2) + "|" +
                    grid.Text(row, 3));
  }
  std::sort(lines.begin(), lines.end());
  EXPECT_EQ(lines, (std::vector<std::string>{"2005-03-04|销售单|XS0001|60",
                                             "2005-03-04|销售单|XS0002|52.5"}));
  EXPECT_TRUE(d.messages.shown.empty());
}

TEST(DetailListScreen, RowsGrowOneAtATimeAndColumnPicksTheField) {
  AccountSet set;
  InitCheckItems(set.ctx);
  set.Script("INSERT INTO ReceiptType VALUES (3, '销售单')");
  DetailListScreen empty(set.ctx);
  empty.LoadData("SELECT '2005-03-04',3,'X',1 FROM ReceiptType WHERE 1=0", 3);
  EXPECT_EQ(empty.grdList().Rows(), 1);
  EXPECT_EQ(empty.RowCounter(), 0);

  std::string many = "SELECT '2005-03-04' A,3 lngReceiptTypeID,'N' || n C,n D,NULL E,n*10 F FROM (";
  for (int n = 1; n <= 50; ++n)
    many += (n > 1 ? " UNION ALL " : "") + ("SELECT " + std::to_string(n) + " n");
  many += ") ORDER BY n";
  DetailListScreen list(set.ctx);
  list.LoadData(many, 5);
  EXPECT_EQ(list.RowCounter(), 50);
  EXPECT_EQ(list.grdList().Rows(), 51);
  EXPECT_EQ(list.grdList().Text(1, 1), "销售单");
  EXPECT_EQ(list.grdList().Text(50, 2), "N50");
  EXPECT_EQ(list.grdList().Text(50, 3), "500");
  list.LoadData(many, 4);  // a null shows as the empty text
  EXPECT_EQ(list.grdList().Text(7, 3), "");
}

TEST(ReportScreenSink, DetailRowsThenOneSummaryRowPerColumnWithItemNegated) {
  Report r;
  ReportScreenSink sink(r.screen);
  DifferenceRecord d;
  d.item = 2;
  d.keyCount = 3;
  d.condition = "STRDATE='2005-03-04'";
  d.keyDescription = "日期=2005-03-04\r\n";
  d.columnName = "DBLSALEAMOUNT";
  d.columnCaption = "销售金额";
  d.columnIndex = 5;
  d.storedValue = 10;
  d.recomputedValue = 12;
  sink.RecordDifference(d, true);
  d.storedValue = 0;
  d.recomputedValue = 3.5;
  sink.RecordDifference(d, true);
  d.columnIndex = 4;
  d.columnName = "DBLSALEQUANTITY";
  d.columnCaption = "销售数量";
  d.storedValue = 1;
  d.recomputedValue = 0;
  sink.RecordDifference(d, false);
  sink.EndItem(2);
  sink.EndItem(3);  // nothing of item 3

  EXPECT_EQ(r.screen.grdDiff().Rows(), 4);
  EXPECT_EQ(r.Cell(1, 0), "2");
  EXPECT_EQ(r.Cell(1, 1), "5");
  EXPECT_EQ(r.Cell(1, 2), "STRDATE='2005-03-04'");
  EXPECT_EQ(r.screen.grdDiff().RowHeight(1), 3 * r.screen.grdDiff().RowHeight(0));
  const Grid& total = r.screen.grdTotal();
  ASSERT_EQ(total.Rows(), 3);
  EXPECT_EQ(total.Text(1, 0), "-2");
  EXPECT_EQ(total.Text(1, 3), "DBLSALEQUANTITY");
  EXPECT_EQ(total.Text(1, 4), "检查库存账");
  EXPECT_EQ(total.Text(1, 8), "1");
  EXPECT_EQ(total.Text(2, 1), "5");
  EXPECT_EQ(total.Text(2, 6), "10");
  EXPECT_EQ(total.Text(2, 7), "15.5");
  EXPECT_EQ(total.Text(2, 8), "-5.5");
}

}  // namespace
}  // namespace tallyvet
