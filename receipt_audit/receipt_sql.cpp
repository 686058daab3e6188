#include "receipt_audit/receipt_sql.h"

#include <charconv>
#include <cmath>
#include <system_error>

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

// Adds one unit in the last place of a string of decimal digits; true when it carried out of the
// first digit (the caller then puts a "1" in front).
bool IncrementDigits(std::string& digits) {
  for (auto it = digits.rbegin(); it != digits.rend(); ++it) {
    if (*it == '.') continue;
    if (*it != '9') {
      ++*it;
      return false;
    }
    *it = '0';
  }
  return true;
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
  if (RunsTransferPairCheck(version)) {
    checks.push_back(
        {kTransferKind, TransferPairCheckSql(version), "dblAvgCostAmount", transferNotes});
    transferNotes = {};
  }
  checks.push_back(
      {kTransferKind, TransferOutCheckSql(version), "dblAvgCostAmount", transferNotes});
  checks.push_back({kInboundKind, InboundCheckSql(version), "dblAvgCostAmount", kInboundNotes});
  checks.push_back({kOutboundKind, OutboundCheckSql(version), "dblAmount", kOutboundNotes});
  checks.push_back({kPlannedPriceKind, PlannedPriceCheckSql(version), "dblAvgCostAmount", {}});
  return checks;
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
  std::string sql;
  if (!IsOldVersion(version)) {
    sql = "SELECT /*+ CHOOSE */ intYear,bytPeriod,lngItemID,lngPositionGroupID,";
    sql += "Sum(dblCostAmount) As dblSumCost, ";
    sql += "Sum(dblAvgCostAmount) As dblSumAvgCost ";
    sql += "From ItemActivity, ItemActivityDetail,Position ";
    sql += "Where ItemActivity.lngActivityID = ItemActivityDetail.lngActivityID ";
    sql += "AND ItemActivityDetail.lngPositionID=Position.lngPositionID ";
    sql += "AND blnIsVoid=0 AND ItemActivity.bytStatus=2 AND dblPlanPrice=0 ";
    sql += "AND (lngActivityTypeID IN(11,13,16,15,19,22,21,31,33) OR lngActivityTypeID=28 ";
    sql += "AND blnSameGroup=0";
    sql += ") ";
    sql += "GROUP BY intYear,bytPeriod,lngItemID,lngPositionGroupID ";
    sql += "HAVING Sum(dblCostAmount)<>Sum(dblAvgCostAmount)";
  } else {
    sql = "SELECT /*+ CHOOSE */ intYear,bytPeriod,lngItemID,";
    sql += "Sum(dblCostAmount) As dblSumCost, ";
    sql += "Sum(dblAvgCostAmount) As dblSumAvgCost ";
    sql += "From ItemActivity, ItemActivityDetail,Position ";
    sql += "Where ItemActivity.lngActivityID = ItemActivityDetail.lngActivityID ";
    sql += "AND ItemActivityDetail.lngPositionID=Position.lngPositionID ";
    sql += "AND blnIsVoid=0 AND dblPlanPrice=0 ";
    sql += "AND (lngActivityTypeID IN(11,13,16,15,19,22,21,31,33)) ";
    sql += "GROUP BY intYear,bytPeriod,lngItemID ";
    sql += "HAVING Sum(dblCostAmount)<>Sum(dblAvgCostAmount)";
  }
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

double RoundDecimal(double value, int places) {
  if (!std::isfinite(value) || places < 0) return value;
  char buf[512];
  const auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed);
  if (res.ec != std::errc{}) return value;
  std::string text(buf, res.ptr);
  std::string sign;
  if (!text.empty() && text.front() == '-') {
    sign = "-";
    text.erase(0, 1);
  }
  const auto point = text.find('.');
  if (point == std::string::npos) return value;
  const std::size_t decimals = text.size() - point - 1;
  if (decimals <= static_cast<std::size_t>(places)) return value;

  const std::size_t cut = point + 1 + static_cast<std::size_t>(places);
  const char first = text[cut];
  const bool restNonZero = text.find_first_not_of('0', cut + 1) != std::string::npos;
  std::string kept = text.substr(0, places == 0 ? point : cut);
  const char lastKept = kept.back();
  const bool lastOdd = ((lastKept - '0') % 2) == 1;
  if (first > '5' || (first == '5' && (restNonZero || lastOdd))) {
    if (IncrementDigits(kept)) kept.insert(kept.begin(), '1');
  }
  kept.insert(0, sign);
  double result = 0;
  std::from_chars(kept.data(), kept.data() + kept.size(), result);
  return result;
}

std::string NumberText(double value) {
  return db::FormatDouble(value);
}

}  // namespace tallyvet::receipt_audit
