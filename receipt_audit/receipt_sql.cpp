#include "receipt_audit/receipt_sql.h"

namespace tallyvet::receipt_audit {

namespace {

// The transfer stage's caption and the other two captions RunChecks shows.
constexpr std::string_view kTransferNotes = "正在检查转仓单数据....";
constexpr std::string_view kInboundNotes = "正在检查入库单数据....";
constexpr std::string_view kOutboundNotes = "正在检查出库单数据....";

// Appends `piece` only outside "8.10".
void AppendOutsideOld(std::string& sql, std::string_view version, std::string_view piece) {
  if (!IsOldVersion(version)) sql += piece;
}

// " AND <column>=<value>", or " AND <column> IS NULL" for a null group key.
std::string KeyTerm(std::string_view column, const db::Value& value) {
  std::string term = " AND ";
  term += column;
  if (value.IsNull()) {
    term += " IS NULL";
  } else {
    term += '=';
    term += value.AsText();
  }
  return term;
}

}  // namespace

bool IsOldVersion(std::string_view version) {
  return version == kOldVersion;
}

bool RunsTransferPairCheck(std::string_view version) {
  return version > kOldVersion;
}

std::string TransferPairCheckSql(std::string_view version) {
  std::string sql =
      "SELECT  /*+ CHOOSE */  AdjInD.lngActivityDetailID,AdjOutH.strDate,AdjOutH.lngReceiptTypeID,"
      "AdjOutH.strReceiptNo || AdjOutH.lngReceiptNo As ReceiptNo,AdjOutD.lngItemID,"
      "AdjOutD.lngPositionID,AdjOutD.dblAvgCostAmount As dblCostAmount,"
      "AdjInD.dblAmount+AdjInD.dblCostAmount as dblAvgCostAmount ";
  sql += "FROM ItemActivityDetail AdjInD,ItemActivity AdjInH,";
  sql += "ItemActivityDetail AdjOutD,ItemActivity AdjOutH ";
  sql += "WHERE AdjInD.lngActivityID=AdjInH.lngActivityID ";
  sql += "AND AdjOutH.lngOrderActivityID=AdjInH.lngActivityID ";
  sql += "AND AdjOutD.lngActivityID=AdjOutH.lngActivityID ";
  sql += "AND AdjInD.lngRowID=AdjOutD.lngRowID ";
  sql += "AND AdjInH.lngActivityTypeID=27 AND AdjOutH.lngActivityTypeID=28 ";
  AppendOutsideOld(sql, version, "AND AdjInH.blnSameGroup=1 ");
  sql +=
      "AND (AdjInD.dblAvgCostAmount<>AdjOutD.dblAvgCostAmount OR AdjInD.dblAmount<>0 OR "
      "AdjInD.dblCostAmount<>0 ";
  AppendOutsideOld(sql, version, "OR AdjInD.blnIsManual=1");
  sql += ")";
  return sql;
}

std::string TransferOutCheckSql(std::string_view version) {
  std::string sql =
      "SELECT  /*+ CHOOSE */  AdjOutD.lngActivityDetailID,AdjOutH.strDate,"
      "AdjOutH.lngReceiptTypeID,AdjOutH.strReceiptNo || AdjOutH.lngReceiptNo As ReceiptNo,"
      "AdjOutD.lngItemID,AdjOutD.lngPositionID,AdjOutD.dblAvgCostAmount As dblCostAmount,"
      "AdjOutD.dblAmount+AdjOutD.dblCostAmount as dblAvgCostAmount ";
  sql += "FROM ItemActivityDetail AdjOutD,ItemActivity AdjOutH ";
  sql += "WHERE AdjOutD.lngActivityID=AdjOutH.lngActivityID ";
  // Outside 8.10 only issuing lines of same-group transfers carry no amounts of their own;
  // cross-group issuing lines are valued like outbound lines and belong to the outbound check.
  sql += IsOldVersion(version) ? "AND AdjOutH.lngActivityTypeID=28 "
                               : "AND AdjOutH.lngActivityTypeID=28 AND AdjOutH.blnSameGroup=1 ";
  sql += " AND (AdjOutD.dblAmount<>0 OR AdjOutD.dblCostAmount<>0 ";
  AppendOutsideOld(sql, version, "OR AdjOutD.blnIsManual=1");
  sql += ")";
  return sql;
}

std::string InboundCheckSql(std::string_view version) {
  std::string sql =
      "SELECT lngActivityDetailID,strDate,lngReceiptTypeID,strReceiptNo || lngReceiptNo As "
      "ReceiptNo,lngItemID,lngPositionID,dblCostAmount,(dblAvgCostAmount+dblAmount)/2 As "
      "dblAvgCostAmount ";
  sql += "FROM ItemActivityDetail,ItemActivity ";
  sql += "WHERE ItemActivityDetail.lngActivityID=ItemActivity.lngActivityID AND (";
  AppendOutsideOld(sql, version, "lngActivityTypeID=27 AND blnSameGroup=0 OR ");
  sql += "lngActivityTypeID IN (1,3,5,32,9,8,10,30,41)) ";
  sql += "AND (dblCostAmount<>dblAvgCostAmount OR dblAmount<>dblCostAmount) AND dblPlanPrice=0 ";
  return sql;
}

std::string OutboundCheckSql(std::string_view version) {
  std::string sql =
      "SELECT lngActivityDetailID,strDate,lngReceiptTypeID,strReceiptNo || lngReceiptNo As "
      "ReceiptNo,lngItemID,lngPositionID,dblCostAmount,dblAmount ";
  sql += "FROM ItemActivityDetail,ItemActivity ";
  sql += "WHERE ItemActivityDetail.lngActivityID=ItemActivity.lngActivityID AND (";
  AppendOutsideOld(sql, version, "lngActivityTypeID=28 AND blnSameGroup=0 OR ");
  sql += "lngActivityTypeID IN (15,19,22,21,31,33)) ";
  sql += "AND (dblAmount<>dblCostAmount) AND dblPlanPrice=0 ";
  return sql;
}

std::string PlannedPriceCheckSql(std::string_view version) {
  std::string sql =
      "SELECT /*+ CHOOSE */ lngActivityDetailID,strDate,lngReceiptTypeID,strReceiptNo || "
      "lngReceiptNo As ReceiptNo,lngItemID,lngPositionID,dblCostAmount,dblAvgCostAmount ";
  sql += "FROM ItemActivityDetail,ItemActivity ";
  sql += "WHERE ItemActivityDetail.lngActivityID=ItemActivity.lngActivityID AND (";
  AppendOutsideOld(sql, version, "lngActivityTypeID IN (27,28) AND blnSameGroup=0 OR ");
  sql += "lngActivityTypeID IN (1,3,5,32,9,8,10,30,15,19,22,21,31,33,41)) ";
  sql += "AND (dblAvgCostAmount<>dblCostAmount) ";
  sql += "AND dblPlanPrice>0";
  return sql;
}

std::vector<ReceiptCheck> ReceiptChecks(std::string_view version) {
  std::vector<ReceiptCheck> checks;
  std::string_view transferNotes = kTransferNotes;
  constexpr std::string_view kAmountAndCost = "NVL(dblAmount,0)+NVL(dblCostAmount,0)";
  if (RunsTransferPairCheck(version)) {
    // The first amount is the issuing line's average cost, not the flagged receiving line's.
    checks.push_back({kTransferKind,
                      TransferPairCheckSql(version),
                      "dblAvgCostAmount",
                      transferNotes,
                      {},
                      kAmountAndCost});
    transferNotes = {};
  }
  checks.push_back({kTransferKind, TransferOutCheckSql(version), "dblAvgCostAmount", transferNotes,
                    "dblAvgCostAmount", kAmountAndCost});
  checks.push_back({kInboundKind, InboundCheckSql(version), "dblAvgCostAmount", kInboundNotes,
                    "dblCostAmount", "(NVL(dblAvgCostAmount,0)+NVL(dblAmount,0))/2"});
  checks.push_back({kOutboundKind, OutboundCheckSql(version), "dblAmount", kOutboundNotes,
                    "dblCostAmount", "dblAmount"});
  checks.push_back({kPlannedPriceKind,
                    PlannedPriceCheckSql(version),
                    "dblAvgCostAmount",
                    {},
                    "dblCostAmount",
                    "dblAvgCostAmount"});
  return checks;
}

std::string LineStillHolds(std::string_view costColumns, double cost,
                           std::string_view secondColumns, double second) {
  std::string sql;
  for (const auto& [columns, seen] :
       {std::pair{costColumns, cost}, std::pair{secondColumns, second}}) {
    if (columns.empty()) continue;
    sql.append(" AND ABS((")
        .append(columns.find('(') == std::string_view::npos &&
                        columns.find('+') == std::string_view::npos
                    ? "NVL(" + std::string(columns) + ",0)"
                    : std::string(columns));
    sql.append(")-(").append(NumberText(seen)).append("))<").append(kLineTolerance);
  }
  return sql;
}

std::optional<std::string> WriteBackSql(std::string_view kind, std::string_view condition,
                                        std::string_view costAmountText) {
  std::string sql;
  if (kind == kInboundKind || kind == kOutboundKind) {
    sql =
        "UPDATE ItemActivityDetail SET dblAmount=dblcostAmount,dblAvgCostAmount=dblCostAmount "
        "WHERE ";
  } else if (kind == kTransferKind) {
    sql = "UPDATE ItemActivityDetail SET dblCostAmount=0,dblAmount=0,dblAvgCostAmount=";
    sql += costAmountText;
    sql += " WHERE ";
  } else if (kind == kPlannedPriceKind) {
    sql = "UPDATE ItemActivityDetail SET dblAvgCostAmount=dblCostAmount WHERE ";
  } else {
    return std::nullopt;
  }
  sql += condition;
  return sql;
}

std::string AverageCostGroupSql(std::string_view version) {
  std::string sql = "SELECT /*+ CHOOSE */ intYear,bytPeriod,lngItemID,";
  AppendOutsideOld(sql, version, "lngPositionGroupID,");
  sql += "Sum(dblCostAmount) As dblSumCost, ";
  sql += "Sum(dblAvgCostAmount) As dblSumAvgCost ";
  sql += "From ItemActivity, ItemActivityDetail,Position ";
  sql += "Where ItemActivity.lngActivityID = ItemActivityDetail.lngActivityID ";
  sql += "AND ItemActivityDetail.lngPositionID=Position.lngPositionID ";
  sql += "AND blnIsVoid=0 ";
  AppendOutsideOld(sql, version, "AND ItemActivity.bytStatus=2 ");
  sql += "AND dblPlanPrice=0 ";
  sql += "AND (lngActivityTypeID IN(11,13,16,15,19,22,21,31,33)";
  AppendOutsideOld(sql, version, " OR lngActivityTypeID=28 AND blnSameGroup=0");
  sql += ") ";
  sql += "GROUP BY intYear,bytPeriod,lngItemID";
  AppendOutsideOld(sql, version, ",lngPositionGroupID");
  sql += " HAVING Sum(dblCostAmount)<>Sum(dblAvgCostAmount)";
  return sql;
}

std::string AbsorbingLineSql(std::string_view version, const CostGroup& group) {
  std::string sql = "SELECT /*+ First Rows */ strDate,lngActivityDetailID ";
  sql += "FROM ItemActivityDetail,ItemActivity,Position ";
  sql += "Where ItemActivity.lngActivityID = ItemActivityDetail.lngActivityID ";
  sql += "AND ItemActivityDetail.lngPositionID=Position.lngPositionID ";
  if (!IsOldVersion(version)) {
    sql +=
        "AND blnIsVoid=0 AND ItemActivity.bytStatus=2 AND (lngActivityTypeID "
        "IN(11,13,16,15,19,22,21,31,33) OR lngActivityTypeID=28 AND blnSameGroup=0) ";
  } else {
    sql += "AND blnIsVoid=0 AND (lngActivityTypeID IN(11,13,16,15,19,22,21,31,33)) ";
  }
  // The first key term opens with "AND " right after the blank that ends the piece before it.
  sql += KeyTerm("intYear", group.intYear).substr(1);
  sql += KeyTerm("bytPeriod", group.bytPeriod);
  sql += KeyTerm("lngItemID", group.lngItemID);
  if (!IsOldVersion(version)) sql += KeyTerm("lngPositionGroupID", group.lngPositionGroupID);
  // The blank keeps the last key value and ORDER apart: "15ORDER" is not a token in every
  // dialect.
  sql += " ORDER BY strDate DESC";
  return sql;
}

std::string AverageCostUpdateSql(double difference, std::string_view lineId) {
  std::string sql = "UPDATE ItemActivityDetail SET dblAvgCostAmount=dblAvgCostAmount+";
  sql += NumberText(difference);
  sql += " WHERE lngActivityDetailID=";
  sql += lineId;
  return sql;
}

std::string NumberText(double value) {
  return db::FormatDouble(value);
}

}  // namespace tallyvet::receipt_audit
