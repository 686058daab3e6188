#include "receipt_audit/receipt_sql.h"

#include <gtest/gtest.h>

#include "receipt_audit/account_set_fixture.h"

namespace tallyvet::receipt_audit {
namespace {

// The statements as the pieces read when joined, written out whole for the two layouts.
const std::string kPairSelect =
    "SELECT  /*+ CHOOSE */  AdjInD.lngActivityDetailID,AdjOutH.strDate,AdjOutH.lngReceiptTypeID,"
    "AdjOutH.strReceiptNo || AdjOutH.lngReceiptNo As ReceiptNo,AdjOutD.lngItemID,"
    "AdjOutD.lngPositionID,AdjOutD.dblAvgCostAmount As dblCostAmount,AdjInD.dblAmount+"
    "AdjInD.dblCostAmount as dblAvgCostAmount FROM ItemActivityDetail AdjInD,ItemActivity AdjInH,"
    "ItemActivityDetail AdjOutD,ItemActivity AdjOutH WHERE AdjInD.lngActivityID=AdjInH."
    "lngActivityID AND AdjOutH.lngOrderActivityID=AdjInH.lngActivityID AND AdjOutD.lngActivityID="
    "AdjOutH.lngActivityID AND AdjInD.lngRowID=AdjOutD.lngRowID AND AdjInH.lngActivityTypeID=27 "
    "AND AdjOutH.lngActivityTypeID=28 ";
const std::string kOutSelect =
    "SELECT  /*+ CHOOSE */  AdjOutD.lngActivityDetailID,AdjOutH.strDate,AdjOutH.lngReceiptTypeID,"
    "AdjOutH.strReceiptNo || AdjOutH.lngReceiptNo As ReceiptNo,AdjOutD.lngItemID,AdjOutD."
    "lngPositionID,AdjOutD.dblAvgCostAmount As dblCostAmount,AdjOutD.dblAmount+AdjOutD."
    "dblCostAmount as dblAvgCostAmount FROM ItemActivityDetail AdjOutD,ItemActivity AdjOutH WHERE "
    "AdjOutD.lngActivityID=AdjOutH.lngActivityID ";
const std::string kLinesFrom =
    "FROM ItemActivityDetail,ItemActivity WHERE ItemActivityDetail.lngActivityID=ItemActivity."
    "lngActivityID AND (";
const std::string kInSelect =
    "SELECT lngActivityDetailID,strDate,lngReceiptTypeID,strReceiptNo || lngReceiptNo As "
    "ReceiptNo,lngItemID,lngPositionID,dblCostAmount,(dblAvgCostAmount+dblAmount)/2 As "
    "dblAvgCostAmount ";
const std::string kOutboundSelect =
    "SELECT lngActivityDetailID,strDate,lngReceiptTypeID,strReceiptNo || lngReceiptNo As "
    "ReceiptNo,lngItemID,lngPositionID,dblCostAmount,dblAmount ";
const std::string kPlanSelect =
    "SELECT /*+ CHOOSE */ lngActivityDetailID,strDate,lngReceiptTypeID,strReceiptNo || "
    "lngReceiptNo As ReceiptNo,lngItemID,lngPositionID,dblCostAmount,dblAvgCostAmount ";

TEST(ReceiptCheckStatements, NewerLayoutCarriesTheSameGroupPieces) {
  for (const std::string version : {"9.00", "8.2", "10.0", ""}) {
    SCOPED_TRACE("version '" + version + "'");
    EXPECT_EQ(TransferPairCheckSql(version),
              kPairSelect +
                  "AND AdjInH.blnSameGroup=1 AND (AdjInD.dblAvgCostAmount<>AdjOutD.dblAvgCostAmount"
                  " OR AdjInD.dblAmount<>0 OR AdjInD.dblCostAmount<>0 OR AdjInD.blnIsManual=1)");
    EXPECT_EQ(TransferOutCheckSql(version),
              kOutSelect +
                  "AND AdjOutH.lngActivityTypeID=28 AND AdjOutH.blnSameGroup=1  AND "
                  "(AdjOutD.dblAmount<>0 OR AdjOutD.dblCostAmount<>0 OR AdjOutD.blnIsManual=1)");
    EXPECT_EQ(InboundCheckSql(version),
              kInSelect + kLinesFrom +
                  "lngActivityTypeID=27 AND blnSameGroup=0 OR lngActivityTypeID IN "
                  "(1,3,5,32,9,8,10,30,41)) AND (dblCostAmount<>dblAvgCostAmount OR "
                  "dblAmount<>dblCostAmount) AND dblPlanPrice=0 ");
    EXPECT_EQ(OutboundCheckSql(version),
              kOutboundSelect + kLinesFrom +
                  "lngActivityTypeID=28 AND blnSameGroup=0 OR lngActivityTypeID IN "
                  "(15,19,22,21,31,33)) AND (dblAmount<>dblCostAmount) AND dblPlanPrice=0 ");
    EXPECT_EQ(PlannedPriceCheckSql(version),
              kPlanSelect + kLinesFrom +
                  "lngActivityTypeID IN (27,28) AND blnSameGroup=0 OR lngActivityTypeID IN "
                  "(1,3,5,32,9,8,10,30,15,19,22,21,31,33,41)) AND (dblAvgCostAmount<>"
                  "dblCostAmount) AND dblPlanPrice>0");
  }
}

TEST(ReceiptCheckStatements, Version810DropsTheSameGroupPieces) {
  EXPECT_EQ(TransferOutCheckSql("8.10"),
            kOutSelect +
                "AND AdjOutH.lngActivityTypeID=28  AND (AdjOutD.dblAmount<>0 OR "
                "AdjOutD.dblCostAmount<>0 )");
  EXPECT_EQ(InboundCheckSql("8.10"),
            kInSelect + kLinesFrom +
                "lngActivityTypeID IN (1,3,5,32,9,8,10,30,41)) AND (dblCostAmount<>"
                "dblAvgCostAmount OR dblAmount<>dblCostAmount) AND dblPlanPrice=0 ");
  EXPECT_EQ(OutboundCheckSql("8.10"), kOutboundSelect + kLinesFrom +
                                          "lngActivityTypeID IN (15,19,22,21,31,33)) AND "
                                          "(dblAmount<>dblCostAmount) AND dblPlanPrice=0 ");
  EXPECT_EQ(PlannedPriceCheckSql("8.10"),
            kPlanSelect + kLinesFrom +
                "lngActivityTypeID IN (1,3,5,32,9,8,10,30,15,19,22,21,31,33,41)) AND "
                "(dblAvgCostAmount<>dblCostAmount) AND dblPlanPrice>0");
}

TEST(ReceiptCheckStatements, PairCheckRunsOnlyAboveVersion810ComparedAsText) {
  const auto kinds = [](const std::string& version) {
    std::string out;
    for (const auto& c : ReceiptChecks(version)) out += std::string(c.kind) + ",";
    return out;
  };
  EXPECT_EQ(kinds("9.00"), "转仓单,转仓单,入库单,出库单,计划价,");
  EXPECT_EQ(kinds("8.2"), "转仓单,转仓单,入库单,出库单,计划价,");
  EXPECT_EQ(kinds("8.10"), "转仓单,入库单,出库单,计划价,");
  EXPECT_EQ(kinds("10.0"), "转仓单,入库单,出库单,计划价,");
  EXPECT_EQ(kinds(""), "转仓单,入库单,出库单,计划价,");
  EXPECT_TRUE(IsOldVersion("8.10"));
  EXPECT_FALSE(IsOldVersion("8.1"));

  // The transfer caption shows once, before whichever transfer check runs first.
  EXPECT_EQ(ReceiptChecks("8.10")[0].notesCaption, "正在检查转仓单数据....");
  EXPECT_EQ(ReceiptChecks("9.00")[0].notesCaption, "正在检查转仓单数据....");
  EXPECT_TRUE(ReceiptChecks("9.00")[1].notesCaption.empty());
  EXPECT_EQ(ReceiptChecks("9.00")[3].secondAmount, "dblAmount");
}

// Every statement must be one the database accepts, in every layout: a stand-in piece that names
// an alias the statement does not join would stop every run.
TEST(ReceiptCheckStatements, EveryStatementRunsOnTheHostSchema) {
  fixture::AccountSet set;
  for (const std::string version : {"9.00", "8.2", "8.10", "10.0", ""}) {
    SCOPED_TRACE("version '" + version + "'");
    std::vector<std::string> statements = {TransferPairCheckSql(version),
                                           TransferOutCheckSql(version),
                                           InboundCheckSql(version),
                                           OutboundCheckSql(version),
                                           PlannedPriceCheckSql(version),
                                           AverageCostGroupSql(version),
                                           AbsorbingLineSql(version, {2025, 1, 1, 1})};
    for (const auto& sql : statements) EXPECT_NO_THROW(set.db().OpenResultset(sql, 3, 3)) << sql;
  }
}

TEST(WriteBackStatements, ChosenByKind) {
  EXPECT_EQ(*WriteBackSql("入库单", "lngActivityDetailID=7", "12.5"),
            "UPDATE ItemActivityDetail SET dblAmount=dblcostAmount,dblAvgCostAmount=dblCostAmount "
            "WHERE lngActivityDetailID=7");
  EXPECT_EQ(*WriteBackSql("出库单", "lngActivityDetailID=7", "12.5"),
            *WriteBackSql("入库单", "lngActivityDetailID=7", "99"));
  EXPECT_EQ(*WriteBackSql("转仓单", "lngActivityDetailID=8", "-0.125"),
            "UPDATE ItemActivityDetail SET dblCostAmount=0,dblAmount=0,dblAvgCostAmount=-0.125 "
            "WHERE lngActivityDetailID=8");
  EXPECT_EQ(*WriteBackSql("计划价", "lngActivityDetailID=9", ""),
            "UPDATE ItemActivityDetail SET dblAvgCostAmount=dblCostAmount WHERE "
            "lngActivityDetailID=9");
  EXPECT_FALSE(WriteBackSql("", "lngActivityDetailID=9", "1").has_value());
}

TEST(AverageCostStatements, GroupStatementPerVersion) {
  EXPECT_EQ(AverageCostGroupSql("9.00"),
            "SELECT /*+ CHOOSE */ intYear,bytPeriod,lngItemID,lngPositionGroupID,Sum(dblCostAmount)"
            " As dblSumCost, Sum(dblAvgCostAmount) As dblSumAvgCost From ItemActivity, "
            "ItemActivityDetail,Position Where ItemActivity.lngActivityID = ItemActivityDetail."
            "lngActivityID AND ItemActivityDetail.lngPositionID=Position.lngPositionID AND "
            "blnIsVoid=0 AND ItemActivity.bytStatus=2 AND dblPlanPrice=0 AND (lngActivityTypeID "
            "IN(11,13,16,15,19,22,21,31,33) OR lngActivityTypeID=28 AND blnSameGroup=0) GROUP BY "
            "intYear,bytPeriod,lngItemID,lngPositionGroupID HAVING Sum(dblCostAmount)<>"
            "Sum(dblAvgCostAmount)");
  EXPECT_EQ(AverageCostGroupSql("8.10"),
            "SELECT /*+ CHOOSE */ intYear,bytPeriod,lngItemID,Sum(dblCostAmount) As dblSumCost, "
            "Sum(dblAvgCostAmount) As dblSumAvgCost From ItemActivity, ItemActivityDetail,Position "
            "Where ItemActivity.lngActivityID = ItemActivityDetail.lngActivityID AND "
            "ItemActivityDetail.lngPositionID=Position.lngPositionID AND blnIsVoid=0 AND "
            "dblPlanPrice=0 AND (lngActivityTypeID IN(11,13,16,15,19,22,21,31,33)) GROUP BY "
            "intYear,bytPeriod,lngItemID HAVING Sum(dblCostAmount)<>Sum(dblAvgCostAmount)");
  EXPECT_EQ(AverageCostGroupSql("10.0"), AverageCostGroupSql("9.00"));
}

TEST(AverageCostStatements, LineSearchPerVersion) {
  const std::string head =
      "SELECT /*+ First Rows */ strDate,lngActivityDetailID FROM ItemActivityDetail,ItemActivity,"
      "Position Where ItemActivity.lngActivityID = ItemActivityDetail.lngActivityID AND "
      "ItemActivityDetail.lngPositionID=Position.lngPositionID ";
  EXPECT_EQ(AbsorbingLineSql("9.00", {2025, 3, 15, 2}),
            head +
                "AND blnIsVoid=0 AND ItemActivity.bytStatus=2 AND (lngActivityTypeID "
                "IN(11,13,16,15,19,22,21,31,33) OR lngActivityTypeID=28 AND blnSameGroup=0) AND "
                "intYear=2025 AND bytPeriod=3 AND lngItemID=15 AND lngPositionGroupID=2 ORDER BY "
                "strDate DESC");
  EXPECT_EQ(AbsorbingLineSql("8.10", {2025, 3, 15, 2}),
            head +
                "AND blnIsVoid=0 AND (lngActivityTypeID IN(11,13,16,15,19,22,21,31,33)) AND "
                "intYear=2025 AND bytPeriod=3 AND lngItemID=15 ORDER BY strDate DESC");
}

// A position without a group gives a null group key; "lngPositionGroupID=" with nothing after it
// would stop the whole update.
TEST(AverageCostStatements, NullGroupKeyIsMatchedWithIsNull) {
  const std::string sql = AbsorbingLineSql("9.00", {2025, 3, 15, db::Value{}});
  EXPECT_NE(sql.find(" AND lngItemID=15 AND lngPositionGroupID IS NULL ORDER BY"),
            std::string::npos)
      << sql;
}

TEST(AverageCostStatements, UpdateKeepsTheSignAfterThePlus) {
  EXPECT_EQ(AverageCostUpdateSql(-0.5, "42"),
            "UPDATE ItemActivityDetail SET dblAvgCostAmount=dblAvgCostAmount+-0.5 WHERE "
            "lngActivityDetailID=42");
  EXPECT_EQ(AverageCostUpdateSql(0, "42"),
            "UPDATE ItemActivityDetail SET dblAvgCostAmount=dblAvgCostAmount+0 WHERE "
            "lngActivityDetailID=42");
  EXPECT_NE(AverageCostUpdateSql(0.1 + 0.2, "1").find("+0.30000000000000004 WHERE"),
            std::string::npos);
}

TEST(Numbers, RoundDecimalHalvesToEvenOnTheDecimalText) {
  EXPECT_EQ(RoundDecimal(0.00004, 4), 0.0);
  EXPECT_EQ(RoundDecimal(-0.00004, 4), 0.0);
  EXPECT_EQ(RoundDecimal(0.00015, 4), 0.0002);  // binary value a hair below the half
  EXPECT_EQ(RoundDecimal(0.00025, 4), 0.0002);
  EXPECT_EQ(RoundDecimal(0.000251, 4), 0.0003);
  EXPECT_EQ(RoundDecimal(0.004, 2), 0.0);
  EXPECT_EQ(RoundDecimal(0.005, 2), 0.0);
  EXPECT_EQ(RoundDecimal(0.015, 2), 0.02);
  EXPECT_EQ(RoundDecimal(-2.675, 2), -2.68);
  EXPECT_EQ(RoundDecimal(9.995, 2), 10.0);
  EXPECT_EQ(RoundDecimal(99.99999, 4), 100.0);
  EXPECT_EQ(RoundDecimal(123456789.123, 2), 123456789.12);
  EXPECT_EQ(RoundDecimal(1e300, 2), 1e300);
  EXPECT_EQ(RoundDecimal(5e-324, 4), 0.0);
}

}  // namespace
}  // namespace tallyvet::receipt_audit
