// What the system's statements say about a sample account set, worked out in the test without
// the ledger engine: the five receipt checks and the average-cost group statement written out
// as the system sends them, the ledger SELECTs cut out of the stored source by plain text search,
// and a row merge that counts differences by the comparison's rules (rounded to cents; a row on one
// side only counts in its non-zero columns; item 3 ignores ENTRUSTIN columns, item 4 UNVOUCHER).
#pragma once

#include <algorithm>
#include <cmath>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "db/sqlite_connection.h"

namespace tallyvet::testing {

struct Finding {
  int item = 0;
  std::string keys;  // "STRDATE=2025-03-04|LNGITEMID=15|...", stored side's names
  std::string column;
  double stored = 0;
  double recomputed = 0;
};

struct CheckRow {
  std::string kind;
  long long line = 0;
  double costAmount = 0;
  double secondAmount = 0;
};

inline bool OutsideOld(const std::string& version) {
  return version != "8.10";
}

// The five receipt checks of `version`, with their kind labels, in the order they run.
inline std::vector<std::pair<std::string, std::string>> ReceiptChecks(const std::string& v) {
  std::vector<std::pair<std::string, std::string>> checks;
  const bool outside = OutsideOld(v);
  if (v > "8.10") {
    checks.emplace_back(
        "转仓单",
        std::string("SELECT  /*+ CHOOSE */  AdjInD.lngActivityDetailID,AdjOutH.strDate,"
                    "AdjOutH.lngReceiptTypeID,AdjOutH.strReceiptNo || AdjOutH.lngReceiptNo As "
                    "ReceiptNo,AdjOutD.lngItemID,AdjOutD.lngPositionID,AdjOutD.dblAvgCostAmount As "
                    "dblCostAmount,AdjInD.dblAmount+AdjInD.dblCostAmount as dblAvgCostAmount ") +
            "FROM ItemActivityDetail AdjInD,ItemActivity AdjInH," +
            "ItemActivityDetail AdjOutD,ItemActivity AdjOutH " +
            "WHERE AdjInD.lngActivityID=AdjInH.lngActivityID " +
            "AND AdjOutH.lngOrderActivityID=AdjInH.lngActivityID " +
            "AND AdjOutD.lngActivityID=AdjOutH.lngActivityID " +
            "AND AdjInD.lngRowID=AdjOutD.lngRowID " +
            "AND AdjInH.lngActivityTypeID=27 AND AdjOutH.lngActivityTypeID=28 " +
            "AND AdjInH.blnSameGroup=1 " +
            "AND (AdjInD.dblAvgCostAmount<>AdjOutD.dblAvgCostAmount OR AdjInD.dblAmount<>0 OR "
            "AdjInD.dblCostAmount<>0 " +
            "OR AdjInD.blnIsManual=1" + ")");
  }
  // Outside 8.10 the issuing-side check looks at same-group transfers only, as the receipt audit
  // runs it.
  checks.emplace_back(
      "转仓单",
      std::string("SELECT  /*+ CHOOSE */  AdjOutD.lngActivityDetailID,AdjOutH.strDate,"
                  "AdjOutH.lngReceiptTypeID,AdjOutH.strReceiptNo || AdjOutH.lngReceiptNo As "
                  "ReceiptNo,AdjOutD.lngItemID,AdjOutD.lngPositionID,AdjOutD.dblAvgCostAmount As "
                  "dblCostAmount,AdjOutD.dblAmount+AdjOutD.dblCostAmount as dblAvgCostAmount ") +
          "FROM ItemActivityDetail AdjOutD,ItemActivity AdjOutH " +
          "WHERE AdjOutD.lngActivityID=AdjOutH.lngActivityID " +
          (outside ? "AND AdjOutH.lngActivityTypeID=28 AND AdjOutH.blnSameGroup=1 "
                   : "AND AdjOutH.lngActivityTypeID=28 ") +
          " AND (AdjOutD.dblAmount<>0 OR AdjOutD.dblCostAmount<>0 " +
          (outside ? "OR AdjOutD.blnIsManual=1" : "") + ")");
  checks.emplace_back(
      "入库单",
      std::string("SELECT lngActivityDetailID,strDate,lngReceiptTypeID,strReceiptNo || "
                  "lngReceiptNo As ReceiptNo,lngItemID,lngPositionID,dblCostAmount,"
                  "(dblAvgCostAmount+dblAmount)/2 As dblAvgCostAmount ") +
          "FROM ItemActivityDetail,ItemActivity " +
          "WHERE ItemActivityDetail.lngActivityID=ItemActivity.lngActivityID AND (" +
          (outside ? "lngActivityTypeID=27 AND blnSameGroup=0 OR " : "") +
          "lngActivityTypeID IN (1,3,5,32,9,8,10,30,41)) " +
          "AND (dblCostAmount<>dblAvgCostAmount OR dblAmount<>dblCostAmount) AND dblPlanPrice=0 ");
  checks.emplace_back(
      "出库单",
      std::string("SELECT lngActivityDetailID,strDate,lngReceiptTypeID,strReceiptNo || "
                  "lngReceiptNo As ReceiptNo,lngItemID,lngPositionID,dblCostAmount,dblAmount ") +
          "FROM ItemActivityDetail,ItemActivity " +
          "WHERE ItemActivityDetail.lngActivityID=ItemActivity.lngActivityID AND (" +
          (outside ? "lngActivityTypeID=28 AND blnSameGroup=0 OR " : "") +
          "lngActivityTypeID IN (15,19,22,21,31,33)) " +
          "AND (dblAmount<>dblCostAmount) AND dblPlanPrice=0 ");
  checks.emplace_back(
      "计划价", std::string("SELECT /*+ CHOOSE */ lngActivityDetailID,strDate,lngReceiptTypeID,"
                            "strReceiptNo || lngReceiptNo As ReceiptNo,lngItemID,lngPositionID,"
                            "dblCostAmount,dblAvgCostAmount ") +
                    "FROM ItemActivityDetail,ItemActivity " +
                    "WHERE ItemActivityDetail.lngActivityID=ItemActivity.lngActivityID AND (" +
                    (outside ? "lngActivityTypeID IN (27,28) AND blnSameGroup=0 OR " : "") +
                    "lngActivityTypeID IN (1,3,5,32,9,8,10,30,15,19,22,21,31,33,41)) " +
                    "AND (dblAvgCostAmount<>dblCostAmount) " + "AND dblPlanPrice>0");
  return checks;
}

// The average-cost group statement of phase 2 of the cost adjustment.
inline std::string CostGroupStatement(const std::string& v) {
  if (!OutsideOld(v)) {
    return std::string("SELECT /*+ CHOOSE */ intYear,bytPeriod,lngItemID,") +
           "Sum(dblCostAmount) As dblSumCost, " + "Sum(dblAvgCostAmount) As dblSumAvgCost " +
           "From ItemActivity, ItemActivityDetail,Position " +
           "Where ItemActivity.lngActivityID = ItemActivityDetail.lngActivityID " +
           "AND ItemActivityDetail.lngPositionID=Position.lngPositionID " +
           "AND blnIsVoid=0 AND dblPlanPrice=0 " +
           "AND (lngActivityTypeID IN(11,13,16,15,19,22,21,31,33)) " +
           "GROUP BY intYear,bytPeriod,lngItemID " +
           "HAVING Sum(dblCostAmount)<>Sum(dblAvgCostAmount)";
  }
  return std::string("SELECT /*+ CHOOSE */ intYear,bytPeriod,lngItemID,lngPositionGroupID,") +
         "Sum(dblCostAmount) As dblSumCost, " + "Sum(dblAvgCostAmount) As dblSumAvgCost " +
         "From ItemActivity, ItemActivityDetail,Position " +
         "Where ItemActivity.lngActivityID = ItemActivityDetail.lngActivityID " +
         "AND ItemActivityDetail.lngPositionID=Position.lngPositionID " +
         "AND blnIsVoid=0 AND ItemActivity.bytStatus=2 AND dblPlanPrice=0 " +
         "AND (lngActivityTypeID IN(11,13,16,15,19,22,21,31,33) OR lngActivityTypeID=28 " +
         "AND blnSameGroup=0" + ") " + "GROUP BY intYear,bytPeriod,lngItemID,lngPositionGroupID " +
         "HAVING Sum(dblCostAmount)<>Sum(dblAvgCostAmount)";
}

inline std::vector<CheckRow> RunReceiptChecks(db::Connection& conn, const std::string& version) {
  std::vector<CheckRow> rows;
  for (const auto& [kind, sql] : ReceiptChecks(version)) {
    auto rs = conn.OpenResultset(sql, 3, 3);
    for (; !rs->Eof(); rs->MoveNext()) {
      rows.push_back({kind, rs->Fields()[0].Value().AsInteger(), rs->Fields()[6].Value().AsDouble(),
                      rs->Fields()[7].Value().AsDouble()});
    }
  }
  return rows;
}

// ---------------------------------------------------------------------------------------------
// The ledger SELECTs, cut out of the stored source by text search.

inline std::string StoredText(db::Connection& conn, const std::string& owner,
                              const std::string& name) {
  std::string text;
  auto rs = conn.OpenResultset("SELECT TEXT FROM ALL_SOURCE WHERE OWNER='" + owner +
                                   "' AND NAME='" + name + "' ORDER BY LINE",
                               3, 3);
  for (; !rs->Eof(); rs->MoveNext()) text += rs->Fields()[0].Value().AsText();
  return text;
}

inline std::string UpperText(std::string s) {
  for (char& c : s) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return s;
}

inline std::string ReplaceEvery(std::string s, const std::string& from, const std::string& to) {
  for (auto p = s.find(from); p != std::string::npos; p = s.find(from, p + to.size())) {
    s.replace(p, from.size(), to);
  }
  return s;
}

inline std::vector<std::string> Columns(const std::string& list) {
  std::vector<std::string> out;
  std::string current;
  for (char c : list + ",") {
    if (c == ',') {
      if (!current.empty()) out.push_back(current);
      current.clear();
    } else if (c != ' ' && c != '\n' && c != '\r' && c != '\t') {
      current += c;
    }
  }
  return out;
}

struct LedgerSql {
  int item = 0;
  std::string table;                // the ledger, or item 6's voucher subquery
  std::string select;               // over all dates, no ORDER BY
  std::vector<std::string> keys;    // stored side's key columns, in SELECT order
  std::vector<std::string> values;  // stored side's value columns, in SELECT order
};

// The function that follows `header` in `source`: its INSERT column list and the SELECT that
// feeds it (the first SELECT after the list that sums at least three columns).
inline LedgerSql CutFunction(const std::string& stored, const std::string& header, int item,
                             const std::string& table) {
  const std::string source = "\n" + stored;
  const auto start = source.find("\n" + header + "\n");
  if (start == std::string::npos) throw std::runtime_error("no function " + header);
  const auto insert = source.find("INSERT INTO " + table, start);
  const auto open = source.find('(', insert);
  const auto close = source.find(')', open);
  std::vector<std::string> columns = Columns(UpperText(source.substr(open + 1, close - open - 1)));
  auto select = source.find("SELECT", close);
  const auto end = source.find(';', select);
  std::string sql = UpperText(source.substr(select, end - select));
  if (const auto order = sql.find("ORDER BY"); order != std::string::npos) sql.erase(order);
  sql = ReplaceEvery(sql, "P_BEGINDATE", "' '");
  sql = ReplaceEvery(sql, "P_ENDDATE", "'9999-12-31'");
  const std::size_t keyCount = Columns(sql.substr(sql.find("GROUP BY") + 8)).size();
  LedgerSql l;
  l.item = item;
  l.table = table;
  l.select = sql;
  l.keys.assign(columns.begin(), columns.begin() + static_cast<std::ptrdiff_t>(keyCount));
  l.values.assign(columns.begin() + static_cast<std::ptrdiff_t>(keyCount), columns.end());
  return l;
}

// Item 5 as the derivation builds it from item 4's keys (written out for the ten keys here).
inline LedgerSql ReceivableSql() {
  LedgerSql l;
  l.item = 5;
  l.table = "AccountDaily";
  l.keys = {"STRDATE",           "LNGACCOUNTID",
            "LNGCURRENCYID",     "LNGDEPARTMENTID",
            "LNGEMPLOYEEID",     "LNGCLASSID1",
            "LNGCLASSID2",       "LNGCUSTOMERID",
            "LNGORGANIZATIONID", "LNGSOURCEORGANIZATIONID"};
  l.values = {"DBLUNVOUCHERDEBIT", "DBLUNVOUCHERCREDIT", "DBLCURRENCYUNVOUCHERDEBIT",
              "DBLCURRENCYUNVOUCHERCREDIT"};
  l.select = UpperText(
      "SELECT STRDATE,QARAPDetail1.lngAccountID As lngAccountID,LNGCURRENCYID,"
      "DECODE(blnisDepartment,1,lngDepartmentID,0) As lngDepartmentID,"
      "DECODE(blnisEmployee,1,lngEmployeeID,0) As lngEmployeeID,"
      "DECODE(blnisClass1,1,lngClassID1,0) As lngClassID1,"
      "DECODE(blnisClass2,1,lngClassID2,0) As lngClassID2,LNGCUSTOMERID,LNGORGANIZATIONID,"
      "lngOrganizationID lngSourceOrganizationID"
      ",SUM(DECODE(QARAPDetail1.intDirection,1,1,0)*dblAmount*QARAPDetail1.intDirection) "
      "dblUnVoucherDebit"
      ",SUM(DECODE(QARAPDetail1.intDirection,1,0,1)*dblAmount*QARAPDetail1.intDirection) "
      "dblUnVoucherCredit"
      ",SUM(DECODE(QARAPDetail1.intDirection,1,1,0)*dblCurrAmount*QARAPDetail1.intDirection) "
      "dblCurrencyUnVoucherDebit"
      ",SUM(DECODE(QARAPDetail1.intDirection,1,0,1)*dblCurrAmount*QARAPDetail1.intDirection) "
      "dblCurrencyUnVoucherCredit "
      "FROM QARAPDetail1,Account WHERE QARAPDetail1.lngAccountID=Account.lngAccountID GROUP BY "
      "STRDATE,QARAPDetail1.lngAccountID,LNGCURRENCYID,DECODE(blnisDepartment,1,lngDepartmentID,0),"
      "DECODE(blnisEmployee,1,lngEmployeeID,0),DECODE(blnisClass1,1,lngClassID1,0),"
      "DECODE(blnisClass2,1,lngClassID2,0),LNGCUSTOMERID,LNGORGANIZATIONID,lngOrganizationID");
  return l;
}

// Item 6: inventory documents by voucher against the vouchers' inventory lines.
inline LedgerSql VoucherSql() {
  LedgerSql l;
  l.item = 6;
  l.keys = {"STRDATE", "LNGVOUCHERSOURCEID", "INTVOUCHERNO"};
  l.values = {"DBLAMOUNT"};
  l.table = UpperText(
      "(SELECT Voucher.lngVoucherID,voucher.strDate,lngVoucherSourceID,Voucher.strDate || "
      "strVoucherTypeName || Lpad(intVoucherNO,4,'0') As intVoucherNo ,sum(dblAmount) dblAmount "
      "FROM voucher, voucherdetail, VoucherType,account "
      "WHERE voucher.lngvoucherid = voucherdetail.lngvoucherid "
      "AND voucherdetail.lngaccountid=account.lngaccountid "
      "AND Voucher.lngVoucherTypeID=VoucherType.lngVoucherTypeID "
      "AND lngaccountnatureid=5 "
      "AND instr(straccountname,'委托')=0 AND instr(straccountname,'分期')=0 AND "
      "instr(straccountname,'代销')=0 "
      "GROUP BY Voucher.lngVoucherID,voucher.strDate,lngVoucherSourceID,Voucher.strDate || "
      "STRVOUCHERTYPENAME || LPAD(INTVOUCHERNO,4,'0')) QVoucher");
  l.select = UpperText(
      "SELECT nvl(Voucher.strDate,' '),DECODE(nvl(Voucher.lngVoucherID,0),0,DECODE("
      "lngActivityTypeID,1,9,2,9,3,9,7,9,11,12,13,12,15,12,16,12,11),lngVoucherSourceID),"
      "nvl(Voucher.strDate || strVoucherTypeName || Lpad(intVoucherNO,4,'0'),' '),"
      "Sum((dblCostAmount+dblexpenseamount)*DECODE(lngReceiptTypeID,30,2,31,2,1)) dblAmount "
      "FROM itemactivity, itemActivityDetail,Voucher,VoucherType,Item,ItemNature "
      "Where itemactivity.lngActivityid = itemActivityDetail.lngActivityid "
      "AND itemActivity.lngVoucherID1=Voucher.lngVoucherID(+) "
      "AND ItemActivityDetail.lngItemID=Item.lngItemID "
      "AND Item.lngItemNatureID=ItemNature.lngItemNatureID AND strItemCategory='1' "
      "AND Voucher.lngVoucherTypeId=VoucherType.lngVoucherTypeID(+) "
      "AND lngactivitytypeid NOT IN (7,18,4) "
      "GROUP BY Voucher.strDate,DECODE(nvl(Voucher.lngVoucherID,0),0,DECODE(lngActivityTypeID,"
      "1,9,2,9,3,9,7,9,11,12,13,12,15,12,16,12,11),lngVoucherSourceID),Voucher.strDate || "
      "strVoucherTypeName || Lpad(intVoucherNO,4,'0')");
  return l;
}

inline std::vector<LedgerSql> AllLedgerSql(db::Connection& conn, const std::string& owner) {
  const std::string goods = StoredText(conn, owner, "MDLITEM");
  const std::string general = StoredText(conn, owner, "CHANGEALLACCOUNT_FROM_VOUCHER");
  std::vector<LedgerSql> all;
  all.push_back(CutFunction(goods, "Function ChangeItemDaily2_New", 1, "ItemDaily2"));
  all[0].select = ReplaceEvery(all[0].select, ",POSITION.LNGPOSITIONGROUPID,",
                               ",NVL(POSITION.LNGPOSITIONGROUPID,0),");
  all.push_back(CutFunction(goods, "Function ChangePositionDaily_New", 2, "PositionDaily"));
  all.push_back(CutFunction(goods, "Function ChangeItemDaily1_New", 3, "ItemDaily1"));
  all.push_back(CutFunction(general, "FUNCTION ChangeAllAccount_From_Voucher", 4, "AccountDaily"));
  all.push_back(ReceivableSql());
  all.push_back(VoucherSql());
  return all;
}

// ---------------------------------------------------------------------------------------------
// The merge.

inline bool Counts(int item, const std::string& column) {
  if (item == 3) return column.find("ENTRUSTIN") == std::string::npos;
  if (item == 4) return column.find("UNVOUCHER") == std::string::npos;
  return true;
}

inline double Cents2(double v) {
  return std::nearbyint(v * 100.0) / 100.0;
}

struct SideRow {
  std::vector<db::Value> values;
};

// Rows of `sql` by key text; the first `keys.size()` columns are the keys. Fails on a repeated key.
inline std::map<std::string, SideRow> RowsByKey(db::Connection& conn, const std::string& sql,
                                                const std::vector<std::string>& keys) {
  std::map<std::string, SideRow> rows;
  auto rs = conn.OpenResultset(sql, 3, 3);
  for (; !rs->Eof(); rs->MoveNext()) {
    std::string key;
    for (std::size_t k = 0; k < keys.size(); ++k) {
      key += (k ? "|" : "") + keys[k] + "=" + rs->Fields()[k].Value().AsText();
    }
    SideRow row;
    for (std::size_t c = keys.size(); c < rs->Fields().Count(); ++c) {
      row.values.push_back(rs->Fields()[c].Value());
    }
    if (!rows.emplace(key, std::move(row)).second) {
      throw std::runtime_error("two rows with the keys " + key + " in: " + sql);
    }
  }
  return rows;
}

inline std::string JoinColumns(const std::vector<std::string>& names) {
  std::string text;
  for (std::size_t i = 0; i < names.size(); ++i) text += (i ? "," : "") + names[i];
  return text;
}

// The differences between the recomputed rows of `l` over all dates and its stored rows.
inline std::vector<Finding> Differences(db::Connection& conn, const LedgerSql& l) {
  std::vector<std::string> stored = l.keys;
  stored.insert(stored.end(), l.values.begin(), l.values.end());
  const auto recomputed = RowsByKey(conn, l.select, l.keys);
  const auto ledger = RowsByKey(conn, "SELECT " + JoinColumns(stored) + " FROM " + l.table, l.keys);
  std::vector<Finding> out;
  const auto compare = [&](const std::string& key, const SideRow* rec, const SideRow* sto) {
    for (std::size_t c = 0; c < l.values.size(); ++c) {
      if (!Counts(l.item, l.values[c])) continue;
      const db::Value r = rec ? rec->values.at(c) : db::Value(0.0);
      const db::Value s = sto ? sto->values.at(c) : db::Value(0.0);
      if (r.IsNull() || s.IsNull()) continue;
      if (Cents2(r.AsDouble() - s.AsDouble()) == 0) continue;
      out.push_back({l.item, key, l.values[c], s.AsDouble(), r.AsDouble()});
    }
  };
  for (const auto& [key, row] : recomputed) {
    const auto other = ledger.find(key);
    compare(key, &row, other == ledger.end() ? nullptr : &other->second);
  }
  for (const auto& [key, row] : ledger) {
    if (!recomputed.count(key)) compare(key, nullptr, &row);
  }
  return out;
}

}  // namespace tallyvet::testing
