#include "ledger_engine/comparison.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "comparison_fixtures.h"
#include "ledger_engine/compare_rows.h"

namespace tallyvet {
namespace {

using testing::AccountSet;
using testing::CollectingSink;
using testing::RecordingScreen;

TEST(ComparisonStatementTest, KeyCountIsTheLastNumberOfThePositionList) {
  EXPECT_EQ(KeyCountFromPositions("1,2,3"), 3);
  EXPECT_EQ(KeyCountFromPositions("1,2,3,4,5,6,7,8,9,10"), 10);
  EXPECT_EQ(KeyCountFromPositions("1,2,3,4,5,6,7,8"), 8);
  EXPECT_EQ(KeyCountFromPositions("1"), 1);
  EXPECT_EQ(KeyCountFromPositions(""), 0);
}

TEST(ComparisonStatementTest, RecomputeIsOrderedByPositionsAndDatedBeforeEveryGroupBy) {
  // The blank before GROUP BY stays, so the inserted condition leaves two blanks behind it.
  EXPECT_EQ(RecomputeStatement("select a.lngItemID,sum(x) from a where 1=1 group by a.lngItemID",
                               "1", 1, "2005-01-01", "2005-01-31"),
            "SELECT A.LNGITEMID,SUM(X) FROM A WHERE 1=1  AND strDate>='2005-01-01' AND "
            "strDate<='2005-01-31' GROUP BY A.LNGITEMID ORDER BY 1");
  // Its own ORDER BY keeps the positions out; a grouped subquery gets the range too.
  EXPECT_EQ(RecomputeStatement("SELECT K,SUM(V) FROM (SELECT K,V FROM T WHERE 1=1 GROUP BY K,V) "
                               "WHERE 1=1 GROUP BY K ORDER BY K",
                               "1", 2, " ", "9999-12-31"),
            "SELECT K,SUM(V) FROM (SELECT K,V FROM T WHERE 1=1  AND strDate>=' ' AND "
            "strDate<='9999-12-31' GROUP BY K,V) WHERE 1=1  AND strDate>=' ' AND "
            "strDate<='9999-12-31' GROUP BY K ORDER BY K");
  // Only the exact upper-case "ORDER BY" counts as the statement's own.
  EXPECT_EQ(RecomputeStatement("SELECT K FROM T WHERE 1=1 GROUP BY K order by K", "1", 1, "a", "b"),
            "SELECT K FROM T WHERE 1=1  AND strDate>='a' AND strDate<='b' GROUP BY K ORDER BY K "
            "ORDER BY 1");
}

TEST(ComparisonStatementTest, Item6TestsTheDocumentDateThroughNvl) {
  EXPECT_EQ(RecomputeStatement("SELECT K FROM T WHERE 1=1 GROUP BY K", "1,2,3", 6, "2005-01-01",
                               "2005-01-31"),
            "SELECT K FROM T WHERE 1=1  AND NVL(ItemActivity.strDate,' ')>='2005-01-01' AND "
            "NVL(ItemActivity.strDate,' ')<='2005-01-31' GROUP BY K ORDER BY 1,2,3");
}

TEST(ComparisonStatementTest, StoredCountAndHeadingTexts) {
  EXPECT_EQ(StoredStatement("LNGITEMID,STRDATE,DBLSALEQUANTITY", "ITEMDAILY2", "2005-01-01",
                            "2005-01-31", "1,2"),
            "SELECT LNGITEMID,STRDATE,DBLSALEQUANTITY FROM ITEMDAILY2 WHERE "
            "strDate>='2005-01-01' AND strDate<='2005-01-31' ORDER BY 1,2");
  EXPECT_EQ(CountStatement("ItemDaily2", " ", "2004-12-31"),
            "SELECT COUNT(*) FROM ItemDaily2 WHERE strDate>=' ' AND strDate<='2004-12-31'");
  // A quote in a date cannot end the literal.
  EXPECT_EQ(CountStatement("T", "x' OR '1'='1", "y"),
            "SELECT COUNT(*) FROM T WHERE strDate>='x'' OR ''1''=''1' AND strDate<='y'");
  EXPECT_EQ(SectionHeading("检查存货账"), "==========差额明细（检查存货账)==========");
}

TEST(ComparisonStatementTest, OnlyRealCalendarDaysAreValidDates) {
  EXPECT_TRUE(IsValidDate("2005-01-31"));
  EXPECT_TRUE(IsValidDate("2004-02-29"));
  EXPECT_TRUE(IsValidDate("2005/1/5"));
  EXPECT_FALSE(IsValidDate("2005-02-29"));
  EXPECT_FALSE(IsValidDate("2005-13-01"));
  EXPECT_FALSE(IsValidDate(" "));
  EXPECT_FALSE(IsValidDate(""));
  EXPECT_FALSE(IsValidDate("2005-01"));
  EXPECT_FALSE(IsValidDate("2005-01-01x"));
}

// An account set whose documents are the lines of one table, DETAIL, summed per item and date.
class CompareLedgerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    set_.Item(15, "A-015");
    set_.Item(16, "A-016");
    set_.Run(
        "CREATE TABLE Detail (lngItemID INTEGER, strDate VARCHAR(10), dblQuantity REAL, "
        "dblAmount REAL)");
    for (int item : {1, 2, 4}) {
      const std::size_t i = CheckItemTable::Index(item);
      set_.ctx.CheckItems.SelectSql[i] =
          "SELECT DETAIL.LNGITEMID,DETAIL.STRDATE,SUM(DETAIL.DBLQUANTITY) DBLSALEQUANTITY,"
          "SUM(DETAIL.DBLAMOUNT) DBLSALEAMOUNT FROM DETAIL WHERE 1=1 "
          "GROUP BY DETAIL.LNGITEMID,DETAIL.STRDATE";
      set_.ctx.CheckItems.InsertColumns[i] = "LNGITEMID,STRDATE,DBLSALEQUANTITY,DBLSALEAMOUNT";
    }
  }
  void Document(int item, const std::string& date, double quantity, double amount) {
    set_.Run("INSERT INTO Detail VALUES (" + std::to_string(item) + ",'" + date + "'," +
             db::FormatDouble(quantity) + "," + db::FormatDouble(amount) + ")");
  }
  std::string Report(const std::string& name = "Compare.txt") {
    std::ifstream in(set_.dir() / name, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }
  bool Run(int item, const std::string& start, const std::string& end, bool writeReport = true) {
    return RunComparison(set_.ctx, screen_, report_, item, start, end, writeReport, false, {&sink_},
                         &error_);
  }
  std::string QueryContaining(const std::string& text) {
    for (const auto& q : set_.log().queries) {
      if (q.find(text) != std::string::npos) return q;
    }
    return {};
  }

  AccountSet set_;
  ReportFile report_{set_.dir().path()};
  RecordingScreen screen_;
  CollectingSink sink_;
  std::string error_ = "not cleared";
};

TEST_F(CompareLedgerTest, LedgerInLineWithItsDocumentsIsClean) {
  Document(15, "2005-01-03", 4, 40);
  Document(15, "2005-01-03", 6, 60);
  Document(16, "2005-02-03", 1, 1);  // outside the range on both sides
  set_.LedgerRow("ItemDaily2", 15, "2005-01-03", 10, 100);
  set_.LedgerRow("ItemDaily2", 16, "2005-02-03", 7, 7);

  EXPECT_TRUE(Run(1, "2005-01-01", "2005-01-31"));
  EXPECT_EQ(error_, "");
  EXPECT_EQ(screen_.notes,
            (std::vector<std::string>{"正在准备数据.....", "检查明细数据差异....."}));
  EXPECT_EQ(sink_.ended, std::vector<int>{1});
  EXPECT_EQ(set_.ctx.CheckItems.InsertColumns[0],
            "LNGITEMID,STRDATE,DBLSALEQUANTITY,DBLSALEAMOUNT");
  EXPECT_EQ(QueryContaining("FROM ITEMDAILY2 WHERE"),
            "SELECT LNGITEMID,STRDATE,DBLSALEQUANTITY,DBLSALEAMOUNT FROM ITEMDAILY2 WHERE "
            "strDate>='2005-01-01' AND strDate<='2005-01-31' ORDER BY 1,2");
  EXPECT_EQ(QueryContaining("COUNT(*)"),
            "SELECT COUNT(*) FROM ItemDaily2 WHERE strDate>='2005-01-01' AND "
            "strDate<='2005-01-31'");
  const std::string report = Report();
  EXPECT_NE(report.find(Utf8ToGbk("==========差额明细（检查存货账)==========\r\n" +
                                  std::string(69, '*') + "\r\n  对账完毕！\r\n\r\n")),
            std::string::npos);
}

TEST_F(CompareLedgerTest, DifferencesGoIntoTheItemsSectionWithTheSummaryLines) {
  Document(15, "2005-01-03", 12, 100);
  Document(16, "2005-01-04", 2.5, 0);
  set_.LedgerRow("ItemDaily2", 15, "2005-01-03", 10, 100);

  EXPECT_FALSE(Run(1, "2005-01-01", "2005-01-31"));
  EXPECT_EQ(error_, "");
  ASSERT_EQ(sink_.records.size(), 2u);
  EXPECT_EQ(sink_.records[0].item, 1);
  EXPECT_EQ(sink_.records[0].condition, "DETAIL.LNGITEMID=15 AND DETAIL.STRDATE='2005-01-03'");
  EXPECT_EQ(sink_.ended, std::vector<int>{1});

  const std::string section =
      "==========差额明细（检查存货账)==========\r\n"
      "    商品=A-015 日期=2005-01-03  销售数量  汇总数：10  明细数：12  差额：-2\r\n"
      "    商品=A-016 日期=2005-01-04  销售数量  汇总数：0  明细数：2.5  差额：-2.5\r\n"
      "    检查并更新2笔差异!\r\n" +
      std::string(69, '*') + "\r\n  对账完毕！\r\n\r\n";
  const std::string report = Report();
  ASSERT_GE(report.size(), Utf8ToGbk(section).size());
  EXPECT_EQ(report.substr(report.size() - Utf8ToGbk(section).size()), Utf8ToGbk(section));
  EXPECT_EQ(report.rfind(std::string(69, '*'), 0), 0u);  // the banner opens the file
}

TEST_F(CompareLedgerTest, EachItemsSectionHoldsOnlyItsOwnSummaryLines) {
  Document(15, "2005-01-03", 12, 100);
  EXPECT_FALSE(Run(1, "2005-01-01", "2005-01-31"));
  set_.LedgerRow("PositionDaily", 15, "2005-01-03", 12, 100);
  EXPECT_TRUE(Run(2, "2005-01-01", "2005-01-31"));
  EXPECT_NE(Report("Compare.000").find(Utf8ToGbk("检查并更新2笔差异!")), std::string::npos);
  EXPECT_EQ(Report().find(Utf8ToGbk("检查并更新")), std::string::npos);
  EXPECT_NE(Report().find(Utf8ToGbk("差额明细（检查库存账)")), std::string::npos);
  EXPECT_EQ(screen_.list.size(), 1u);  // the run's list keeps what the items added
}

TEST_F(CompareLedgerTest, Item4StartsAtTheAccountSetsStartWhenTheStartIsNoDate) {
  Run(4, " ", "2005-01-31", false);
  EXPECT_NE(QueryContaining("FROM ACCOUNTDAILY WHERE").find("strDate>='2005-01-01'"),
            std::string::npos);
  set_.log().queries.clear();
  Run(1, " ", "2005-01-31", false);
  EXPECT_NE(QueryContaining("FROM ITEMDAILY2 WHERE").find("strDate>=' '"), std::string::npos);
}

TEST_F(CompareLedgerTest, WithoutTheReportFlagNoFileIsWritten) {
  Document(15, "2005-01-03", 12, 100);
  EXPECT_FALSE(Run(1, "2005-01-01", "2005-01-31", false));
  EXPECT_FALSE(std::filesystem::exists(set_.dir() / "Compare.txt"));
  EXPECT_TRUE(sink_.records.empty());
  EXPECT_EQ(sink_.ended, std::vector<int>{1});
}

TEST_F(CompareLedgerTest, AnErrorInTheMergeIsWrittenIntoTheSectionAndHandedBack) {
  // Regression: a comparison that stopped on an error looked exactly like one with differences.
  set_.Run("ALTER TABLE PositionDaily ADD COLUMN dblNoCaption REAL");
  set_.ctx.CheckItems.SelectSql[1] =
      "SELECT DETAIL.LNGITEMID,DETAIL.STRDATE,SUM(DETAIL.DBLQUANTITY) DBLNOCAPTION FROM DETAIL "
      "WHERE 1=1 GROUP BY DETAIL.LNGITEMID,DETAIL.STRDATE";
  set_.ctx.CheckItems.InsertColumns[1] = "LNGITEMID,STRDATE,DBLNOCAPTION";
  Document(15, "2005-01-03", 1, 0);
  Document(16, "2005-01-03", 1, 0);

  EXPECT_FALSE(Run(2, "2005-01-01", "2005-01-31"));
  EXPECT_NE(error_.find("DBLNOCAPTION"), std::string::npos) << error_;
  EXPECT_EQ(sink_.ended, std::vector<int>{2});
  const std::string section = "==========差额明细（检查库存账)==========\r\n    对账出错：" +
                              error_ + "\r\n" + std::string(69, '*') + "\r\n  对账完毕！\r\n\r\n";
  const std::string report = Report();
  EXPECT_EQ(report.substr(report.size() - Utf8ToGbk(section).size()), Utf8ToGbk(section));
}

TEST_F(CompareLedgerTest, AStatementTheDatabaseRefusesStillGetsItsSection) {
  set_.ctx.CheckItems.SelectSql[0] =
      "SELECT LNGITEMID FROM NOSUCHTABLE WHERE 1=1 GROUP BY LNGITEMID";
  EXPECT_FALSE(Run(1, "2005-01-01", "2005-01-31"));
  EXPECT_NE(error_.find("NOSUCHTABLE"), std::string::npos) << error_;
  const std::string report = Report();
  EXPECT_NE(report.find(Utf8ToGbk("==========差额明细（检查存货账)==========\r\n    对账出错：")),
            std::string::npos);
  // Without a report the message still reaches the caller.
  error_.clear();
  EXPECT_FALSE(Run(1, "2005-01-01", "2005-01-31", false));
  EXPECT_NE(error_.find("NOSUCHTABLE"), std::string::npos);
}

TEST_F(CompareLedgerTest, CountLedgerRowsCountsTheRangeOnly) {
  set_.LedgerRow("ItemDaily2", 15, "2005-01-03", 1, 1);
  set_.LedgerRow("ItemDaily2", 15, "2005-01-31", 1, 1);
  set_.LedgerRow("ItemDaily2", 15, "2005-02-01", 1, 1);
  EXPECT_EQ(CountLedgerRows(set_.ctx, 1, "2005-01-01", "2005-01-31"), 2);
  EXPECT_EQ(CountLedgerRows(set_.ctx, 1, "2006-01-01", "2006-01-31"), 0);
}

}  // namespace
}  // namespace tallyvet
