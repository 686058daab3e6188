#include "sample/sql_text.h"

#include <gtest/gtest.h>

namespace tallyvet::sample {
namespace {

TEST(SampleSqlText, GeneralLedgerFillTakesSharedColumnsFromTheDetailAndMatchesByPosition) {
  const std::string sql = GeneralLedgerFillSql({"STRDATE", "LNGACCOUNTID"},
                                               {"STRDATE", "LNGACCOUNTID", "DBLPOSTEDDEBIT",
                                                "DBLUNVOUCHERDEBIT", "DBLQUANTITYUNVOUCHERDEBIT"},
                                               {"STRDATE", "LNGACCOUNTID", "DBLUNVOUCHERDEBIT"},
                                               "SELECT A", "SELECT B");
  EXPECT_EQ(sql,
            "WITH FromVouchers(v0,v1,v2,v3,v4) AS (SELECT A), FromDetail(d0,d1,d2) AS (SELECT B) "
            "INSERT INTO AccountDaily (STRDATE,LNGACCOUNTID,DBLPOSTEDDEBIT,"
            "DBLQUANTITYUNVOUCHERDEBIT,DBLUNVOUCHERDEBIT) SELECT k0,k1,SUM(x0),SUM(x1),SUM(x2) "
            "FROM (SELECT v0 AS k0,v1 AS k1,v2 AS x0,v4 AS x1,0 AS x2 FROM FromVouchers "
            "UNION ALL SELECT d0,d1,0,0,d2 FROM FromDetail) GROUP BY k0,k1 ORDER BY k0,k1");
}

TEST(SampleSqlText, SourceLinesKeepTheirLineBreaks) {
  EXPECT_EQ(SourceLines("a\n\nb"), (std::vector<std::string>{"a\n", "\n", "b\n"}));
  EXPECT_EQ(SourceLines("x\n"), (std::vector<std::string>{"x\n"}));
  EXPECT_TRUE(SourceLines("").empty());
}

TEST(SampleSqlText, SplitColumnsDropsBlanksAndLineBreaks) {
  EXPECT_EQ(SplitColumns("STRDATE, LNGITEMID,\n   LNGPOSITIONID\n,"),
            (std::vector<std::string>{"STRDATE", "LNGITEMID", "LNGPOSITIONID"}));
}

TEST(SampleSqlText, VoucherSourcesFollowTheActivityType) {
  for (int type : {1, 2, 3, 7}) EXPECT_EQ(VoucherSourceOfType(type), 9) << type;
  for (int type : {11, 13, 15, 16}) EXPECT_EQ(VoucherSourceOfType(type), 12) << type;
  for (int type : {5, 19, 27, 28, 30, 31}) EXPECT_EQ(VoucherSourceOfType(type), 11) << type;
}

TEST(SampleSqlText, BookedAmountCountsReceiptTypes30And31Twice) {
  EXPECT_EQ(BookedAmountSql("a", "d"),
            "(d.dblCostAmount+d.dblExpenseAmount)*CASE WHEN a.lngReceiptTypeID IN (30,31) THEN 2 "
            "ELSE 1 END");
}

}  // namespace
}  // namespace tallyvet::sample
