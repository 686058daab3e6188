// The audit's statements, compared as text and run on the host schema.
#include "receipt_audit/receipt_sql.h"

#include <gtest/gtest.h>
#include <tuple>

#include "receipt_audit/account_set_fixture.h"

namespace tallyvet::receipt_audit {
namespace {

using Build = std::string (*)(std::string_view);

// `text` without any of `pieces`.
std::string Without(std::string text, const std::vector<std::string>& pieces) {
  for (const auto& piece : pieces) {
    for (auto at = text.find(piece); at != text.npos; at = text.find(piece))
      text.erase(at, piece.size());
  }
  return text;
}

const std::string kLines =
    "FROM ItemActivityDetail,ItemActivity WHERE "
    "ItemActivityDetail.lngActivityID=ItemActivity.lngActivityID AND (";
const std::string kLineColumns =
    "lngActivityDetailID,strDate,lngReceiptTypeID,strReceiptNo || lngReceiptNo As "
    "ReceiptNo,lngItemID,lngPositionID,dblCostAmount,";
const std::string kIssuingColumns =
    "AdjOutH.strDate,AdjOutH.lngReceiptTypeID,AdjOutH.strReceiptNo || AdjOutH.lngReceiptNo As "
    "ReceiptNo,AdjOutD.lngItemID,AdjOutD.lngPositionID,AdjOutD.dblAvgCostAmount As dblCostAmount,";
const std::string kGroupLines =
    "Where ItemActivity.lngActivityID = ItemActivityDetail.lngActivityID AND "
    "ItemActivityDetail.lngPositionID=Position.lngPositionID AND blnIsVoid=0 AND "
    "ItemActivity.bytStatus=2 AND ";
const std::string kGroupTypes =
    "(lngActivityTypeID IN(11,13,16,15,19,22,21,31,33) OR lngActivityTypeID=28 AND blnSameGroup=0)";

// Each statement whole as every version but "8.10" reads it ("8.2", "10.0" and the empty version
// included), and the pieces that "8.10" leaves out. Regression: a stand-in piece naming an alias
// the statement does not join stopped every run, so each must also run on the host schema.
TEST(ReceiptStatements, WholeTextPerVersionAndEachRuns) {
  const std::vector<std::tuple<Build, std::string, std::vector<std::string>>> cases = {
      {TransferPairCheckSql,
       "SELECT  /*+ CHOOSE */  AdjInD.lngActivityDetailID," + kIssuingColumns +
           "AdjInD.dblAmount+AdjInD.dblCostAmount as dblAvgCostAmount FROM ItemActivityDetail "
           "AdjInD,ItemActivity AdjInH,ItemActivityDetail AdjOutD,ItemActivity AdjOutH WHERE "
           "AdjInD.lngActivityID=AdjInH.lngActivityID AND "
           "AdjOutH.lngOrderActivityID=AdjInH.lngActivityID AND "
           "AdjOutD.lngActivityID=AdjOutH.lngActivityID AND AdjInD.lngRowID=AdjOutD.lngRowID AND "
           "AdjInH.lngActivityTypeID=27 AND AdjOutH.lngActivityTypeID=28 AND AdjInH.blnSameGroup=1 "
           "AND (AdjInD.dblAvgCostAmount<>AdjOutD.dblAvgCostAmount OR AdjInD.dblAmount<>0 OR "
           "AdjInD.dblCostAmount<>0 OR AdjInD.blnIsManual=1)",
       {"AND AdjInH.blnSameGroup=1 ", "OR AdjInD.blnIsManual=1"}},
      {TransferOutCheckSql,
       "SELECT  /*+ CHOOSE */  AdjOutD.lngActivityDetailID," + kIssuingColumns +
           "AdjOutD.dblAmount+AdjOutD.dblCostAmount as dblAvgCostAmount FROM ItemActivityDetail "
           "AdjOutD,ItemActivity AdjOutH WHERE AdjOutD.lngActivityID=AdjOutH.lngActivityID AND "
           "AdjOutH.lngActivityTypeID=28 AND AdjOutH.blnSameGroup=1  AND (AdjOutD.dblAmount<>0 OR "
           "AdjOutD.dblCostAmount<>0 OR AdjOutD.blnIsManual=1)",
       {"AND AdjOutH.blnSameGroup=1 ", "OR AdjOutD.blnIsManual=1"}},
      {InboundCheckSql,
       "SELECT " + kLineColumns + "(dblAvgCostAmount+dblAmount)/2 As dblAvgCostAmount " + kLines +
           "lngActivityTypeID=27 AND blnSameGroup=0 OR lngActivityTypeID IN "
           "(1,3,5,32,9,8,10,30,41)) AND (dblCostAmount<>dblAvgCostAmount OR "
           "dblAmount<>dblCostAmount) AND dblPlanPrice=0 ",
       {"lngActivityTypeID=27 AND blnSameGroup=0 OR "}},
      {OutboundCheckSql,
       "SELECT " + kLineColumns + "dblAmount " + kLines +
           "lngActivityTypeID=28 AND blnSameGroup=0 OR lngActivityTypeID IN (15,19,22,21,31,33)) "
           "AND (dblAmount<>dblCostAmount) AND dblPlanPrice=0 ",
       {"lngActivityTypeID=28 AND blnSameGroup=0 OR "}},
      {PlannedPriceCheckSql,
       "SELECT /*+ CHOOSE */ " + kLineColumns + "dblAvgCostAmount " + kLines +
           "lngActivityTypeID IN (27,28) AND blnSameGroup=0 OR lngActivityTypeID IN "
           "(1,3,5,32,9,8,10,30,15,19,22,21,31,33,41)) AND (dblAvgCostAmount<>dblCostAmount) AND "
           "dblPlanPrice>0",
       {"lngActivityTypeID IN (27,28) AND blnSameGroup=0 OR "}},
      {AverageCostGroupSql,
       "SELECT /*+ CHOOSE */ intYear,bytPeriod,lngItemID,lngPositionGroupID,Sum(dblCostAmount) As "
       "dblSumCost, Sum(dblAvgCostAmount) As dblSumAvgCost From ItemActivity, "
       "ItemActivityDetail,Position " +
           kGroupLines + "dblPlanPrice=0 AND " + kGroupTypes +
           " GROUP BY intYear,bytPeriod,lngItemID,lngPositionGroupID HAVING "
           "Sum(dblCostAmount)<>Sum(dblAvgCostAmount)",
       {"lngPositionGroupID,", ",lngPositionGroupID", "ItemActivity.bytStatus=2 AND ",
        " OR lngActivityTypeID=28 AND blnSameGroup=0"}},
      {[](std::string_view version) {
         return AbsorbingLineSql(version, {2025, 3, 15, 2});
       },
       "SELECT /*+ First Rows */ strDate,lngActivityDetailID FROM "
       "ItemActivityDetail,ItemActivity,Position " +
           kGroupLines + kGroupTypes +
           " AND intYear=2025 AND bytPeriod=3 AND lngItemID=15 AND lngPositionGroupID=2 ORDER BY "
           "strDate DESC",
       {"ItemActivity.bytStatus=2 AND ", " OR lngActivityTypeID=28 AND blnSameGroup=0",
        " AND lngPositionGroupID=2"}}};
  fixture::AccountSet set;
  for (const auto& [build, newer, droppedIn810] : cases) {
    for (const std::string version : {"9.00", "8.2", "10.0", ""}) {
      EXPECT_EQ(build(version), newer) << "version '" << version << "'";
      // The pair check runs only above "8.10" compared as text.
      EXPECT_EQ(ReceiptChecks(version).size(), version == "9.00" || version == "8.2" ? 5u : 4u);
    }
    EXPECT_EQ(build("8.10"), Without(newer, droppedIn810));
    EXPECT_NO_THROW(set.db().OpenResultset(build("8.10"), 3, 3));
    EXPECT_NO_THROW(set.db().OpenResultset(newer, 3, 3));
  }
  // The transfer caption shows before whichever transfer check runs first.
  EXPECT_EQ(ReceiptChecks("8.10").size(), 4u);
  EXPECT_EQ(ReceiptChecks("8.10")[0].notesCaption, "正在检查转仓单数据....");
  // Regression: a null group key reads IS NULL; "lngPositionGroupID=" alone stops the update.
  EXPECT_NE(AbsorbingLineSql("9.00", {2025, 3, 15, db::Value{}})
                .find(" AND lngPositionGroupID IS NULL ORDER BY"),
            std::string::npos);
}

TEST(ReceiptStatements, WriteBackByKindAndNumbersThatReadBackExactly) {
  EXPECT_EQ(WriteBackSql("入库单", "X", "12.5"),
            "UPDATE ItemActivityDetail SET dblAmount=dblcostAmount,dblAvgCostAmount=dblCostAmount "
            "WHERE X");
  EXPECT_EQ(WriteBackSql("出库单", "X", "1"), WriteBackSql("入库单", "X", "2"));
  EXPECT_EQ(WriteBackSql("计划价", "X", "1"),
            "UPDATE ItemActivityDetail SET dblAvgCostAmount=dblCostAmount WHERE X");
  EXPECT_EQ(WriteBackSql("", "X", "1"), std::nullopt);
  // The sign stays right after the "+", and the shortest text that reads back is written.
  EXPECT_TRUE(AverageCostUpdateSql(-0.5, "4").ends_with("+-0.5 WHERE lngActivityDetailID=4"));
  EXPECT_TRUE(AverageCostUpdateSql(0.1 + 0.2, "4")
                  .ends_with("+0.30000000000000004 WHERE lngActivityDetailID=4"));
}

}  // namespace
}  // namespace tallyvet::receipt_audit
